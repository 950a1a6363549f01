// The survey's texts on the console, each a whole line (or, for the
// progress line, the whole text of the line) made from its values; the
// report's column headings and fixed lines. The capture source's texts (its
// name, its read error) are the source's (source/source_texts.h).
#ifndef TILLWIRE_SURVEY_SURVEY_TEXTS_H
#define TILLWIRE_SURVEY_SURVEY_TEXTS_H

#include "capture/frame_counts.h"

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

}  // namespace text
}  // namespace tillwire

#endif
