// What the survey makes of its conversations: a name for a well-known
// server port, and which conversations look like receipts that no terminal
// takes yet, as Terminal lines for Tillwire.xml.
#ifndef TILLWIRE_SURVEY_SURVEY_RULES_H
#define TILLWIRE_SURVEY_SURVEY_RULES_H

#include "capture/conversation_table.h"
#include "config/terminal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tillwire {

// The service an installer knows by this server port ("raw printing" for
// 9100, "LPD", "IPP", "HTTP", "DNS", ...), or an empty text.
const char* PortLabel(std::uint16_t port);

// Whether receipt printers take print jobs on this port: raw printing
// (9100 to 9102), LPD (515) and IPP (631).
bool IsPrinterPort(std::uint16_t port);

// A share of text at least this large (whole percent) is mostly text.
inline constexpr int kReceiptTextPercent = 75;

// A Terminal element to add: its filters and its NvrPort (none when there is
// no configured NvrPort to number after, or no port left after it).
struct SuggestedTerminal {
  TerminalFilter filter;
  std::optional<std::uint16_t> nvrPort;
};

// Whether a conversation looks like receipts that no terminal takes: the
// client sent at least half of its payload, which is mostly text
// (kReceiptTextPercent), to a printer port, or from an address that a
// configured terminal names as its SrcAddress (a till); and no terminal
// takes the client's packets. terminals may be null (no Tillwire.xml).
bool LooksLikeUntakenReceipts(const Conversation& conversation, const TerminalTable* terminals);

// One Terminal for each client address, server address and server port of
// the conversations that look like untaken receipts, in the order given:
// SrcAddress, DstAddress and DstPort (the client's port changes with every
// connection). Their NvrPorts follow the highest NvrPort of terminals, one
// after another, while there are ports.
std::vector<SuggestedTerminal> SuggestTerminals(const std::vector<const Conversation*>& conversations,
                                                const TerminalTable* terminals);

// The element as it is pasted into Tillwire.xml:
// <Terminal SrcAddress="a" DstAddress="b" DstPort="p" NvrPort="n"/>, with
// NvrPort="?" when the suggestion has none.
std::string TerminalElement(const SuggestedTerminal& suggestion);

}  // namespace tillwire

#endif
