#include "platform/program_directory.h"

#include <stdlib.h>

namespace tillwire {

std::string ProgramPath() {
  char* programPath = nullptr;
  if (_get_pgmptr(&programPath) != 0 || programPath == nullptr) return std::string();
  return programPath;
}

std::string ProgramDirectory() {
  const std::string programPath = ProgramPath();
  if (programPath.empty()) return std::string();
  char drive[_MAX_DRIVE];
  char directory[_MAX_DIR];
  _splitpath(programPath.c_str(), drive, directory, nullptr, nullptr);
  return std::string(drive) + directory;
}

}  // namespace tillwire
