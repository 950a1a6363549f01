#include "support/terminal_tables.h"

#include <iterator>

namespace tillwire {

TerminalRecord RecordOf(const TerminalFilter& filter, const std::string& nvrPort) {
  return TerminalRecord{filter, "127.0.0.1", nvrPort};
}

TerminalTable TableOf(const std::vector<TerminalRecord>& records) {
  return TablesOf(records).terminalTable;
}

Tables TablesOf(const std::vector<TerminalRecord>& records) {
  Tables tables;
  for (const TerminalRecord& record : records) {
    const std::string key = TerminalKey(record.filter);
    if (tables.terminalTable.emplace(key, record).second) {
      tables.walk.push_back(TableStep{TableStep::Kind::kAccepted, key});
    }
  }
  return tables;
}

std::size_t IndexOf(const TerminalTable& table, const TerminalFilter& filter) {
  return static_cast<std::size_t>(std::distance(table.begin(), table.find(TerminalKey(filter))));
}

}  // namespace tillwire
