// A program's command line run through the system's shell (std::system), as
// the end-to-end tests run the built program.
#ifndef TILLWIRE_TESTS_SUPPORT_SYSTEM_COMMAND_H
#define TILLWIRE_TESTS_SUPPORT_SYSTEM_COMMAND_H

#include <string>

namespace tillwire {

// The text for std::system that runs command (a quoted program, its
// arguments and any output redirection) with standard input empty; where
// the system has the means, the program is ended after two minutes, so that
// a hung program cannot hang the tests.
std::string SystemCommand(const std::string& command);

// The program's exit status from what std::system returned for it; -1000
// when the program did not exit by itself (a signal).
int ExitStatusOfSystem(int systemResult);

}  // namespace tillwire

#endif
