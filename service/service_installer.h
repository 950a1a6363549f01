// Registering Tillwire with the service manager, and removing it again.
//
// Both operations report to the console, to the service's events and,
// through the given function, to the program log.
#ifndef TILLWIRE_SERVICE_SERVICE_INSTALLER_H
#define TILLWIRE_SERVICE_SERVICE_INSTALLER_H

#include "platform/service_registration.h"

#include <string>

namespace tillwire {

namespace text {
inline constexpr char kAlreadyInstalled[] = "The service is already installed";
inline constexpr char kInstallConnectFailed[] =
    "Unable to connect to service control manager during install.";
inline constexpr char kModuleFileNameFailedFormat[] =
    "GetModuleFileName() failed. Error code=0x%08lx";
inline constexpr char kCreateFailed[] = "Unable to create service during install.";
inline constexpr char kDescriptionFailed[] = "Unable to set service description during install.";
inline constexpr char kFailureActionsFailed[] =
    "Unable to set service failure actions during install.";
inline constexpr char kEventSourceFailed[] =
    "Unable to register the event message file during install.";
inline constexpr char kInstalled[] = "Installed service.";
inline constexpr char kInstalledConsole[] = "Service installed successfully";
inline constexpr char kNotInstalled[] = "The service is not installed";
inline constexpr char kUninstallConnectFailed[] =
    "Unable to connect to service control manager during uninstall.";
inline constexpr char kOpenFailed[] = "Unable to open service during uninstall.";
inline constexpr char kStoppedToUninstall[] = "Stopped the service in order to uninstall";
inline constexpr char kDeleted[] = "Deleted service.";
inline constexpr char kUninstalledConsole[] = "Service uninstalled successfully";
inline constexpr char kDeleteFailed[] = "Error deleting service during uninstall.";
inline constexpr char kEventSourceRemoveFailed[] =
    "Unable to remove the event message file during uninstall.";
}  // namespace text

// Writes one whole line of the program log (LogLine).
using LogFunction = void (*)(const char* text);

// Registers the running executable as the service (RegisterService) and
// reports each step on its channels: the console, the service's events and,
// through log, the program log. Returns 0 when installed or already
// installed, -1 on failure.
int InstallService(const ServiceDefinition& service, LogFunction log);

// Stops the service if it runs (without waiting) and deletes it
// (RemoveService), reporting each step as InstallService does. Returns 0 when
// removed or not installed, -1 on failure.
int UninstallService(const std::string& name, LogFunction log);

}  // namespace tillwire

#endif
