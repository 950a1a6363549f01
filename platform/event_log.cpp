// The event log as syslog: an event source is an openlog identity.
#include "platform/windows_api.h"

#include "platform/failure.h"
#include "platform/handle_registry.h"

#include <mutex>
#include <string>
#include <syslog.h>

namespace {

struct EventSource {
  std::string name;  // syslog keeps a pointer to it while it is the identity
};

HandleRegistry<EventSource>& Sources() {
  static HandleRegistry<EventSource> sources;
  return sources;
}

// syslog has one identity per process; this is the source that holds it.
std::mutex identityMutex;
const EventSource* identity = nullptr;

// Makes source the identity; called with identityMutex held.
void UseIdentity(const EventSource& source) {
  if (identity == &source) return;
  openlog(source.name.c_str(), LOG_PID, LOG_DAEMON);
  identity = &source;
}

std::string EventText(WORD count, LPCSTR* strings) {
  std::string text;
  for (WORD i = 0; i < count; ++i) {
    if (strings[i] == nullptr) continue;
    if (!text.empty()) text += ' ';
    text += strings[i];
  }
  return text;
}

}  // namespace

HANDLE RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName) {
  if ((lpUNCServerName != nullptr && *lpUNCServerName != '\0') || lpSourceName == nullptr) {
    return FailNull(ERROR_INVALID_PARAMETER);
  }
  EventSource* source = Sources().Add(EventSource{lpSourceName});
  std::lock_guard<std::mutex> lock(identityMutex);
  UseIdentity(*source);
  return source;
}

BOOL ReportEventA(HANDLE hEventLog, WORD wType, WORD /*wCategory*/, DWORD /*dwEventID*/,
                  PSID /*lpUserSid*/, WORD wNumStrings, DWORD /*dwDataSize*/, LPCSTR* lpStrings,
                  LPVOID /*lpRawData*/) {
  std::lock_guard<std::mutex> lock(identityMutex);
  const EventSource* source = Sources().Find(hEventLog);
  if (source == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (wNumStrings > 0 && lpStrings == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  UseIdentity(*source);
  const int priority = wType == EVENTLOG_ERROR_TYPE ? LOG_ERR : LOG_INFO;
  syslog(priority, "%s", EventText(wNumStrings, lpStrings).c_str());
  return TRUE;
}

BOOL DeregisterEventSource(HANDLE hEventLog) {
  std::lock_guard<std::mutex> lock(identityMutex);
  if (identity == hEventLog) {
    closelog();
    identity = nullptr;
  }
  return Sources().Remove(hEventLog) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}
