#include "support/reference_matcher.h"

#include "support/terminal_tables.h"

#include <string>

namespace tillwire {

namespace {

bool FilterAccepts(const std::string& filter, const std::string& value) {
  return filter.empty() || filter == value;
}

}  // namespace

std::optional<std::size_t> ReferenceFind(const TerminalTable& table, const PacketKey& packet) {
  const std::string src = Ipv4Text(packet.srcAddress);
  const std::string dst = Ipv4Text(packet.dstAddress);
  const std::string srcPort = std::to_string(packet.srcPort);
  const std::string dstPort = std::to_string(packet.dstPort);
  std::size_t index = 0;
  for (const auto& entry : table) {
    const TerminalFilter& f = entry.second.filter;
    if (FilterAccepts(f.srcAddress, src) && FilterAccepts(f.dstAddress, dst) &&
        FilterAccepts(f.srcPort, srcPort) && FilterAccepts(f.dstPort, dstPort)) {
      return index;
    }
    ++index;
  }
  return std::nullopt;
}

}  // namespace tillwire
