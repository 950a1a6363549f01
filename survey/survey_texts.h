// The survey's texts on the console, each a whole line (or, for the
// progress line, the whole text of the line) made from its values; the
// report's column headings and fixed lines. The capture source's texts (its
// name, its read error) are the source's (source/source_texts.h).
#ifndef TILLWIRE_SURVEY_SURVEY_TEXTS_H
#define TILLWIRE_SURVEY_SURVEY_TEXTS_H

#include "capture/conversation_table.h"
#include "capture/frame_counts.h"
#include "survey/text_settings.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tillwire {

// The conversations a survey saw: their number, or, once its table is full
// and a further conversation has come, more than that number (the table's
// capacity).
struct SeenConversations {
  std::uint64_t number = 0;
  bool moreThan = false;
};

// What a survey read.
struct SurveyCounts {
  std::uint64_t frames = 0;
  std::uint64_t framesWithoutConversation = 0;  // not TCP or UDP over IPv4
  SeenConversations conversations;
  FrameCounts frameKinds;  // every frame by what it turned out to be
};

namespace text {

// "Surveying <source>"
std::string SurveyingLine(const std::string& source);

// The progress line, rewritten on a console while the survey reads; its
// conversations read "9 conversations" or "more than 16384 conversations".
// Live capture: "<elapsed> s of <duration> s, <frames> frames, <conversations>".
std::string SurveyLiveProgressText(std::chrono::seconds elapsed, std::chrono::seconds duration,
                                   std::uint64_t frames, SeenConversations conversations);
// A capture file of known size: "<read> of <size> bytes read, <frames> frames,
// <conversations>".
std::string SurveyFileProgressText(std::uint64_t bytesRead, std::uint64_t fileBytes,
                                   std::uint64_t frames, SeenConversations conversations);
// A pipe, whose size is not known beforehand: "<read> bytes read, <frames>
// frames, <conversations>".
std::string SurveyPipeProgressText(std::uint64_t bytesRead, std::uint64_t frames,
                                   SeenConversations conversations);

// The line before the report's rows: "<frames> frames: <n> in <conversations>,
// <m> not TCP or UDP over IPv4.", then for live capture " <elapsed> s
// captured." or, stopped, " Stopped after <elapsed> s of <duration> s.", and
// for a capture file, stopped, " Stopped before the end of the file."; last,
// " Not taken: " and the frames not taken by reason.
std::string SurveyLiveSummaryLine(const SurveyCounts& counts, std::chrono::seconds elapsed,
                                  std::chrono::seconds duration, bool stopped);
std::string SurveyFileSummaryLine(const SurveyCounts& counts, bool stopped);

// The report's column headings.
inline constexpr char kSurveyClient[] = "Client";
inline constexpr char kSurveyServer[] = "Server";
inline constexpr char kSurveyFrames[] = "Frames";
inline constexpr char kSurveyBytes[] = "Bytes";
inline constexpr char kSurveyService[] = "Service";
inline constexpr char kSurveyText[] = "Text";
inline constexpr char kSurveyFirstLine[] = "First printable line";
inline constexpr char kSurveyNvrPort[] = "NvrPort";
inline constexpr char kSurveyTerminal[] = "Terminal";
inline constexpr char kSurveyTakenFor[] = "Taken for";
// A row's NvrPort when no terminal takes its conversation.
inline constexpr char kSurveyNoTerminal[] = "-";
// The row of the conversations that a full table did not keep.
inline constexpr char kSurveyOthers[] = "other conversations (table full)";
// "<n> more conversations not shown; add -all to list every one."
std::string SurveyMoreConversationsLine(std::size_t notShown);
inline constexpr char kSurveyNoConversations[] = "No TCP or UDP conversations over IPv4 seen.";
inline constexpr char kSurveyIdleTerminalsHeading[] = "Terminals that take no payload here:";
inline constexpr char kSurveySuggestionsHeading[] =
    "Receipts that no terminal takes; Terminal lines for Tillwire.xml:";
inline constexpr char kSurveyNoSuggestions[] = "No receipts seen that no terminal takes.";
inline constexpr char kSurveyChoosePort[] =
    "Replace NvrPort=\"?\" with a free port for that terminal's NVR.";
inline constexpr char kSurveyConfiguredSettingsHeading[] =
    "NVR text settings for the configured terminals:";

// What a row's conversation was taken for, as its third line says:
// "receipts", "office printing (PJL)", "text", "binary", "no payload", with
// " from the server" when the client sent nothing; then, for receipts and
// text, ", ESC/POS commands" when printer commands were read, ", " and the
// encoding when it has bytes of 0x80 and above (", encoding unknown" when
// none decodes them); last, when
// no SYN told the client, "; client by its text lines", "; client by the
// printer's port", "; client by the higher port" or "; client by sending
// first, the ports being equal", after "no SYN" for TCP.
struct TakenFor {
  PayloadKind kind;
  bool serverSent;
  OfficeJob office;
  bool printerCommands;
  bool highBytes;
  const char* encoding;  // nullptr when none was found
  bool tcp;
  ClientRule rule;
};
std::string SurveyTakenForText(const TakenFor& takenFor);

// The NVR text settings of a terminal, in two lines:
// "line break 0D0A; encoding CP866; control codes: yes (ESC/POS); widest line 42"
// ("line break none" when no line ended; "control codes: yes" for control
// bytes that are not printer commands, "control codes: none"), and
// 'start line "A"; end line "B"; of 5 receipts' (a line that most receipts do
// not share: "start line: none shared by most") or, with fewer than two,
// "start and end lines: 1 receipt seen, 2 needed".
std::string SurveySettingsLine(const TextSettings& settings);
std::string SurveyReceiptLinesLine(const TextSettings& settings);

}  // namespace text
}  // namespace tillwire

#endif
