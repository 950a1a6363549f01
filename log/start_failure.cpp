#include "log/start_failure.h"

#include "log/log_file.h"

#include <cstdlib>
#include <iostream>

namespace tillwire {

void EndProcess(const StartFailure& failure) {
  for (const std::string& line : failure.lines) {
    LogFile::Instance().StartLine() << line << std::endl;
    if (failure.onConsoleToo) std::cout << line << std::endl;
  }
  std::exit(failure.exitCode);
}

}  // namespace tillwire
