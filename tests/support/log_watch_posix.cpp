#include "support/log_watch.h"

namespace tillwire {

const char kFileLineEnd[] = "\n";

// A parent sees the low 8 bits of the status.
int ExitStatus(int code) { return code & 0xFF; }

}  // namespace tillwire
