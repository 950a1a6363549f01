#include "platform/service_notify.h"

namespace {

std::string StoppedText(const SERVICE_STATUS& status) {
  if (status.dwWin32ExitCode == ERROR_SUCCESS) return "Stopped";
  if (status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR) {
    return "Stopped, service-specific error " + std::to_string(status.dwServiceSpecificExitCode);
  }
  return "Stopped, error " + std::to_string(status.dwWin32ExitCode);
}

}  // namespace

std::string NotifyMessage(const SERVICE_STATUS& status) {
  switch (status.dwCurrentState) {
    case SERVICE_START_PENDING:
      if (status.dwWaitHint == 0) return "STATUS=Starting";
      return "STATUS=Starting\nEXTEND_TIMEOUT_USEC=" +
             std::to_string(static_cast<unsigned long long>(status.dwWaitHint) * 1000);
    case SERVICE_RUNNING:
      return "READY=1\nSTATUS=Running";
    case SERVICE_STOP_PENDING:
      return "STOPPING=1\nSTATUS=Stopping";
    case SERVICE_STOPPED:
      return "STATUS=" + StoppedText(status);
    default:
      return std::string();
  }
}
