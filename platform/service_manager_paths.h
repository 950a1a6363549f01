// Where platform/'s service manager finds systemd. Tests point it at a
// directory and a systemctl of their own; the program never changes it.
#ifndef TILLWIRE_PLATFORM_SERVICE_MANAGER_PATHS_H
#define TILLWIRE_PLATFORM_SERVICE_MANAGER_PATHS_H

#include <string>

namespace tillwire {

struct ServiceManagerPaths {
  // Where the unit files <service name>.service are written.
  std::string unitDirectory = "/etc/systemd/system";
  // The systemctl program, looked up in PATH when it has no '/'.
  std::string systemctl = "systemctl";
  // A directory that exists while systemd runs the machine (sd_booted's
  // test); without it, systemctl is not called at all.
  std::string systemdRunDirectory = "/run/systemd/system";
};

// Replaces the paths for the rest of the process, or until the next call.
// Call it before the service manager functions, not while one runs.
void SetServiceManagerPathsForTesting(const ServiceManagerPaths& paths);

// The paths in force.
const ServiceManagerPaths& CurrentServiceManagerPaths();

}  // namespace tillwire

#endif
