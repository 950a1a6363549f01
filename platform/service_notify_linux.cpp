#include "platform/service_notify.h"

namespace tillwire {

std::string NotifyMessage(ServiceState state, std::uint32_t serviceExitCode,
                          std::uint32_t waitHintMs) {
  switch (state) {
    case ServiceState::kStartPending:
      if (waitHintMs == 0) return "STATUS=Starting";
      return "STATUS=Starting\nEXTEND_TIMEOUT_USEC=" +
             std::to_string(static_cast<unsigned long long>(waitHintMs) * 1000);
    case ServiceState::kRunning:
      return "READY=1\nSTATUS=Running";
    case ServiceState::kStopPending:
      return "STOPPING=1\nSTATUS=Stopping";
    case ServiceState::kStopped:
      break;
  }
  if (serviceExitCode == 0) return "STATUS=Stopped";
  return "STATUS=Stopped, service-specific error " + std::to_string(serviceExitCode);
}

}  // namespace tillwire
