// A line of text that the service manager shows beside the service's state.
#ifndef TILLWIRE_PLATFORM_SERVICE_STATUS_TEXT_H
#define TILLWIRE_PLATFORM_SERVICE_STATUS_TEXT_H

#include <string>

namespace tillwire {

// Under systemd (a notify service), the unit's status text ("STATUS=",
// shown by systemctl status); it does nothing when the program was not
// started by systemd. Windows' service manager has no such text: there it
// does nothing.
void SetServiceStatusText(const std::string& text);

}  // namespace tillwire

#endif
