// Which terminal a packet belongs to.
//
// A terminal accepts a packet when each of its four filters is empty or
// equals the packet's printed value ("%d.%d.%d.%d" for addresses, "%d" for
// ports); among the terminals that accept it, the one with the smallest key in
// the terminal table wins. The matcher gives exactly that answer without
// printing anything per packet: each filter is read once, up front, into the
// one number whose printed form it is (a filter that is no printed form, such
// as "09100" or "10.0.0.010", can never match), and the terminals are indexed
// by the address that every matchable terminal has.
#ifndef TILLWIRE_CAPTURE_TERMINAL_MATCHER_H
#define TILLWIRE_CAPTURE_TERMINAL_MATCHER_H

#include "capture/packet_key.h"
#include "capture/printed_values.h"
#include "config/terminal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tillwire {

class TerminalMatcher {
 public:
  // Reads the table's filters; the matcher keeps nothing of the table.
  explicit TerminalMatcher(const TerminalTable& terminalTable);

  // The index in the table (TerminalTable) of the first terminal in table
  // order that accepts the packet, or none. Allocates nothing.
  std::optional<std::size_t> FindTerminal(const PacketKey& packet) const;

  // The addresses by which terminals are found (a terminal's source address,
  // or its destination address when it has no source): every packet that
  // FindTerminal assigns has one of them as its source or destination.
  std::vector<std::uint32_t> Addresses() const;

 private:
  // One terminal's filters as numbers; an absent value accepts anything.
  struct Candidate {
    std::size_t index;  // position in table order
    std::optional<std::uint32_t> dstAddress;
    std::optional<std::uint16_t> srcPort;
    std::optional<std::uint16_t> dstPort;
  };
  using Candidates = std::vector<Candidate>;

  static const Candidates* Lookup(const std::unordered_map<std::uint32_t, Candidates>& index,
                                  std::uint32_t address);
  static bool Accepts(const Candidate& candidate, const PacketKey& packet);

  // Terminals with a source address, by that address; each list in table order.
  std::unordered_map<std::uint32_t, Candidates> bySource;
  // Terminals with only a destination address, by that address.
  std::unordered_map<std::uint32_t, Candidates> byDestination;
};

}  // namespace tillwire

#endif
