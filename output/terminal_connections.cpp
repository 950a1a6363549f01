#include "output/terminal_connections.h"

#include "log/log_file.h"

#include <algorithm>
#include <map>
#include <string>

namespace tillwire {

TerminalConnections::TerminalConnections(const Tables& tables,
                                         boost::asio::io_context& eventQueue,
                                         RejectionQuota& rejectionLinesInAll) {
  // By key, which is the table's order.
  std::map<std::string, std::unique_ptr<TerminalConnection>> byKey;
  for (const TableStep& step : tables.walk) {
    if (step.kind == TableStep::Kind::kNote) {
      LogLine(step.text);
      continue;
    }
    const TerminalRecord& record = tables.terminalTable.at(step.text);
    byKey.emplace(step.text, std::unique_ptr<TerminalConnection>(new TerminalConnection(
                                 eventQueue, record.nvrAddress, record.nvrPort,
                                 rejectionLinesInAll)));
  }
  for (auto& entry : byKey) connections.push_back(std::move(entry.second));
}

bool TerminalConnections::AllNvrsConnected() const {
  return std::all_of(connections.begin(), connections.end(),
                     [](const std::unique_ptr<TerminalConnection>& connection) {
                       return connection->NvrConnected();
                     });
}

}  // namespace tillwire
