#include "platform/console_output.h"

#include <cstdio>
#include <io.h>

namespace tillwire {

bool StandardOutputIsConsole() { return _isatty(_fileno(stdout)) != 0; }

}  // namespace tillwire
