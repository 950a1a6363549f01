#include "service/process_exit.h"

#include "log/log_file.h"

#include <cstdlib>
#include <iostream>

namespace tillwire {

void EndProcess(const StartFailure& failure) {
  for (const std::string& line : failure.lines) {
    if (failure.shown != FailureShown::kConsole) LogLine(line);
    if (failure.shown != FailureShown::kLog) std::cout << line << std::endl;
  }
  std::exit(failure.exitCode);
}

int ResultOrEndProcess(const OrStartFailure<int>& outcome) {
  if (const StartFailure* failure = std::get_if<StartFailure>(&outcome)) EndProcess(*failure);
  return std::get<int>(outcome);
}

}  // namespace tillwire
