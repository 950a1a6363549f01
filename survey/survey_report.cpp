#include "survey/survey_report.h"

#include "capture/printed_values.h"
#include "report/filter_notes.h"
#include "survey/shown_text.h"
#include "survey/survey_rules.h"
#include "survey/unicode_text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <vector>

namespace tillwire {

namespace {

// Row widths: at most 79 characters on an 80-column console, for every
// address and port (an endpoint is at most 21 characters) and a payload of
// up to 99,999,999,999 bytes; only a long terminal key runs over.
constexpr char kFirstLineFormat[] = "%-4s%-22s%-22s%7s%11s %s";
constexpr char kSecondLineFormat[] = "  %4s  %s";
constexpr char kTerminalFormat[] = " %7s %s";
constexpr char kThirdLineIndent[] = "        ";
// A suggested or configured terminal's NVR text settings, under it.
constexpr char kSettingsIndent[] = "      ";

std::string Printed(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Printed(const char* format, ...) {
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  return line;
}

std::string Endpoint(std::uint32_t address, std::uint16_t port) {
  return Ipv4Text(address) + ":" + std::to_string(port);
}

std::string Number(std::uint64_t value) { return std::to_string(value); }

// A line without the blanks that padding left at its end.
std::string Line(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text + "\n";
}

// Text padded with blanks to the columns it may take.
std::string Padded(std::string text, std::size_t columns) {
  const std::size_t used = ColumnsOf(text);
  if (used < columns) text.append(columns - used, ' ');
  return text;
}

std::string TakenForLine(const Surveyed& surveyed) {
  const Conversation& conversation = *surveyed.conversation;
  const ConversationReading& reading = surveyed.reading;
  const PayloadText& text = reading.serverSent ? conversation.serverText : conversation.clientText;
  const std::optional<TextEncoding>& encoding =
      reading.serverSent ? reading.serverEncoding : reading.clientEncoding;
  const text::TakenFor takenFor{reading.kind,
                                reading.serverSent,
                                text.Office(),
                                text.PrinterCommands(),
                                text.Counts().high > 0,
                                encoding ? EncodingName(*encoding) : nullptr,
                                conversation.tcp,
                                conversation.clientRule};
  return Line(kThirdLineIndent + text::SurveyTakenForText(takenFor));
}

std::string Row(const Surveyed& surveyed,
                const std::vector<TerminalTable::const_iterator>* terminals) {
  const Conversation& conversation = *surveyed.conversation;
  const PacketKey& key = conversation.toServer;
  std::string row = Line(Printed(kFirstLineFormat, conversation.tcp ? "TCP" : "UDP",
                                 Endpoint(key.srcAddress, key.srcPort).c_str(),
                                 Endpoint(key.dstAddress, key.dstPort).c_str(),
                                 Number(conversation.frames).c_str(),
                                 Number(conversation.payloadBytes).c_str(), PortLabel(key.dstPort)));
  const std::string firstLine = ShownText(
      conversation.firstLine.Bytes(), surveyed.reading.LineEncoding(), FirstLine::kShownColumns);
  std::string second =
      Printed(kSecondLineFormat, (std::to_string(surveyed.reading.textPercent) + "%").c_str(),
              Padded(firstLine, FirstLine::kShownColumns).c_str());
  if (terminals != nullptr) {
    const std::optional<std::size_t> terminal =
        conversation.terminalToServer ? conversation.terminalToServer : conversation.terminalToClient;
    if (terminal) {
      const auto& entry = *(*terminals)[*terminal];
      second += Printed(kTerminalFormat, entry.second.nvrPort.c_str(), entry.first.c_str());
    } else {
      second += Printed(kTerminalFormat, text::kSurveyNoTerminal, "");
    }
  }
  return row + Line(second) + TakenForLine(surveyed);
}

std::string Heading(bool withTerminals) {
  std::string heading = Line(Printed(kFirstLineFormat, "", text::kSurveyClient, text::kSurveyServer,
                                     text::kSurveyFrames, text::kSurveyBytes, text::kSurveyService));
  std::string second = Printed(kSecondLineFormat, text::kSurveyText,
                               Padded(text::kSurveyFirstLine, FirstLine::kShownColumns).c_str());
  if (withTerminals) second += Printed(kTerminalFormat, text::kSurveyNvrPort, text::kSurveyTerminal);
  return heading + Line(second) + Line(kThirdLineIndent + std::string(text::kSurveyTakenFor));
}

// The terminals that take no payload byte of any conversation, if any.
std::string IdleTerminals(const std::vector<Conversation>& conversations,
                          const std::vector<TerminalTable::const_iterator>& terminals) {
  std::vector<bool> taking(terminals.size(), false);
  for (const Conversation& conversation : conversations) {
    if (conversation.terminalToServer && conversation.bytesToServer > 0) {
      taking[*conversation.terminalToServer] = true;
    }
    if (conversation.terminalToClient && conversation.payloadBytes > conversation.bytesToServer) {
      taking[*conversation.terminalToClient] = true;
    }
  }
  std::string lines;
  for (std::size_t i = 0; i < terminals.size(); ++i) {
    if (!taking[i]) {
      const TerminalRecord& record = terminals[i]->second;
      lines += Line(Printed("%-4s%7s %s", "", record.nvrPort.c_str(), terminals[i]->first.c_str()) +
                    NeverMatchingNote(record.filter));
    }
  }
  return lines.empty() ? lines : "\n" + Line(text::kSurveyIdleTerminalsHeading) + lines;
}

// The NVR text settings' two lines under a terminal.
std::string SettingsLines(const TextSettings& settings) {
  return Line(kSettingsIndent + text::SurveySettingsLine(settings)) +
         Line(kSettingsIndent + text::SurveyReceiptLinesLine(settings));
}

std::string Suggestions(const std::vector<Surveyed>& byPayload, const TerminalTable* terminals) {
  const std::vector<SuggestedTerminal> suggestions = SuggestTerminals(byPayload, terminals);
  if (suggestions.empty()) return Line(text::kSurveyNoSuggestions);
  std::string lines = Line(text::kSurveySuggestionsHeading);
  bool portMissing = false;
  for (const SuggestedTerminal& suggestion : suggestions) {
    lines += "  " + TerminalElement(suggestion) + "\n" + SettingsLines(suggestion.settings);
    portMissing = portMissing || !suggestion.nvrPort;
  }
  if (portMissing) lines += Line(text::kSurveyChoosePort);
  return lines;
}

// Each configured terminal that takes payload, with its NVR text settings.
std::string ConfiguredSettings(const std::vector<Surveyed>& conversations,
                               const std::vector<TerminalTable::const_iterator>& terminals) {
  std::string lines;
  for (std::size_t i = 0; i < terminals.size(); ++i) {
    if (const std::optional<TextSettings> settings = SettingsOfTerminal(conversations, i)) {
      lines += Line("  " + terminals[i]->second.nvrPort + " " + terminals[i]->first) +
               SettingsLines(*settings);
    }
  }
  return lines.empty() ? lines : "\n" + Line(text::kSurveyConfiguredSettingsHeading) + lines;
}

}  // namespace

SeenConversations ConversationsSeen(const ConversationTable& table) {
  if (table.Others().frames > 0) return SeenConversations{table.Capacity(), true};
  return SeenConversations{table.Conversations().size(), false};
}

SurveyCounts CountsOf(const ConversationTable& table) {
  return SurveyCounts{table.Frames(), table.FramesWithoutConversation(), ConversationsSeen(table),
                      table.FrameKinds()};
}

std::string SurveyReport(const ConversationTable& table, const TerminalTable* terminals,
                         std::size_t rows) {
  const std::vector<Conversation>& conversations = table.Conversations();
  std::vector<Surveyed> byPayload;
  byPayload.reserve(conversations.size());
  for (const Conversation& conversation : conversations) {
    byPayload.push_back(Surveyed{&conversation, ReadConversation(conversation)});
  }
  std::stable_sort(byPayload.begin(), byPayload.end(), [](const Surveyed& a, const Surveyed& b) {
    return a.conversation->payloadBytes != b.conversation->payloadBytes
               ? a.conversation->payloadBytes > b.conversation->payloadBytes
               : a.conversation->frames > b.conversation->frames;
  });
  std::vector<TerminalTable::const_iterator> byIndex;
  if (terminals != nullptr) {
    for (auto entry = terminals->begin(); entry != terminals->end(); ++entry) byIndex.push_back(entry);
  }
  const auto* shownTerminals = terminals != nullptr ? &byIndex : nullptr;

  const ConversationTable::Overflow& others = table.Others();
  std::string report;
  if (byPayload.empty()) {
    report = Line(text::kSurveyNoConversations);
  } else {
    report = Heading(terminals != nullptr);
    const std::size_t shown = rows == 0 ? byPayload.size() : std::min(rows, byPayload.size());
    for (std::size_t i = 0; i < shown; ++i) report += Row(byPayload[i], shownTerminals);
    if (others.frames > 0) {
      report += Line(Printed("%-4s%-44s%7s%11s", "", text::kSurveyOthers,
                             Number(others.frames).c_str(), Number(others.payloadBytes).c_str()));
    }
    if (shown < byPayload.size()) {
      report += Line(text::SurveyMoreConversationsLine(byPayload.size() - shown));
    }
  }
  if (shownTerminals != nullptr) report += IdleTerminals(conversations, byIndex);
  report += "\n" + Suggestions(byPayload, terminals);
  if (rows == 0 && shownTerminals != nullptr) report += ConfiguredSettings(byPayload, byIndex);
  return report;
}

}  // namespace tillwire
