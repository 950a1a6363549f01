#include "fuzz/reference_matcher.h"

#include <cstdio>
#include <string>

namespace {

std::string AddressText(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(address >> 24),
                static_cast<int>((address >> 16) & 255), static_cast<int>((address >> 8) & 255),
                static_cast<int>(address & 255));
  return text;
}

bool FilterAccepts(const std::string& filter, const std::string& value) {
  return filter.empty() || filter == value;
}

}  // namespace

const Terminal* ReferenceFind(const TerminalTable& table, const PacketKey& packet) {
  const std::string src = AddressText(packet.srcAddress);
  const std::string dst = AddressText(packet.dstAddress);
  const std::string srcPort = std::to_string(packet.srcPort);
  const std::string dstPort = std::to_string(packet.dstPort);
  for (const auto& entry : table) {
    const Terminal& t = *entry.second;
    if (FilterAccepts(t.srcAddress, src) && FilterAccepts(t.dstAddress, dst) &&
        FilterAccepts(t.srcPort, srcPort) && FilterAccepts(t.dstPort, dstPort)) {
      return &t;
    }
  }
  return nullptr;
}
