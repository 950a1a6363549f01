#include "platform/log_directory.h"

#include "platform/program_directory.h"

#include <cstdlib>

namespace tillwire {

std::string LogDirectory() {
  const char* given = std::getenv("LOGS_DIRECTORY");
  const std::string all = given == nullptr ? std::string() : given;
  // systemd separates the directories of several LogsDirectory= entries by ':'.
  const std::string first = all.substr(0, all.find(':'));
  if (first.empty() || first[0] != '/') return ProgramDirectory();
  return first.back() == '/' ? first : first + '/';
}

}  // namespace tillwire
