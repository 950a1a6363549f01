#include "platform/service_commands.h"

namespace tillwire {

const char kServiceStartCommand[] = "net start tillwire";
const char kServiceStopCommand[] = "net stop tillwire";
const char kConsoleHelpFormat[] =
    "This application is designed to be run as a Windows service.\n"
    "It cannot be run from the command line.\n"
    "\n"
    "To install as a service, run using the command line option  /install\n"
    "then start it from the Windows Services panel.\n"
    "The service name to look for is '%s'.\n"
    "You may also start the installed service from a command prompt with the command\n"
    "    sc start %s\n";

}  // namespace tillwire
