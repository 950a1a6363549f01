// The service's events, where the system keeps them: the Application event
// log on Windows (an event source per name, two insertion strings: the source
// and the message), the journal through syslog elsewhere (the name as the
// syslog identifier).
#ifndef TILLWIRE_PLATFORM_SERVICE_EVENTS_H
#define TILLWIRE_PLATFORM_SERVICE_EVENTS_H

#include <string>

namespace tillwire {

enum class ServiceEventType { kInformation, kError };

// Writes one event under source. Nothing happens when the system's log cannot
// be reached.
void ReportServiceEvent(const std::string& source, ServiceEventType type,
                        const std::string& message);

}  // namespace tillwire

#endif
