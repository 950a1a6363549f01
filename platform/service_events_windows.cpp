#include "platform/service_events.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tillwire {

void ReportServiceEvent(const std::string& source, ServiceEventType type,
                        const std::string& message) {
  HANDLE eventSource = RegisterEventSourceA(nullptr, source.c_str());
  if (eventSource == nullptr) return;
  LPCSTR strings[2] = {source.c_str(), message.c_str()};
  const WORD windowsType =
      type == ServiceEventType::kError ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE;
  ReportEventA(eventSource, windowsType, 0, 0, nullptr, 2, 0, strings, nullptr);
  DeregisterEventSource(eventSource);
}

}  // namespace tillwire
