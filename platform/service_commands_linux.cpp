#include "platform/service_commands.h"

namespace tillwire {

const char kServiceStartCommand[] = "systemctl start Tillwire";
const char kServiceStopCommand[] = "systemctl stop Tillwire";
const char kConsoleHelpFormat[] =
    "This application is designed to be run as a systemd service.\n"
    "It cannot be run from the command line.\n"
    "\n"
    "To install as a service, run as root using the command line option  -install\n"
    "then start it with\n"
    "    systemctl start %s\n"
    "Its service events are shown by\n"
    "    journalctl -t %s\n";

}  // namespace tillwire
