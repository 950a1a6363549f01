// Why a run cannot start, as a value: the functions that open what a run
// needs return it, RunEngine hands it back to the program's entry, and the
// entry (service/process_exit.h) logs its lines and ends the process with its
// exit code.
#ifndef TILLWIRE_OUTCOME_START_FAILURE_H
#define TILLWIRE_OUTCOME_START_FAILURE_H

#include <string>
#include <variant>
#include <vector>

namespace tillwire {

// Where a start failure's lines go.
enum class FailureShown {
  kLog,            // Tillwire.log
  kLogAndConsole,  // also standard output: what an installer at the console must see
  kConsole,        // standard output only: a survey's, which must not read in the log as
                   // a service run that failed
};

struct StartFailure {
  int exitCode;                    // the process exit code (outcome/exit_codes.h)
  std::vector<std::string> lines;  // the log lines that say why, in order
  FailureShown shown = FailureShown::kLog;
};

// A value, or the reason why it could not be had.
template <typename T>
using OrStartFailure = std::variant<T, StartFailure>;

struct ConfigurationFailure;

// Tillwire.xml's failure as a run's start failure: its lines, with the exit
// code of its problem.
StartFailure StartFailureOf(const ConfigurationFailure& failure);

}  // namespace tillwire

#endif
