// The built program as a child process of the test (POSIX), so that the
// test can signal it and read its exit status: started from the program
// directory of a ProgramDirectoryFixture, its standard output in stdout.txt
// there.
#ifndef TILLWIRE_TESTS_SUPPORT_CHILD_PROCESS_H
#define TILLWIRE_TESTS_SUPPORT_CHILD_PROCESS_H

#include "support/program_run.h"

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tillwire {

// Starts the program with these arguments, its standard output in
// stdout.txt in its directory and no other descriptor of the test; inChild
// runs in the child just before the program starts (setting its environment,
// user or limits).
pid_t StartProgram(const ProgramDirectoryFixture& program,
                   const std::vector<std::string>& arguments,
                   const std::function<void()>& inChild = {});

// The exit status of a child, or -1000 when it has not ended in time or was
// ended by a signal.
int WaitForExit(pid_t child, std::chrono::milliseconds limit);

// Waits until the program has logged text; false when it did not within 10 s.
bool WaitForLogText(const ProgramDirectoryFixture& program, const std::string& text);

}  // namespace tillwire

#endif
