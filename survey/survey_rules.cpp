#include "survey/survey_rules.h"

#include "capture/terminal_matcher.h"
#include "survey/encoding_guess.h"

#include <algorithm>
#include <map>

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
    {110, "POP3"},    {123, "NTP"},         {137, "NetBIOS"},     {138, "NetBIOS"},
    {139, "NetBIOS"}, {143, "IMAP"},        {161, "SNMP"},        {443, "HTTPS"},
    {445, "SMB"},     {514, "syslog"},      {515, "LPD"},         {631, "IPP"},
    {1433, "SQL Server"}, {1900, "SSDP"},   {3306, "MySQL"},      {3389, "RDP"},
    {5060, "SIP"},    {5353, "mDNS"},       {5432, "PostgreSQL"}, {8080, "HTTP"},
    {9100, "raw printing"}, {9101, "raw printing"}, {9102, "raw printing"},
};

// Text in lines to a port that a well-known service other than printing
// listens on is that service's.
PayloadKind KindAtPort(PayloadKind kind, std::uint16_t serverPort) {
  const bool service = *PortLabel(serverPort) != '\0' && !IsPrinterPort(serverPort);
  return kind == PayloadKind::kReceipts && service ? PayloadKind::kText : kind;
}

std::uint64_t TextOf(const PayloadText& text, const std::optional<TextEncoding>& encoding) {
  return text.Counts().text + (encoding ? text.Counts().high : 0);
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

std::optional<TextEncoding> ConversationReading::LineEncoding() const {
  return clientEncoding ? clientEncoding : serverEncoding;
}

ConversationReading ReadConversation(const Conversation& conversation) {
  ConversationReading reading;
  const PayloadText& client = conversation.clientText;
  const PayloadText& server = conversation.serverText;
  reading.clientEncoding = GuessEncoding(client);
  reading.serverEncoding = GuessEncoding(server);
  reading.serverSent = conversation.bytesToServer == 0 && conversation.payloadBytes > 0;
  const TextJudgement judgement = reading.serverSent
                                      ? Judge(server, reading.serverEncoding.has_value())
                                      : Judge(client, reading.clientEncoding.has_value());
  reading.kind = KindAtPort(judgement.kind, conversation.toServer.dstPort);
  reading.textPercent =
      PercentOf(TextOf(client, reading.clientEncoding) + TextOf(server, reading.serverEncoding),
                client.Counts().Considered() + server.Counts().Considered());
  return reading;
}

bool LooksLikeUntakenReceipts(const Surveyed& surveyed) {
  const Conversation& conversation = *surveyed.conversation;
  const bool clientSentMost =
      conversation.bytesToServer > 0 && conversation.bytesToServer * 2 >= conversation.payloadBytes;
  return clientSentMost && surveyed.reading.kind == PayloadKind::kReceipts &&
         !conversation.terminalToServer;
}

std::vector<SuggestedTerminal> SuggestTerminals(const std::vector<Surveyed>& conversations,
                                                const TerminalTable* terminals) {
  std::vector<SuggestedTerminal> suggestions;
  std::vector<std::vector<TakenText>> taken;
  std::map<std::string, std::size_t> byKey;
  std::optional<std::uint32_t> nvrPort = FirstFreeNvrPort(terminals);
  for (const Surveyed& surveyed : conversations) {
    if (!LooksLikeUntakenReceipts(surveyed)) continue;
    const PacketKey& key = surveyed.conversation->toServer;
    const TerminalFilter filter{Ipv4Text(key.srcAddress), Ipv4Text(key.dstAddress), "",
                                std::to_string(key.dstPort)};
    const auto [entry, added] = byKey.emplace(TerminalKey(filter), suggestions.size());
    if (added) {
      std::optional<std::uint16_t> port;
      if (nvrPort && *nvrPort <= 65535) port = static_cast<std::uint16_t>((*nvrPort)++);
      suggestions.push_back(SuggestedTerminal{filter, port, {}});
      taken.emplace_back();
    }
    taken[entry->second].push_back(
        TakenText{&surveyed.conversation->clientText, surveyed.reading.clientEncoding});
  }
  for (std::size_t i = 0; i < suggestions.size(); ++i) {
    suggestions[i].settings = SettingsOf(taken[i]);
  }
  return suggestions;
}

std::optional<TextSettings> SettingsOfTerminal(const std::vector<Surveyed>& conversations,
                                               std::size_t terminal) {
  std::vector<TakenText> taken;
  for (const Surveyed& surveyed : conversations) {
    const Conversation& conversation = *surveyed.conversation;
    if (conversation.terminalToServer == terminal && conversation.bytesToServer > 0) {
      taken.push_back(TakenText{&conversation.clientText, surveyed.reading.clientEncoding});
    }
    if (conversation.terminalToClient == terminal &&
        conversation.payloadBytes > conversation.bytesToServer) {
      taken.push_back(TakenText{&conversation.serverText, surveyed.reading.serverEncoding});
    }
  }
  if (taken.empty()) return std::nullopt;
  return SettingsOf(taken);
}

std::string TerminalElement(const SuggestedTerminal& suggestion) {
  const TerminalFilter& filter = suggestion.filter;
  return "<Terminal SrcAddress=\"" + filter.srcAddress + "\" DstAddress=\"" + filter.dstAddress +
         "\" DstPort=\"" + filter.dstPort + "\" NvrPort=\"" +
         (suggestion.nvrPort ? std::to_string(*suggestion.nvrPort) : std::string("?")) + "\"/>";
}

}  // namespace tillwire
