#include "survey/survey_rules.h"

#include "capture/terminal_matcher.h"

#include <algorithm>
#include <set>

namespace tillwire {

namespace {

struct KnownPort {
  std::uint16_t port;
  const char* label;
};

// The services an installer meets on a shop's network, by server port.
constexpr KnownPort kKnownPorts[] = {
    {21, "FTP"},      {22, "SSH"},          {23, "Telnet"},       {25, "SMTP"},
    {53, "DNS"},      {67, "DHCP"},         {68, "DHCP"},         {80, "HTTP"},
    {123, "NTP"},     {137, "NetBIOS"},     {138, "NetBIOS"},     {139, "NetBIOS"},
    {161, "SNMP"},    {443, "HTTPS"},       {445, "SMB"},         {515, "LPD"},
    {631, "IPP"},     {1433, "SQL Server"}, {1900, "SSDP"},       {3306, "MySQL"},
    {3389, "RDP"},    {5353, "mDNS"},       {5432, "PostgreSQL"}, {8080, "HTTP"},
    {9100, "raw printing"}, {9101, "raw printing"}, {9102, "raw printing"},
};

// Whether a configured terminal names the address as its SrcAddress.
bool IsConfiguredSource(std::uint32_t address, const TerminalTable& terminals) {
  return std::any_of(terminals.begin(), terminals.end(), [address](const auto& entry) {
    return ParseIpv4Text(entry.second.filter.srcAddress) == address;
  });
}

// The first NvrPort after the highest one configured, if there is one.
std::optional<std::uint32_t> FirstFreeNvrPort(const TerminalTable* terminals) {
  if (terminals == nullptr) return std::nullopt;
  std::optional<std::uint32_t> next;
  for (const auto& entry : *terminals) {
    if (const std::optional<std::uint16_t> port = ParsePortText(entry.second.nvrPort)) {
      next = std::max<std::uint32_t>(next.value_or(0), *port + 1u);
    }
  }
  return next;
}

}  // namespace

const char* PortLabel(std::uint16_t port) {
  for (const KnownPort& known : kKnownPorts) {
    if (known.port == port) return known.label;
  }
  return "";
}

bool IsPrinterPort(std::uint16_t port) {
  return port == 515 || port == 631 || (port >= 9100 && port <= 9102);
}

bool LooksLikeUntakenReceipts(const Conversation& conversation, const TerminalTable* terminals) {
  const bool clientSentMost =
      conversation.bytesToServer > 0 && conversation.bytesToServer * 2 >= conversation.payloadBytes;
  const bool fromTillOrToPrinter =
      IsPrinterPort(conversation.toServer.dstPort) ||
      (terminals != nullptr && IsConfiguredSource(conversation.toServer.srcAddress, *terminals));
  return clientSentMost && conversation.TextPercent() >= kReceiptTextPercent &&
         fromTillOrToPrinter && !conversation.terminalToServer;
}

std::vector<SuggestedTerminal> SuggestTerminals(const std::vector<const Conversation*>& conversations,
                                                const TerminalTable* terminals) {
  std::vector<SuggestedTerminal> suggestions;
  std::set<std::string> keys;
  std::optional<std::uint32_t> nvrPort = FirstFreeNvrPort(terminals);
  for (const Conversation* conversation : conversations) {
    if (!LooksLikeUntakenReceipts(*conversation, terminals)) continue;
    const PacketKey& key = conversation->toServer;
    const TerminalFilter filter{Ipv4Text(key.srcAddress), Ipv4Text(key.dstAddress), "",
                                std::to_string(key.dstPort)};
    if (!keys.insert(TerminalKey(filter)).second) continue;
    std::optional<std::uint16_t> port;
    if (nvrPort && *nvrPort <= 65535) port = static_cast<std::uint16_t>((*nvrPort)++);
    suggestions.push_back(SuggestedTerminal{filter, port});
  }
  return suggestions;
}

std::string TerminalElement(const SuggestedTerminal& suggestion) {
  const TerminalFilter& filter = suggestion.filter;
  return "<Terminal SrcAddress=\"" + filter.srcAddress + "\" DstAddress=\"" + filter.dstAddress +
         "\" DstPort=\"" + filter.dstPort + "\" NvrPort=\"" +
         (suggestion.nvrPort ? std::to_string(*suggestion.nvrPort) : std::string("?")) + "\"/>";
}

}  // namespace tillwire
