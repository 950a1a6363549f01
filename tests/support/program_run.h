// Running a built program from a program directory of the test's own: the
// executable copied there beside the Tillwire.xml that the test writes, so
// that its log lands there too.
#ifndef TILLWIRE_TESTS_SUPPORT_PROGRAM_RUN_H
#define TILLWIRE_TESTS_SUPPORT_PROGRAM_RUN_H

#include "support/temp_directory.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace tillwire {

class ProgramDirectoryFixture {
 public:
  // Copies the executable, and the DLLs beside it, into a fresh directory.
  explicit ProgramDirectoryFixture(const std::string& executable);
  // Waits for a program still running (it is started with a time limit).
  ~ProgramDirectoryFixture();

  const std::string& Path() const { return directory.Path(); }
  const std::string& Program() const { return program; }
  void WriteConfiguration(const std::string& xml) const;

  // Starts the program with these arguments (no blanks or quotes in them),
  // standard input empty, standard output to a file.
  void Start(const std::vector<std::string>& arguments);
  // Waits for the program's end; returns its exit status, or -1000 when it
  // did not end in time.
  int Wait(std::chrono::seconds limit);

  std::string StandardOutput() const;
  // The texts of Tillwire.log's lines, without their prefix.
  std::vector<std::string> LogTexts() const;
  // Whether Tillwire.log has a line of exactly this text.
  bool Logged(const std::string& text) const;

 private:
  TempDirectory directory;
  std::string program;
  std::thread runner;
  std::atomic<bool> ended{false};
  int status = 0;
};

}  // namespace tillwire

#endif
