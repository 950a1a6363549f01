#include "platform/unfollowed_file.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tillwire {

UnfollowedFile OpenUnfollowed(const std::string& path) {
  // With O_NOFOLLOW, open(2) fails with ELOOP when the last part of the path
  // is a symbolic link, dangling or not, so O_CREAT cannot create its target.
  // The mode is the one fopen gives a new file (0666 less the umask).
  const int descriptor =
      open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (descriptor < 0) {
    return {nullptr, errno == ELOOP ? "symbolic link" : nullptr};
  }
  std::FILE* stream = fdopen(descriptor, "a");
  if (stream == nullptr) close(descriptor);
  return {stream, nullptr};
}

bool EndsWithLineEnd(std::FILE* stream) {
  const int descriptor = fileno(stream);
  struct stat status;
  if (fstat(descriptor, &status) != 0 || status.st_size == 0) return true;
  char last = '\n';
  return pread(descriptor, &last, 1, status.st_size - 1) != 1 || last == '\n';
}

}  // namespace tillwire
