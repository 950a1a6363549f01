#include "support/system_command.h"

namespace tillwire {

// cmd.exe drops the outermost quotes of its command line.
std::string SystemCommand(const std::string& command) { return "\"" + command + " < NUL\""; }

int ExitStatusOfSystem(int systemResult) { return systemResult; }

}  // namespace tillwire
