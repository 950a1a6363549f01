// Service events as syslog entries, which the journal keeps under the
// source's name as the syslog identifier.
#include "platform/service_events.h"

#include <mutex>
#include <syslog.h>

namespace tillwire {

namespace {

std::mutex identityMutex;
// syslog keeps a pointer to its identity: the last source's name, kept here.
std::string identity;

}  // namespace

void ReportServiceEvent(const std::string& source, ServiceEventType type,
                        const std::string& message) {
  const std::lock_guard<std::mutex> lock(identityMutex);
  if (identity != source || identity.empty()) {
    identity = source;
    openlog(identity.c_str(), LOG_PID, LOG_DAEMON);
  }
  // The entry holds both strings of a Windows event: the source, then the
  // message.
  const int priority = type == ServiceEventType::kError ? LOG_ERR : LOG_INFO;
  syslog(priority, "%s %s", source.c_str(), message.c_str());
}

}  // namespace tillwire
