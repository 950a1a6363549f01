// Telling systemd about unit changes, through the systemctl program.
#ifndef TILLWIRE_PLATFORM_SYSTEMCTL_H
#define TILLWIRE_PLATFORM_SYSTEMCTL_H

#include <string>
#include <vector>

namespace tillwire {

// True while systemd runs the machine (its run directory exists).
bool SystemdIsRunning();

// Runs systemctl with the arguments, its output going where the process's
// goes; true when it exits with status 0.
bool Systemctl(const std::vector<std::string>& arguments);

}  // namespace tillwire

#endif
