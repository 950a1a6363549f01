#include "service/service_host.h"

#include "log/log_file.h"

#include <boost/thread/mutex.hpp>

#include <cstdio>
#include <utility>

namespace tillwire {

const std::string serviceName = "Tillwire";
SERVICE_STATUS_HANDLE statusHandle = nullptr;
boost::thread engineThread;
int engineResult = 0;

namespace {

// The work that ServiceMain runs; set by RunServiceDispatcher before the
// dispatcher can call ServiceMain.
ServiceWork serviceWork;

const DWORD kNoError = 0;
// Held by ServiceMain from the engine thread's start to the running report,
// which work that ends at once must not overtake.
boost::mutex startReporting;
const DWORD kStateWaitHintMs = 5000;
// LogErrorEvent's composed text, terminating zero included.
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
  const DWORD code = ServiceExitCode(engineResult);
  if (code == 0) return;
  { const boost::mutex::scoped_lock waitForRunningReport(startReporting); }
  ReportServiceStatus(statusHandle, SERVICE_STOPPED, kNoError, code, 0, 0);
  LogErrorEvent(serviceName.c_str(), text::kEngineEnded, code);
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

void StopEngine() {
  ReportServiceStatus(statusHandle, SERVICE_STOP_PENDING, kNoError, 0, 1, kStateWaitHintMs);
  LogFile::Instance().StartLine() << text::kStopRequest << std::endl;
  engineThread.interrupt();
  engineThread.join();
  // The work may have ended by itself just before: its code stands.
  ReportServiceStatus(statusHandle, SERVICE_STOPPED, kNoError, ServiceExitCode(engineResult), 0,
                      0);
  LogEvent(serviceName.c_str(), text::kServiceStopped, EVENTLOG_INFORMATION_TYPE);
}

}  // namespace

int RunServiceDispatcher(ServiceWork work) {
  serviceWork = std::move(work);
  const SERVICE_TABLE_ENTRYA table[] = {
      {const_cast<LPSTR>(serviceName.c_str()), &ServiceMain},
      {nullptr, nullptr},
  };
  engineResult = 0;
  if (StartServiceCtrlDispatcherA(table)) {
    // The dispatcher returns once the service reported stopped; the engine
    // thread may still be on its way out.
    if (engineThread.joinable()) engineThread.join();
    return static_cast<int>(ServiceExitCode(engineResult));
  }
  const DWORD error = GetLastError();
  switch (error) {
    case ERROR_INVALID_DATA:
      LogErrorEvent(serviceName.c_str(), text::kDispatcherFailed, error);
      break;
    case ERROR_SERVICE_ALREADY_RUNNING:
      LogErrorEvent(serviceName.c_str(), text::kServiceAlreadyRunning, error);
      break;
    case ERROR_FAILED_SERVICE_CONTROLLER_CONNECT:
      PrintConsoleHelp();
      break;
    default:
      LogErrorEvent(serviceName.c_str(), text::kUnknownStartError, error);
      break;
  }
  return static_cast<int>(error);
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  statusHandle = RegisterServiceCtrlHandlerA(serviceName.c_str(), &ServiceControlHandler);
  if (statusHandle == nullptr) {
    LogFile::Instance().StartLine() << text::kRegisterHandlerFailed << std::endl;
    return;
  }
  ReportServiceStatus(statusHandle, SERVICE_START_PENDING, kNoError, 0, 1, kStateWaitHintMs);
  const boost::mutex::scoped_lock reporting(startReporting);
  DWORD finalState = SERVICE_RUNNING;
  if (StartEngineThread()) {
    LogEvent(serviceName.c_str(), text::kServiceStarted, EVENTLOG_INFORMATION_TYPE);
  } else {
    LogErrorEvent(serviceName.c_str(), text::kUnableToStartService, GetLastError());
    finalState = SERVICE_STOPPED;
  }
  ReportServiceStatus(statusHandle, finalState, kNoError, 0, 0, 0);
}

void WINAPI ServiceControlHandler(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      StopEngine();
      break;
    case SERVICE_CONTROL_INTERROGATE:
      break;
    default: {
      char message[kEventTextSize];
      std::snprintf(message, sizeof message, text::kUnrecognizedControlFormat,
                    static_cast<unsigned long>(control));
      LogErrorEvent(serviceName.c_str(), message, control);
      break;
    }
  }
}

DWORD ServiceExitCode(int engineResult) { return static_cast<DWORD>(-engineResult); }

BOOL ReportServiceStatus(SERVICE_STATUS_HANDLE handle, DWORD state, DWORD win32ExitCode,
                         DWORD serviceSpecificExitCode, DWORD checkPoint, DWORD waitHint) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  status.dwWin32ExitCode =
      serviceSpecificExitCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : win32ExitCode;
  status.dwServiceSpecificExitCode = serviceSpecificExitCode;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  return SetServiceStatus(handle, &status);
}

void LogEvent(const char* source, const char* message, WORD type) {
  HANDLE eventSource = RegisterEventSourceA(nullptr, source);
  if (eventSource == nullptr) return;
  LPCSTR strings[2] = {source, message};
  ReportEventA(eventSource, type, 0, 0, nullptr, 2, 0, strings, nullptr);
  DeregisterEventSource(eventSource);
}

void LogErrorEvent(const char* source, const char* message, DWORD code) {
  // A message too long for the entry is cut, never overrun.
  char text[kEventTextSize];
  if (std::snprintf(text, sizeof text, text::kErrorEventFormat, message,
                    static_cast<unsigned long>(code)) < 0) {
    return;
  }
  LogEvent(source, text, EVENTLOG_ERROR_TYPE);
}

}  // namespace tillwire
