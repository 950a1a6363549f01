// A configured terminal: which packets it takes and where its NVR connects.
#ifndef TILLWIRE_CONFIG_TERMINAL_H
#define TILLWIRE_CONFIG_TERMINAL_H

#include "output/terminal_connection.h"

#include <boost/asio/io_service.hpp>

#include <map>
#include <memory>
#include <string>

// The runtime record of one terminal, never changed after creation. The four
// filters are texts compared byte for byte with a packet's printed addresses
// and ports; an empty filter accepts any value.
struct Terminal {
  // Creates the terminal's listener on the event queue at once.
  Terminal(boost::asio::io_service& eventQueue, const std::string& srcAddress,
           const std::string& dstAddress, const std::string& srcPort, const std::string& dstPort,
           const std::string& nvrAddress, const std::string& nvrPort);

  const std::unique_ptr<TerminalConnection> channel;
  const std::string srcAddress;
  const std::string dstAddress;
  const std::string srcPort;
  const std::string dstPort;
  const std::string nvrAddress;  // the one peer address the listener admits; may be empty
  const std::string nvrPort;
};

// The table key: srcAddress ":" srcPort ":" dstAddress ":" dstPort.
std::string TerminalKey(const std::string& srcAddress, const std::string& srcPort,
                        const std::string& dstAddress, const std::string& dstPort);

// The terminals by key. std::string compares as unsigned bytes, a prefix
// first; this order is the order in which packets are matched.
using TerminalTable = std::map<std::string, std::unique_ptr<Terminal>>;

#endif
