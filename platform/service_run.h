// Running as the system's service: the process hands its main thread to the
// service manager (Windows' service control manager, or systemd), which starts
// the service, tells it to stop, and hears how it is doing.
//
// One service a process. On Windows these are the dispatcher, the control
// handler and SetServiceStatus; on Linux the process is a notify service
// (NOTIFY_SOCKET set by systemd): its states become sd_notify messages and
// SIGTERM is the stop request.
#ifndef TILLWIRE_PLATFORM_SERVICE_RUN_H
#define TILLWIRE_PLATFORM_SERVICE_RUN_H

#include <cstdint>
#include <functional>
#include <string>

namespace tillwire {

// What the service manager calls. Each is called on a thread of the
// manager's own; none of them may be empty.
struct ServiceCalls {
  // The service's main function, once the manager has started the service
  // and its control handler is registered. It reports start pending, then
  // running (or stopped), and returns.
  std::function<void()> start;
  // Called instead of start when the control handler cannot be registered:
  // the service cannot be told to stop and so must not start.
  std::function<void()> startWithoutControls;
  // A stop or shutdown request. The service reports stop pending, ends its
  // work and reports stopped before it returns.
  std::function<void()> stop;
  // A request that the service does not know (interrogate is answered by the
  // platform), with the manager's number for it.
  std::function<void(std::uint32_t control)> unknownRequest;
};

// Why the calling thread could not be handed to the service manager.
enum class DispatchFailure {
  kNone,
  kNotStartedByServiceManager,  // started from a console (error 1063)
  kAlreadyRunning,              // the process dispatches already
  kInvalidTable,                // the manager refused the service's entry
  kOther,
};

struct DispatchOutcome {
  DispatchFailure failure;
  std::uint32_t error;  // the system's code, as the process exit status shows it; 0 for kNone
};

// Hands the calling thread to the service manager until the service has
// reported stopped, the manager calling calls meanwhile.
DispatchOutcome RunAsService(const std::string& name, const ServiceCalls& calls);

// The states a service reports.
enum class ServiceState { kStartPending, kRunning, kStopPending, kStopped };

// Reports the service's state: a non-zero serviceExitCode with kStopped is a
// failure of the service's own (the manager applies its restart rules);
// checkPoint and waitHintMs tell how long a pending state may still take.
// Requests are accepted in every state but start pending. False when the
// manager could not be told.
bool ReportServiceState(ServiceState state, std::uint32_t serviceExitCode,
                        std::uint32_t checkPoint, std::uint32_t waitHintMs);

// Whether the service manager started the process and keeps its standard
// output as the service's log (systemd's journal, for a notify service): the
// console texts for a person who started the program without options are then
// left out. Windows' service control manager keeps no output: false there.
bool ServiceManagerKeepsOutput();

// The system's code for the calling thread's last failed call (GetLastError
// on Windows, errno elsewhere), for a report of that failure.
std::uint32_t LastSystemError();

}  // namespace tillwire

#endif
