// The program's console texts as an installer reads them, written out once
// for every test that checks them byte for byte.
#ifndef TILLWIRE_TESTS_SUPPORT_CONSOLE_TEXTS_H
#define TILLWIRE_TESTS_SUPPORT_CONSOLE_TEXTS_H

namespace tillwire {

inline constexpr char kExpectedUsage[] =
    "Service management options:\n"
    "  -install    to install the service.\n"
    "  -uninstall  to remove the service.\n"
    "To start or stop Tillwire after it has been installed as a service use\n"
#ifdef _WIN32
    "    net start tillwire\n"
    "or\n"
    "    net stop tillwire\n"
#else
    "    systemctl start Tillwire\n"
    "or\n"
    "    systemctl stop Tillwire\n"
#endif
    "\n"
    "Command line playback of a Wireshark packet capture file is also supported:\n"
    "  -f <pcapfilename>\n"
    "\n"
    "What the mirror port carries, and which of it the terminals take:\n"
    "  -survey [<pcapfilename> | <seconds>] [-all]\n"
    "      to list the TCP and UDP conversations on the adapter of Tillwire.xml\n"
    "      (for 60 seconds unless given) or in a capture file, which terminal\n"
    "      takes each, and Terminal lines for receipts that none takes;\n"
    "      -all lists every conversation, not only the 50 with the most bytes.\n";

inline constexpr char kExpectedConsoleHelp[] =
#ifdef _WIN32
    "This application is designed to be run as a Windows service.\n"
    "It cannot be run from the command line.\n"
    "\n"
    "To install as a service, run using the command line option  /install\n"
    "then start it from the Windows Services panel.\n"
    "The service name to look for is 'Tillwire'.\n"
    "You may also start the installed service from a command prompt with the command\n"
    "    sc start Tillwire\n";
#else
    "This application is designed to be run as a systemd service.\n"
    "It cannot be run from the command line.\n"
    "\n"
    "To install as a service, run as root using the command line option  -install\n"
    "then start it with\n"
    "    systemctl start Tillwire\n"
    "Its service events are shown by\n"
    "    journalctl -t Tillwire\n";
#endif

}  // namespace tillwire

#endif
