#include "support/system_command.h"

#include <sys/wait.h>

namespace tillwire {

std::string SystemCommand(const std::string& command) {
  return "timeout -k 5 120 " + command + " < /dev/null";
}

int ExitStatusOfSystem(int systemResult) {
  return WIFEXITED(systemResult) ? WEXITSTATUS(systemResult) : -1000;
}

}  // namespace tillwire
