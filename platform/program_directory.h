// Where Tillwire keeps its files: the directory of its own executable.
#ifndef TILLWIRE_PLATFORM_PROGRAM_DIRECTORY_H
#define TILLWIRE_PLATFORM_PROGRAM_DIRECTORY_H

#include <string>

namespace tillwire {

// The running executable's full path, whole however long it is on Linux (as
// the runtime library keeps it on Windows); empty when the system does not
// tell it.
std::string ProgramPath();

// Returns the drive and directory of the running executable's full path, with
// the trailing separator kept ("C:\\Tillwire\\" or "/opt/tillwire/"), so that a
// file name can be appended directly. Independent of the working directory.
std::string ProgramDirectory();

}  // namespace tillwire

#endif
