// Running a built program from a program directory of the test's own: the
// executable copied there beside the Tillwire.xml that the test writes, so
// that its log lands there too.
#ifndef TILLWIRE_TESTS_SUPPORT_PROGRAM_RUN_H
#define TILLWIRE_TESTS_SUPPORT_PROGRAM_RUN_H

#include "support/temp_directory.h"

#include <boost/process/child.hpp>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class ProgramDirectoryFixture {
 public:
  // Copies the executable into a fresh directory. With a launcher (such as
  // "wine"), the program is started through it.
  explicit ProgramDirectoryFixture(const std::string& executable,
                                   const std::string& launcher = std::string());

  const std::string& Path() const { return directory.Path(); }
  void WriteConfiguration(const std::string& xml) const;

  // Starts the program with these arguments, standard output to a file.
  void Start(const std::vector<std::string>& arguments);
  // Waits for the program's end; returns its exit status, or -1000 when it
  // did not end in time (it is then killed).
  int Wait(std::chrono::seconds limit);
  bool Running();

  std::string StandardOutput() const;
  // The texts of Tillwire.log's lines, without their prefix.
  std::vector<std::string> LogTexts() const;

 private:
  TempDirectory directory;
  std::string program;
  std::string launcher;
  std::unique_ptr<boost::process::child> child;
};

#endif
