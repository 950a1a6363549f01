#include "platform/service_status_text.h"

namespace tillwire {

void SetServiceStatusText(const std::string&) {}

}  // namespace tillwire
