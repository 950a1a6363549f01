#include "capture/terminal_matcher.h"

namespace tillwire {

TerminalMatcher::TerminalMatcher(const TerminalTable& terminalTable) {
  std::size_t index = 0;
  for (const auto& entry : terminalTable) {
    const TerminalFilter& filter = entry.second.filter;
    const std::optional<std::uint32_t> src = ParseIpv4Text(filter.srcAddress);
    const std::optional<std::uint32_t> dst = ParseIpv4Text(filter.dstAddress);
    const std::optional<std::uint16_t> srcPort = ParsePortText(filter.srcPort);
    const std::optional<std::uint16_t> dstPort = ParsePortText(filter.dstPort);
    const std::size_t terminal = index++;
    // A filter that is set but is no printed value never accepts a packet.
    if ((!filter.srcAddress.empty() && !src) || (!filter.dstAddress.empty() && !dst) ||
        (!filter.srcPort.empty() && !srcPort) || (!filter.dstPort.empty() && !dstPort)) {
      continue;
    }
    const Candidate candidate{terminal, dst, srcPort, dstPort};
    if (src) {
      bySource[*src].push_back(candidate);
    } else if (dst) {
      byDestination[*dst].push_back(candidate);
    }
  }
}

const TerminalMatcher::Candidates* TerminalMatcher::Lookup(
    const std::unordered_map<std::uint32_t, Candidates>& index, std::uint32_t address) {
  const auto found = index.find(address);
  return found == index.end() ? nullptr : &found->second;
}

bool TerminalMatcher::Accepts(const Candidate& candidate, const PacketKey& packet) {
  return (!candidate.dstAddress || *candidate.dstAddress == packet.dstAddress) &&
         (!candidate.srcPort || *candidate.srcPort == packet.srcPort) &&
         (!candidate.dstPort || *candidate.dstPort == packet.dstPort);
}

// Walks the two candidate lists together in table order: the terminals with
// the packet's source address (their destination still to test) and those
// with only the packet's destination address.
std::optional<std::size_t> TerminalMatcher::FindTerminal(const PacketKey& packet) const {
  static const Candidates kNone;
  const Candidates* sourceList = Lookup(bySource, packet.srcAddress);
  const Candidates* destinationList = Lookup(byDestination, packet.dstAddress);
  const Candidates& bySrc = sourceList ? *sourceList : kNone;
  const Candidates& byDst = destinationList ? *destinationList : kNone;
  auto s = bySrc.begin();
  auto d = byDst.begin();
  while (s != bySrc.end() || d != byDst.end()) {
    const bool takeSource = d == byDst.end() || (s != bySrc.end() && s->index < d->index);
    const Candidate& candidate = takeSource ? *s++ : *d++;
    if (Accepts(candidate, packet)) return candidate.index;
  }
  return std::nullopt;
}

std::vector<std::uint32_t> TerminalMatcher::Addresses() const {
  std::vector<std::uint32_t> addresses;
  for (const auto* index : {&bySource, &byDestination}) {
    for (const auto& entry : *index) addresses.push_back(entry.first);
  }
  return addresses;
}

}  // namespace tillwire
