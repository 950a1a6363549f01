#include "platform/console_output.h"

#include <unistd.h>

namespace tillwire {

bool StandardOutputIsConsole() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace tillwire
