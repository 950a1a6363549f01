// Tillwire under a service manager: what the service does when the manager
// starts it, stops it or asks what it does not know, and the service events
// that the installer writes too. The service manager itself is the
// platform's (platform/service_run.h, platform/service_events.h).
#ifndef TILLWIRE_SERVICE_SERVICE_HOST_H
#define TILLWIRE_SERVICE_SERVICE_HOST_H

#include <cstdint>
#include <functional>
#include <string>

namespace tillwire {

namespace text {
inline constexpr char kServiceStarted[] = "Service started.";
inline constexpr char kUnableToStartService[] = "Unable to start the service.";
inline constexpr char kServiceStopped[] = "Service stopped.";
inline constexpr char kUnrecognizedControlFormat[] =
    "Service handle called with unrecognized option code = %lu";
inline constexpr char kDispatcherFailed[] = "The call to the service dispatcher failed.";
inline constexpr char kServiceAlreadyRunning[] = "The service is already running.";
inline constexpr char kUnknownStartError[] = "Unknown error while starting the service.";
inline constexpr char kRegisterHandlerFailed[] =
    "ServiceMain call to RegisterServiceCtrlHandler() failed";
inline constexpr char kStopRequest[] = "Received Stop request from Service Control Manager";
inline constexpr char kErrorEventFormat[] = "%s  Error code=0x%08lx";
inline constexpr char kEngineEnded[] =
    "The service stopped: the capture engine ended by itself. See Tillwire.log.";
}  // namespace text

// What the service does while it runs, on a thread of its own: in the program,
// the engine's live capture. It must end soon after that thread is
// interrupted (boost::thread::interrupt); it may also end by itself. Returns
// the engine's result: 0 after a stop request, or the negative result of a
// run that ended by itself and failed.
using ServiceWork = std::function<int()>;

// The service's name for the service manager and its event source.
extern const std::string serviceName;

// Hands the calling thread to the service manager until the service has
// stopped, the service running work; returns 0 then (or the service-specific
// code of work that ended by itself and failed, so that the process fails
// too), or the error code of a dispatcher that could not start (1063 when
// started from a console, after printing how to install).
//
// The service reports start pending, starts work on a thread of its own,
// writes the start event and reports running. Work that ends by itself with a
// failure reports the service stopped with ServiceExitCode of its result and
// writes an error event. A stop request is logged, interrupts the work, waits
// for its end and reports stopped; an unknown request is an error event.
int RunServiceDispatcher(ServiceWork work);

// The service-specific exit code of the work's result: 0 after a stop
// request, otherwise the result's magnitude (outcome/exit_codes.h: 4 a link
// type that cannot be decoded, 5 an error, 7 no usable terminal).
std::uint32_t ServiceExitCode(int engineResult);

// Writes one information event under the service's name.
void ReportEvent(const char* message);
// An error event: message, two blanks, "Error code=0x" and code in 8 hex
// digits.
void ReportErrorEvent(const char* message, std::uint32_t code);

}  // namespace tillwire

#endif
