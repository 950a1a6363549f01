// The runtime library's program path, path splitting and case-blind
// comparison, on POSIX.
#include "platform/windows_api.h"

#include <cerrno>
#include <cstring>
#include <limits.h>
#include <strings.h>
#include <unistd.h>

namespace {

// Copies at most size - 1 bytes of [begin, end) to out and terminates it.
void CopyPart(const char* begin, const char* end, char* out, std::size_t size) {
  if (out == nullptr) return;
  std::size_t length = static_cast<std::size_t>(end - begin);
  if (length >= size) length = size - 1;
  std::memcpy(out, begin, length);
  out[length] = '\0';
}

}  // namespace

int _get_pgmptr(char** value) {
  // Read once: the executable's path does not change while the process runs.
  static char path[PATH_MAX];
  static const int error = [] {
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length < 0) return errno;
    path[length] = '\0';
    return 0;
  }();
  if (error != 0) return error;
  *value = path;
  return 0;
}

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext) {
  const char* end = path + std::strlen(path);
  const char* slash = std::strrchr(path, '/');
  const char* nameBegin = slash ? slash + 1 : path;
  const char* dot = std::strrchr(nameBegin, '.');
  const char* nameEnd = dot ? dot : end;
  CopyPart(path, path, drive, _MAX_DRIVE);
  CopyPart(path, nameBegin, dir, _MAX_DIR);
  CopyPart(nameBegin, nameEnd, fname, _MAX_FNAME);
  CopyPart(nameEnd, end, ext, _MAX_EXT);
}

int _stricmp(const char* left, const char* right) { return strcasecmp(left, right); }
