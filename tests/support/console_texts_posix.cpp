#include "support/console_texts.h"

namespace tillwire {

const char kExpectedServiceCommands[] =
    "    systemctl start Tillwire\n"
    "or\n"
    "    systemctl stop Tillwire\n";

const char kExpectedConsoleHelp[] =
    "This application is designed to be run as a systemd service.\n"
    "It cannot be run from the command line.\n"
    "\n"
    "To install as a service, run as root using the command line option  -install\n"
    "then start it with\n"
    "    systemctl start Tillwire\n"
    "Its service events are shown by\n"
    "    journalctl -t Tillwire\n";

}  // namespace tillwire
