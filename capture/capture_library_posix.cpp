#include "capture/capture_library.h"

// libpcap is linked into the program.
std::optional<std::string> LoadCaptureLibrary() { return std::nullopt; }
