#include "service/service_host.h"

#include "log/log_file.h"
#include "platform/service_commands.h"
#include "platform/service_events.h"
#include "platform/service_run.h"

#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <cstdio>
#include <utility>

namespace tillwire {

const std::string serviceName = "Tillwire";

namespace {

// The work that the service runs; set by RunServiceDispatcher before the
// service manager can start the service.
ServiceWork serviceWork;
boost::thread engineThread;
// What the work returned; read after engineThread has been joined.
int engineResult = 0;

// Held by the start from the engine thread's start to the running report,
// which work that ends at once must not overtake.
boost::mutex startReporting;
const std::uint32_t kStateWaitHintMs = 5000;
// ReportErrorEvent's composed text, terminating zero included.
const std::size_t kEventTextSize = 255;

void PrintConsoleHelp() {
  std::printf(kConsoleHelpFormat, serviceName.c_str(), serviceName.c_str());
}

// The engine thread: the work until a stop request. Work that ends by itself
// and fails reports the service stopped with its own code at once, so that
// the service manager shows a failure and applies its restart rules rather
// than showing a running service that does nothing.
void RunServiceWork() {
  engineResult = serviceWork();
  const std::uint32_t code = ServiceExitCode(engineResult);
  if (code == 0) return;
  { const boost::mutex::scoped_lock waitForRunningReport(startReporting); }
  ReportServiceState(ServiceState::kStopped, code, 0, 0);
  ReportErrorEvent(text::kEngineEnded, code);
}

// Starts the work on engineThread; false when no thread could be made.
bool StartEngineThread() {
  try {
    engineThread = boost::thread(&RunServiceWork);
  } catch (const boost::thread_resource_error&) {
    return false;
  }
  return engineThread.get_id() != boost::thread::id();
}

void StartService() {
  ReportServiceState(ServiceState::kStartPending, 0, 1, kStateWaitHintMs);
  const boost::mutex::scoped_lock reporting(startReporting);
  ServiceState finalState = ServiceState::kRunning;
  if (StartEngineThread()) {
    ReportEvent(text::kServiceStarted);
  } else {
    ReportErrorEvent(text::kUnableToStartService, LastSystemError());
    finalState = ServiceState::kStopped;
  }
  ReportServiceState(finalState, 0, 0, 0);
}

void StartWithoutControls() {
  LogLine(text::kRegisterHandlerFailed);
}

void StopEngine() {
  ReportServiceState(ServiceState::kStopPending, 0, 1, kStateWaitHintMs);
  LogLine(text::kStopRequest);
  engineThread.interrupt();
  engineThread.join();
  // The work may have ended by itself just before: its code stands.
  ReportServiceState(ServiceState::kStopped, ServiceExitCode(engineResult), 0, 0);
  ReportEvent(text::kServiceStopped);
}

void UnknownRequest(std::uint32_t control) {
  char message[kEventTextSize];
  std::snprintf(message, sizeof message, text::kUnrecognizedControlFormat,
                static_cast<unsigned long>(control));
  ReportErrorEvent(message, control);
}

// The dispatcher's failure on its channel: an error event, or the console
// help for a start from a console.
void ReportDispatchFailure(const DispatchOutcome& outcome) {
  switch (outcome.failure) {
    case DispatchFailure::kNone:
      break;
    case DispatchFailure::kInvalidTable:
      ReportErrorEvent(text::kDispatcherFailed, outcome.error);
      break;
    case DispatchFailure::kAlreadyRunning:
      ReportErrorEvent(text::kServiceAlreadyRunning, outcome.error);
      break;
    case DispatchFailure::kNotStartedByServiceManager:
      PrintConsoleHelp();
      break;
    case DispatchFailure::kOther:
      ReportErrorEvent(text::kUnknownStartError, outcome.error);
      break;
  }
}

}  // namespace

int RunServiceDispatcher(ServiceWork work) {
  serviceWork = std::move(work);
  engineResult = 0;
  const ServiceCalls calls{&StartService, &StartWithoutControls, &StopEngine, &UnknownRequest};
  const DispatchOutcome outcome = RunAsService(serviceName, calls);
  if (outcome.failure != DispatchFailure::kNone) {
    ReportDispatchFailure(outcome);
    return static_cast<int>(outcome.error);
  }
  // The dispatcher returns once the service reported stopped; the engine
  // thread may still be on its way out.
  if (engineThread.joinable()) engineThread.join();
  return static_cast<int>(ServiceExitCode(engineResult));
}

std::uint32_t ServiceExitCode(int engineResult) {
  return static_cast<std::uint32_t>(-engineResult);
}

void ReportEvent(const char* message) {
  ReportServiceEvent(serviceName, ServiceEventType::kInformation, message);
}

void ReportErrorEvent(const char* message, std::uint32_t code) {
  // A message too long for the entry is cut, never overrun.
  char text[kEventTextSize];
  if (std::snprintf(text, sizeof text, text::kErrorEventFormat, message,
                    static_cast<unsigned long>(code)) < 0) {
    return;
  }
  ReportServiceEvent(serviceName, ServiceEventType::kError, text);
}

}  // namespace tillwire
