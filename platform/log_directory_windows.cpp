#include "platform/log_directory.h"

#include "platform/program_directory.h"

namespace tillwire {

std::string LogDirectory() { return ProgramDirectory(); }

}  // namespace tillwire
