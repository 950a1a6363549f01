// What systemd is told of a service's state: the sd_notify message that
// stands for a Windows service status report.
#ifndef TILLWIRE_PLATFORM_SERVICE_NOTIFY_H
#define TILLWIRE_PLATFORM_SERVICE_NOTIFY_H

#include "platform/windows_api.h"

#include <string>

// The newline-separated assignments for status: start pending "STATUS=" and,
// for a non-zero wait hint, "EXTEND_TIMEOUT_USEC=" (systemd then waits that
// much longer before it gives up on the start); running "READY=1"; stop
// pending "STOPPING=1"; stopped "STATUS=" naming a non-zero exit code. Each
// state also says itself in "STATUS=", for systemctl status. Empty for any
// other state.
std::string NotifyMessage(const SERVICE_STATUS& status);

#endif
