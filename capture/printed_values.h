// The printed forms of addresses and ports: what the log and the reports
// show, and what a terminal's filters are compared with ("%d.%d.%d.%d" for an
// address, "%d" for a port: no leading zeros, no blanks).
#ifndef TILLWIRE_CAPTURE_PRINTED_VALUES_H
#define TILLWIRE_CAPTURE_PRINTED_VALUES_H

#include "config/terminal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tillwire {

// The number whose "%d.%d.%d.%d" text is exactly the given text, if any.
std::optional<std::uint32_t> ParseIpv4Text(const std::string& text);
// The port whose "%d" text is exactly the given text, if any.
std::optional<std::uint16_t> ParsePortText(const std::string& text);

// The "%d.%d.%d.%d" text of an address held first byte first (0xC0A80A02 is
// "192.168.10.2").
std::string Ipv4Text(std::uint32_t address);

// A terminal's filter whose text no packet's printed value can equal: a
// leading zero, a blank, a value out of range or anything else that is not
// exactly a printed form. Matching keeps comparing it as written, so the
// terminal takes nothing; the run names it so that the installer can mend it.
struct UnmatchableFilter {
  enum class Kind { kAddress, kPort };
  const char* attribute;  // as Tillwire.xml names it: "SrcAddress", "DstPort", ...
  Kind kind;
  std::string text;  // as written
};

// The filters that can never match, in the order SrcAddress, DstAddress,
// SrcPort, DstPort. An empty filter (any value) and a filter that is exactly
// the printed form of some address or port (ParseIpv4Text, ParsePortText)
// can match.
std::vector<UnmatchableFilter> NeverMatchingFilters(const TerminalFilter& filter);

}  // namespace tillwire

#endif
