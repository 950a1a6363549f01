// Where the program's log is written.
#ifndef TILLWIRE_PLATFORM_LOG_DIRECTORY_H
#define TILLWIRE_PLATFORM_LOG_DIRECTORY_H

#include <string>

namespace tillwire {

// The directory of Tillwire.log, with the trailing separator kept. On Linux,
// a service whose unit has LogsDirectory= writes it there (the first
// absolute directory of LOGS_DIRECTORY, which systemd sets to it): the
// service's user may write nothing beside the program. Everything else, and
// every run on Windows, writes it beside the program (ProgramDirectory()).
std::string LogDirectory();

}  // namespace tillwire

#endif
