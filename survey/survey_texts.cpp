#include "survey/survey_texts.h"

#include "report/terminal_names.h"

#include <iterator>

namespace tillwire {
namespace text {

namespace {

std::string Number(std::uint64_t value) { return std::to_string(value); }

std::string Seconds(std::chrono::seconds value) { return std::to_string(value.count()); }

// "1 conversation" or "<n> conversations", as many as n is.
std::string Counted(std::uint64_t count, const char* thing) {
  return Number(count) + " " + thing + (count == 1 ? "" : "s");
}

// "1 conversation", "9 conversations", "more than 16384 conversations"
std::string Conversations(SeenConversations conversations) {
  return (conversations.moreThan ? "more than " : "") +
         Counted(conversations.number, "conversation");
}

// The progress line's end: "<frames> frames, <conversations>".
std::string FramesAndConversations(std::uint64_t frames, SeenConversations conversations) {
  return Number(frames) + " frames, " + Conversations(conversations);
}

// "<frames> frames: <n> in <conversations>, <m> not TCP or UDP over IPv4."
std::string Summary(const SurveyCounts& counts) {
  return Number(counts.frames) + " frames: " +
         Number(counts.frames - counts.framesWithoutConversation) + " in " +
         Conversations(counts.conversations) + ", " + Number(counts.framesWithoutConversation) +
         " not TCP or UDP over IPv4.";
}

// " Not taken: <reasons>."
std::string NotTaken(const SurveyCounts& counts) {
  return " Not taken: " + FramesNotTaken(counts.frameKinds) + ".";
}

}  // namespace

std::string SurveyingLine(const std::string& source) { return "Surveying " + source; }

std::string SurveyLiveProgressText(std::chrono::seconds elapsed, std::chrono::seconds duration,
                                   std::uint64_t frames, SeenConversations conversations) {
  return Seconds(elapsed) + " s of " + Seconds(duration) + " s, " +
         FramesAndConversations(frames, conversations);
}

std::string SurveyFileProgressText(std::uint64_t bytesRead, std::uint64_t fileBytes,
                                   std::uint64_t frames, SeenConversations conversations) {
  return Number(bytesRead) + " of " + Number(fileBytes) + " bytes read, " +
         FramesAndConversations(frames, conversations);
}

std::string SurveyPipeProgressText(std::uint64_t bytesRead, std::uint64_t frames,
                                   SeenConversations conversations) {
  return Number(bytesRead) + " bytes read, " + FramesAndConversations(frames, conversations);
}

std::string SurveyLiveSummaryLine(const SurveyCounts& counts, std::chrono::seconds elapsed,
                                  std::chrono::seconds duration, bool stopped) {
  const std::string how = stopped ? " Stopped after " + Seconds(elapsed) + " s of " +
                                        Seconds(duration) + " s."
                                  : " " + Seconds(elapsed) + " s captured.";
  return Summary(counts) + how + NotTaken(counts);
}

std::string SurveyFileSummaryLine(const SurveyCounts& counts, bool stopped) {
  return Summary(counts) + (stopped ? " Stopped before the end of the file." : "") +
         NotTaken(counts);
}

std::string SurveyTakenForText(const TakenFor& takenFor) {
  static const char* const kKinds[] = {"no payload", "receipts", "office printing", "text",
                                       "binary"};
  static_assert(std::size(kKinds) == static_cast<std::size_t>(PayloadKind::kBinary) + 1);
  std::string shown = kKinds[static_cast<int>(takenFor.kind)];
  if (takenFor.kind == PayloadKind::kOfficePrinting) {
    shown += std::string(" (") + OfficeJobName(takenFor.office) + ")";
  }
  if (takenFor.serverSent) shown += " from the server";
  const bool text = takenFor.kind == PayloadKind::kReceipts || takenFor.kind == PayloadKind::kText;
  if (text && takenFor.printerCommands) shown += ", ESC/POS commands";
  if (text && takenFor.highBytes) {
    shown += takenFor.encoding != nullptr ? std::string(", ") + takenFor.encoding
                                          : std::string(", encoding unknown");
  }
  static const char* const kRules[] = {"", "client by its text lines",
                                       "client by the printer's port", "client by the higher port",
                                       "client by sending first, the ports being equal"};
  static_assert(std::size(kRules) == static_cast<std::size_t>(ClientRule::kFirstSender) + 1);
  if (takenFor.rule != ClientRule::kSyn) {
    shown += std::string("; ") + (takenFor.tcp ? "no SYN, " : "") +
             kRules[static_cast<int>(takenFor.rule)];
  }
  return shown;
}

std::string SurveySettingsLine(const TextSettings& settings) {
  const std::string controls = !settings.controlCodes      ? "none"
                               : settings.printerCommands ? "yes (ESC/POS)"
                                                           : "yes";
  return "line break " + (settings.lineBreak.empty() ? std::string("none") : settings.lineBreak) +
         "; encoding " + settings.encoding + "; control codes: " + controls + "; widest line " +
         Number(settings.widestLine);
}

std::string SurveyReceiptLinesLine(const TextSettings& settings) {
  if (settings.receipts < 2) {
    return "start and end lines: " + Counted(settings.receipts, "receipt") + " seen, 2 needed";
  }
  const auto line = [](const char* which, const std::optional<std::string>& text) {
    return std::string(which) + (text ? " \"" + *text + "\"" : ": none shared by most");
  };
  return line("start line", settings.startLine) + "; " + line("end line", settings.endLine) +
         "; of " + Number(settings.receipts) + " receipts";
}

std::string SurveyMoreConversationsLine(std::size_t notShown) {
  return Counted(notShown, "more conversation") + " not shown; add -all to list every one.";
}

}  // namespace text
}  // namespace tillwire
