#include "outcome/start_failure.h"

#include "config/configuration.h"
#include "outcome/exit_codes.h"

namespace tillwire {

StartFailure StartFailureOf(const ConfigurationFailure& failure) {
  const int code = failure.problem == ConfigurationFailure::Problem::kNoRootElement
                       ? kExitNoRootElement
                       : kExitConfigurationNotLoaded;
  return StartFailure{code, failure.lines};
}

}  // namespace tillwire
