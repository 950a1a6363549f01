#include "support/console_texts.h"

namespace tillwire {

std::string ExpectedUsage() {
  return std::string(
             "Service management options:\n"
             "  -install    to install the service.\n"
             "  -uninstall  to remove the service.\n"
             "To start or stop Tillwire after it has been installed as a service use\n") +
         kExpectedServiceCommands +
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
}

}  // namespace tillwire
