#include "platform/program_directory.h"

#include "platform/windows_api.h"

namespace tillwire {

std::string ProgramDirectory() {
  char* programPath = nullptr;
  if (_get_pgmptr(&programPath) != 0 || programPath == nullptr) return std::string();
  char drive[_MAX_DRIVE];
  char directory[_MAX_DIR];
  _splitpath(programPath, drive, directory, nullptr, nullptr);
  return std::string(drive) + directory;
}

}  // namespace tillwire
