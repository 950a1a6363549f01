// How GetModuleFileNameA fills its buffer, shared by platform/ and the test
// fake so that both truncate alike.
#ifndef TILLWIRE_PLATFORM_MODULE_FILE_NAME_H
#define TILLWIRE_PLATFORM_MODULE_FILE_NAME_H

#include "platform/windows_api.h"

#include <string>

// Copies path and a terminator to buffer and returns the path's length. A
// buffer too small gets the first size - 1 characters and a terminator; the
// result is then size, with ERROR_INSUFFICIENT_BUFFER as the last error.
DWORD CopyModuleFileName(const std::string& path, LPSTR buffer, DWORD size);

#endif
