#include "platform/program_directory.h"

#include <unistd.h>

#include <vector>

namespace tillwire {

std::string ProgramPath() {
  // Read once: the executable's path does not change while the process runs.
  static const std::string path = [] {
    std::vector<char> buffer(4096);
    for (;;) {
      const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
      if (length < 0) return std::string();
      if (static_cast<std::size_t>(length) < buffer.size()) return std::string(buffer.data(), length);
      buffer.resize(buffer.size() * 2);
    }
  }();
  return path;
}

std::string ProgramDirectory() {
  const std::string path = ProgramPath();
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace tillwire
