#include "support/terminal_tables.h"

#include <cstdio>

namespace tillwire {

TerminalRecord RecordOf(const TerminalFilter& filter, const std::string& nvrPort) {
  return TerminalRecord{filter, "127.0.0.1", nvrPort};
}

TerminalTable TableOf(const std::vector<TerminalRecord>& records,
                      const ListenerFactory& makeListener) {
  TerminalTable table;
  for (const TerminalRecord& record : records) {
    table.emplace(TerminalKey(record.filter),
                  std::unique_ptr<Terminal>(new Terminal{
                      record, makeListener ? makeListener(record) : nullptr}));
  }
  return table;
}

bool AllNvrsConnected(const TerminalTable& table) {
  for (const auto& entry : table) {
    // Sends nothing, and says whether an NVR is connected.
    TerminalConnection* connection = entry.second->nvrConnection.get();
    if (connection == nullptr || !connection->Send(reinterpret_cast<const unsigned char*>(""), 0)) {
      return false;
    }
  }
  return true;
}

std::string Ipv4Text(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 255,
                (address >> 8) & 255, address & 255);
  return text;
}

}  // namespace tillwire
