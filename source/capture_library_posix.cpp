#include "source/capture_library.h"

namespace tillwire {

// libpcap is linked into the program.
std::optional<std::string> LoadCaptureLibrary() { return std::nullopt; }

}  // namespace tillwire
