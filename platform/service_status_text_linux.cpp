#include "platform/service_status_text.h"

#include <systemd/sd-daemon.h>

namespace tillwire {

void SetServiceStatusText(const std::string& text) {
  sd_notify(0, ("STATUS=" + text).c_str());
}

}  // namespace tillwire
