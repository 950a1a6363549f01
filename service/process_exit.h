// The program's one way out of a run that could not start: its lines in the
// log, on the console or both, as the failure asks, then the end of
// the process with its exit code.
#ifndef TILLWIRE_SERVICE_PROCESS_EXIT_H
#define TILLWIRE_SERVICE_PROCESS_EXIT_H

#include "outcome/start_failure.h"

namespace tillwire {

// Logs or prints the failure's lines, as it asks (StartFailure::shown), and ends
// the process with its exit code.
[[noreturn]] void EndProcess(const StartFailure& failure);

// The result of a run that started; a run that could not start ends the
// process (EndProcess) from the calling thread.
int ResultOrEndProcess(const OrStartFailure<int>& outcome);

}  // namespace tillwire

#endif
