// A configured terminal, as values: which packets it takes and where its NVR
// connects.
#ifndef TILLWIRE_CONFIG_TERMINAL_H
#define TILLWIRE_CONFIG_TERMINAL_H

#include <map>
#include <string>

namespace tillwire {

// Which packets a terminal takes: texts compared byte for byte with a
// packet's printed addresses ("%d.%d.%d.%d") and ports ("%d"); an empty
// filter accepts any value.
struct TerminalFilter {
  std::string srcAddress;
  std::string dstAddress;
  std::string srcPort;
  std::string dstPort;
};

// What one accepted Terminal element of Tillwire.xml says.
struct TerminalRecord {
  TerminalFilter filter;
  std::string nvrAddress;  // the one peer address the listener admits; may be empty
  std::string nvrPort;     // the NvrPort text, never empty
};

// The table key: srcAddress ":" srcPort ":" dstAddress ":" dstPort.
std::string TerminalKey(const TerminalFilter& filter);

// The terminals by key. std::string compares as unsigned bytes, a prefix
// first; this order is the order in which packets are matched, and a
// terminal's position in it (from 0) is its index: the matcher answers with
// it, and the run keeps each terminal's NVR connection in the same order.
using TerminalTable = std::map<std::string, TerminalRecord>;

}  // namespace tillwire

#endif
