// Registering Tillwire with the service manager, and removing it again.
//
// Both operations report to the console, to the event log under the service's
// name and, through the given function, to the program log; every handle they
// open is closed on every path.
#ifndef TILLWIRE_SERVICE_SERVICE_INSTALLER_H
#define TILLWIRE_SERVICE_SERVICE_INSTALLER_H

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

// Registers the running executable as an automatically started service of
// its own process, run as the local system account, with the description and
// (when the shutdown privilege can be enabled) three restarts a minute apart
// after failures. A path with blanks is registered in double quotes; a path
// of MAX_PATH characters or more fails the install. The executable also
// becomes the message file of the event source of the same name, so that the
// event log shows the entries' text. Returns 0 when installed or already
// installed, -1 on failure.
int InstallService(const char* name, const char* displayName, const char* description,
                   const char* dependencies, LogFunction log);

// Stops the service if it runs (without waiting), deletes it and removes its
// event source's registration. Returns 0 when removed or not installed, -1
// on failure.
int UninstallService(const char* name, LogFunction log);

// True when the service manager and the service both open for reading.
bool IsServiceInstalled(const char* name);

// True when "SeShutdownPrivilege" is enabled in the process token, which
// setting restart actions requires.
bool EnableShutdownPrivilege();

}  // namespace tillwire

#endif
