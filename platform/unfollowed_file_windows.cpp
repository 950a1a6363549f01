#include "platform/unfollowed_file.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>

namespace tillwire {

namespace {

// Reads through the descriptor's handle at the given offset; the C runtime's
// own reads would translate CR LF in text mode.
bool ReadByteAt(HANDLE handle, LONGLONG offset, char& byte) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  return ReadFile(handle, &byte, 1, &read, &at) && read == 1;
}

}  // namespace

// FILE_FLAG_OPEN_REPARSE_POINT turns off reparse point processing: CreateFile
// opens the reparse point itself, and for an existing symbolic link the handle
// is the link's, not its target's ("CreateFileA", "Symbolic Link Effects on
// File Systems Functions"). The handle's attributes then tell whether the
// object opened is a reparse point (FILE_ATTRIBUTE_REPARSE_POINT in
// BY_HANDLE_FILE_INFORMATION, "GetFileInformationByHandle"), and such a handle
// is closed unused. Checking GetFileAttributes before an ordinary open instead
// would leave a moment in which a link could be planted. A directory junction
// does not open as a file at all and fails like any path that cannot be
// opened. Share modes, access and creation are those of the C runtime's
// fopen(path, "a"); reading is added for EndsWithLineEnd.
UnfollowedFile OpenUnfollowed(const std::string& path) {
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  BY_HANDLE_FILE_INFORMATION information;
  const bool known = GetFileInformationByHandle(handle, &information) != 0;
  if (!known || (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseHandle(handle);
    return {nullptr, known ? "reparse point" : nullptr};
  }
  const int descriptor =
      _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_APPEND | _O_TEXT);
  if (descriptor < 0) {
    CloseHandle(handle);
    return {};
  }
  std::FILE* stream = _fdopen(descriptor, "a");
  if (stream == nullptr) _close(descriptor);
  return {stream, nullptr};
}

bool EndsWithLineEnd(std::FILE* stream) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle, &size) || size.QuadPart == 0) return true;
  char last = '\n';
  return !ReadByteAt(handle, size.QuadPart - 1, last) || last == '\n';
}

}  // namespace tillwire
