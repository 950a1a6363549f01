// How a terminal's log lines about its NVR port begin.
#ifndef TILLWIRE_OUTPUT_TERMINAL_PORT_H
#define TILLWIRE_OUTPUT_TERMINAL_PORT_H

#include <string>

namespace tillwire {

// "Terminal port PORT": the start of the listener's lines about accepting.
std::string TerminalPortPrefix(const std::string& nvrPort);
// "Terminal port NVR:PORT": the start of the lines about the NVR's connection.
std::string TerminalPortPrefix(const std::string& nvrAddress, const std::string& nvrPort);

}  // namespace tillwire

#endif
