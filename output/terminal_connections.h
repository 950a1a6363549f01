// The NVR side of a run: every terminal's TerminalConnection, kept in the
// terminal table's order, so that a terminal's index (what the matcher
// answers) finds its connection. It is the run's sink for the frame router.
#ifndef TILLWIRE_OUTPUT_TERMINAL_CONNECTIONS_H
#define TILLWIRE_OUTPUT_TERMINAL_CONNECTIONS_H

#include "config/configuration.h"
#include "output/rejection_quota.h"
#include "output/terminal_connection.h"

#include <boost/asio/io_context.hpp>

#include <cstddef>
#include <memory>
#include <vector>

namespace tillwire {

class TerminalConnections {
 public:
  // Follows the tables' walk in the file's order: logs each note, and makes
  // each accepted terminal's connection on the event queue, which logs its
  // creation and listens on the terminal's NvrPort at once. The rejection
  // lines of all terminals count against rejectionLinesInAll, which must
  // outlive them.
  TerminalConnections(const Tables& tables, boost::asio::io_context& eventQueue,
                      RejectionQuota& rejectionLinesInAll);

  // Hands a terminal's payload to its connected NVR (TerminalConnection::Send).
  void Deliver(std::size_t terminal, const unsigned char* data, int length) {
    connections[terminal]->Send(data, length);
  }

  std::size_t Size() const { return connections.size(); }
  TerminalConnection& operator[](std::size_t terminal) { return *connections[terminal]; }
  const TerminalConnection& operator[](std::size_t terminal) const {
    return *connections[terminal];
  }
  // True once every terminal has its NVR connected.
  bool AllNvrsConnected() const;

 private:
  std::vector<std::unique_ptr<TerminalConnection>> connections;
};

}  // namespace tillwire

#endif
