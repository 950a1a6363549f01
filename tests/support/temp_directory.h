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
// Copies a file's bytes and permissions to a new file; throws when it cannot.
// Unlike Boost 1.74's copy_file, it copies between file systems of different
// kinds on current Linux kernels, whose copy_file_range refuses those with
// EXDEV: from a build tree on disk to a /tmp on tmpfs, say.
void CopyWholeFile(const std::string& from, const std::string& to);

}  // namespace tillwire

#endif
