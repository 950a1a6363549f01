// A fresh directory for one test, removed with everything in it afterwards.
#ifndef TILLWIRE_TESTS_SUPPORT_TEMP_DIRECTORY_H
#define TILLWIRE_TESTS_SUPPORT_TEMP_DIRECTORY_H

#include <string>

namespace tillwire {

class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  // The directory with its trailing separator, ready for a file name.
  const std::string& Path() const { return path; }

 private:
  std::string path;
};

// The whole content of a file (binary), or empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Writes content to a file (binary), replacing it.
void WriteFile(const std::string& path, const std::string& content);

}  // namespace tillwire

#endif
