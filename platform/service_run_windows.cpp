// The service's side of Windows' service control manager: the dispatcher,
// the service's main function, its control handler and SetServiceStatus.
#include "platform/service_run.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tillwire {

namespace {

// The one service of the process, for the functions the manager calls.
std::string serviceName;
const ServiceCalls* serviceCalls = nullptr;
// Written by ServiceMain before the service can report; read by every report.
SERVICE_STATUS_HANDLE statusHandle = nullptr;

void WINAPI ControlHandler(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      serviceCalls->stop();
      break;
    case SERVICE_CONTROL_INTERROGATE:
      break;
    default:
      serviceCalls->unknownRequest(control);
      break;
  }
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  statusHandle = RegisterServiceCtrlHandlerA(serviceName.c_str(), &ControlHandler);
  if (statusHandle == nullptr) {
    serviceCalls->startWithoutControls();
    return;
  }
  serviceCalls->start();
}

DispatchFailure FailureOf(DWORD error) {
  switch (error) {
    case ERROR_INVALID_DATA:
      return DispatchFailure::kInvalidTable;
    case ERROR_SERVICE_ALREADY_RUNNING:
      return DispatchFailure::kAlreadyRunning;
    case ERROR_FAILED_SERVICE_CONTROLLER_CONNECT:
      return DispatchFailure::kNotStartedByServiceManager;
    default:
      return DispatchFailure::kOther;
  }
}

DWORD StateOf(ServiceState state) {
  switch (state) {
    case ServiceState::kStartPending:
      return SERVICE_START_PENDING;
    case ServiceState::kRunning:
      return SERVICE_RUNNING;
    case ServiceState::kStopPending:
      return SERVICE_STOP_PENDING;
    case ServiceState::kStopped:
      break;
  }
  return SERVICE_STOPPED;
}

}  // namespace

DispatchOutcome RunAsService(const std::string& name, const ServiceCalls& calls) {
  serviceName = name;
  serviceCalls = &calls;
  const SERVICE_TABLE_ENTRYA table[] = {
      {&serviceName[0], &ServiceMain},
      {nullptr, nullptr},
  };
  if (StartServiceCtrlDispatcherA(table)) return {DispatchFailure::kNone, 0};
  const DWORD error = GetLastError();
  return {FailureOf(error), error};
}

bool ReportServiceState(ServiceState state, std::uint32_t serviceExitCode,
                        std::uint32_t checkPoint, std::uint32_t waitHintMs) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = StateOf(state);
  status.dwControlsAccepted = state == ServiceState::kStartPending
                                  ? 0
                                  : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  status.dwWin32ExitCode = serviceExitCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
  status.dwServiceSpecificExitCode = serviceExitCode;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHintMs;
  return SetServiceStatus(statusHandle, &status) != FALSE;
}

bool ServiceManagerKeepsOutput() { return false; }

std::uint32_t LastSystemError() { return GetLastError(); }

}  // namespace tillwire
