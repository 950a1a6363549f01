// What the survey makes of its conversations: a name for a well-known
// server port, what each conversation was taken for, which look like
// receipts that no terminal takes yet (as Terminal lines for Tillwire.xml),
// and the NVR's text settings for a terminal's payload.
#ifndef TILLWIRE_SURVEY_SURVEY_RULES_H
#define TILLWIRE_SURVEY_SURVEY_RULES_H

#include "capture/conversation_table.h"
#include "capture/printer_ports.h"
#include "config/terminal.h"
#include "survey/text_settings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tillwire {

// The service an installer knows by this server port ("raw printing" for
// 9100, "LPD", "IPP", "HTTP", "DNS", ...), or an empty text.
const char* PortLabel(std::uint16_t port);

// What the survey took a conversation for.
struct ConversationReading {
  // The client's payload's kind, or the server's when the client sent none
  // (serverSent). Text in lines to a well-known service other than printing
  // (HTTP, SMTP, syslog, ...) is that service's text, not receipts.
  PayloadKind kind = PayloadKind::kNone;
  bool serverSent = false;
  int textPercent = 0;  // of both directions, bytes of 0x80 and above in an encoding found
  std::optional<TextEncoding> clientEncoding;
  std::optional<TextEncoding> serverEncoding;

  // The encoding that shows the first line: the client's, else the server's.
  std::optional<TextEncoding> LineEncoding() const;
};

ConversationReading ReadConversation(const Conversation& conversation);

// A conversation and what the survey took it for.
struct Surveyed {
  const Conversation* conversation;
  ConversationReading reading;
};

// Whether a conversation looks like receipts that no terminal takes: its
// client sent at least half of its payload, and that was taken for
// receipts; no terminal takes the client's packets.
bool LooksLikeUntakenReceipts(const Surveyed& surveyed);

// A Terminal element to add: its filters, its NvrPort (none when there is
// no configured NvrPort to number after, or no port left after it), and the
// NVR's text settings for the payload it takes.
struct SuggestedTerminal {
  TerminalFilter filter;
  std::optional<std::uint16_t> nvrPort;
  TextSettings settings;
};

// One Terminal for each client address, server address and server port of
// the conversations that look like untaken receipts, in the order given:
// SrcAddress, DstAddress and DstPort (the client's port changes with every
// connection; a UDP till's too). Their NvrPorts follow the highest NvrPort of
// terminals, one after another, while there are ports.
std::vector<SuggestedTerminal> SuggestTerminals(const std::vector<Surveyed>& conversations,
                                                const TerminalTable* terminals);

// The NVR's text settings for the payload that the terminal of this index
// takes in these conversations; nothing when it takes none.
std::optional<TextSettings> SettingsOfTerminal(const std::vector<Surveyed>& conversations,
                                               std::size_t terminal);

// The element as it is pasted into Tillwire.xml:
// <Terminal SrcAddress="a" DstAddress="b" DstPort="p" NvrPort="n"/>, with
// NvrPort="?" when the suggestion has none.
std::string TerminalElement(const SuggestedTerminal& suggestion);

}  // namespace tillwire

#endif
