// Why a run cannot start, as a value: the functions that open what a run
// needs return it instead of ending the process, and the program's thin entry
// forms turn it into the log lines and the exit code users know.
#ifndef TILLWIRE_LOG_START_FAILURE_H
#define TILLWIRE_LOG_START_FAILURE_H

#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tillwire {

struct StartFailure {
  int exitCode;                    // the process exit code
  std::vector<std::string> lines;  // the log lines that say why, in order
  bool onConsoleToo = false;       // the lines are printed on standard output as well
};

// A value, or the reason why it could not be had.
template <typename T>
using OrStartFailure = std::variant<T, StartFailure>;

// Logs the failure's lines (and prints them when it asks for that) and ends
// the process with its exit code. The program's one way out of a run.
[[noreturn]] void EndProcess(const StartFailure& failure);

// The value of result, or the end of the process with its failure.
template <typename T>
T ValueOrEndProcess(OrStartFailure<T> result) {
  if (const StartFailure* failure = std::get_if<StartFailure>(&result)) EndProcess(*failure);
  return std::move(std::get<T>(result));
}

}  // namespace tillwire

#endif
