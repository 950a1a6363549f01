#include "platform/module_file_name.h"

#include <cstring>

DWORD CopyModuleFileName(const std::string& path, LPSTR buffer, DWORD size) {
  if (path.size() < size) {
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
  }
  if (size > 0) {
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
  }
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}
