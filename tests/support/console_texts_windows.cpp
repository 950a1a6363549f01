#include "support/console_texts.h"

namespace tillwire {

const char kExpectedServiceCommands[] =
    "    net start tillwire\n"
    "or\n"
    "    net stop tillwire\n";

const char kExpectedConsoleHelp[] =
    "This application is designed to be run as a Windows service.\n"
    "It cannot be run from the command line.\n"
    "\n"
    "To install as a service, run using the command line option  /install\n"
    "then start it from the Windows Services panel.\n"
    "The service name to look for is 'Tillwire'.\n"
    "You may also start the installed service from a command prompt with the command\n"
    "    sc start Tillwire\n";

}  // namespace tillwire
