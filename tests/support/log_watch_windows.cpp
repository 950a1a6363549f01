#include "support/log_watch.h"

namespace tillwire {

// The log is written in text mode.
const char kFileLineEnd[] = "\r\n";

// A parent sees the whole 32-bit status.
int ExitStatus(int code) { return code; }

}  // namespace tillwire
