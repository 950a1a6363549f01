// Tillwire under a service manager: the dispatcher, the service's main
// function, its control handler, and the status and event-log reports that
// the installer uses too. Written once against the Windows API; off Windows
// platform/ provides that API on systemd and syslog.
#ifndef TILLWIRE_SERVICE_SERVICE_HOST_H
#define TILLWIRE_SERVICE_SERVICE_HOST_H

#include "platform/windows_api.h"

#include <boost/thread/thread.hpp>

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

// The service's name for the service manager and its event-log source.
extern const std::string serviceName;
// Written by ServiceMain before it reports running; read by the control handler.
extern SERVICE_STATUS_HANDLE statusHandle;
extern boost::thread engineThread;
// What the work returned; read after engineThread has been joined.
extern int engineResult;

// Hands the calling thread to the service manager until the service has
// stopped, the service running work; returns 0 then (or the service-specific
// code of work that ended by itself and failed, so that the process fails
// too), or the error code of a dispatcher that could not start (1063 when
// started from a console, after printing how to install).
int RunServiceDispatcher(ServiceWork work);

// The service: registers the control handler, reports start pending, runs
// the dispatcher's work on engineThread and reports running. Work that ends
// by itself with a failure reports the service stopped with ServiceExitCode of
// its result and writes an error event.
void WINAPI ServiceMain(DWORD argumentCount, LPSTR* arguments);

// Stop and shutdown interrupt the work, wait for its end and report stopped;
// interrogate is ignored; any other control is reported as an error event.
void WINAPI ServiceControlHandler(DWORD control);

// The service-specific exit code of the work's result: 0 after a stop
// request, otherwise the result's magnitude (outcome/exit_codes.h: 4 a link
// type that cannot be decoded, 5 an error, 7 no usable terminal).
DWORD ServiceExitCode(int engineResult);

// Reports a state to the service manager: own-process service, no controls
// while start is pending, stop and shutdown otherwise.
BOOL ReportServiceStatus(SERVICE_STATUS_HANDLE handle, DWORD state, DWORD win32ExitCode,
                         DWORD serviceSpecificExitCode, DWORD checkPoint, DWORD waitHint);

// Writes one event-log entry under source, with the insertion strings source
// and message. Nothing happens when the source cannot be registered.
void LogEvent(const char* source, const char* message, WORD type);
// An error entry: message, two blanks, "Error code=0x" and code in 8 hex digits.
void LogErrorEvent(const char* source, const char* message, DWORD code);

}  // namespace tillwire

#endif
