// A configured terminal: which packets it takes and where its NVR connects.
#ifndef TILLWIRE_CONFIG_TERMINAL_H
#define TILLWIRE_CONFIG_TERMINAL_H

#include "output/terminal_connection.h"

#include <functional>
#include <map>
#include <memory>
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

// The runtime record of one terminal, never changed after creation.
struct Terminal {
  const TerminalRecord record;
  // The listener for the terminal's NVR and its connection; null for a
  // terminal made without one (tests of matching need no sockets).
  const std::unique_ptr<TerminalConnection> nvrConnection;
};

// The table key: srcAddress ":" srcPort ":" dstAddress ":" dstPort.
std::string TerminalKey(const TerminalFilter& filter);

// The terminals by key. std::string compares as unsigned bytes, a prefix
// first; this order is the order in which packets are matched.
using TerminalTable = std::map<std::string, std::unique_ptr<Terminal>>;

// Makes the listener of an accepted terminal (the engine's opens its port at
// once), or null for none.
using ListenerFactory =
    std::function<std::unique_ptr<TerminalConnection>(const TerminalRecord& record)>;

}  // namespace tillwire

#endif
