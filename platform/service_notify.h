// What systemd is told of the service's state: the sd_notify message of a
// state report.
#ifndef TILLWIRE_PLATFORM_SERVICE_NOTIFY_H
#define TILLWIRE_PLATFORM_SERVICE_NOTIFY_H

#include "platform/service_run.h"

#include <cstdint>
#include <string>

namespace tillwire {

// The newline-separated assignments for a state: start pending "STATUS=" and,
// for a non-zero wait hint, "EXTEND_TIMEOUT_USEC=" (systemd then waits that
// much longer before it gives up on the start); running "READY=1"; stop
// pending "STOPPING=1"; stopped "STATUS=" naming a non-zero exit code. Each
// state also says itself in "STATUS=", for systemctl status.
std::string NotifyMessage(ServiceState state, std::uint32_t serviceExitCode,
                          std::uint32_t waitHintMs);

}  // namespace tillwire

#endif
