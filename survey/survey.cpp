#include "survey/survey.h"

#include "capture/conversation_table.h"
#include "capture/link_layer.h"
#include "capture/terminal_matcher.h"
#include "config/configuration.h"
#include "outcome/exit_codes.h"
#include "platform/console_output.h"
#include "platform/program_directory.h"
#include "source/capture_session.h"
#include "source/capture_start.h"
#include "source/read_loop.h"
#include "source/source_texts.h"
#include "survey/survey_report.h"
#include "survey/survey_texts.h"

#include <boost/filesystem/operations.hpp>
#include <boost/thread/exceptions.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

namespace tillwire {

namespace {

using Clock = std::chrono::steady_clock;

const std::chrono::seconds kProgressInterval(1);
// A pcap file's header and each record's header, for the bytes read so far.
const std::uint64_t kFileHeaderBytes = 24;
const std::uint64_t kRecordHeaderBytes = 16;

// Tillwire.xml as a run reads it; a capture file is surveyed without one
// when there is none.
OrStartFailure<std::optional<Configuration>> SurveyConfiguration(bool fromFile) {
  const std::string path = ProgramDirectory() + text::kConfigurationFileName;
  boost::system::error_code error;
  if (fromFile &&
      boost::filesystem::status(path, error).type() == boost::filesystem::file_not_found) {
    return std::optional<Configuration>();
  }
  std::variant<Configuration, ConfigurationFailure> loaded = ReadConfiguration(path);
  if (const auto* failure = std::get_if<ConfigurationFailure>(&loaded)) {
    StartFailure startFailure = StartFailureOf(*failure);
    startFailure.shown = FailureShown::kConsole;
    return startFailure;
  }
  return std::optional<Configuration>(std::move(std::get<Configuration>(loaded)));
}

// The progress line on a console, rewritten in place; nothing elsewhere.
class ProgressLine {
 public:
  ProgressLine() : shown(StandardOutputIsConsole()) {}

  void Show(const std::string& line) {
    if (!shown) return;
    std::printf("\r%-*s", static_cast<int>(width), line.c_str());
    std::fflush(stdout);
    width = std::max(width, line.size());
  }
  // Blanks the line, so the report starts at the line's beginning.
  void Clear() {
    if (!shown || width == 0) return;
    std::printf("\r%*s\r", static_cast<int>(width), "");
    std::fflush(stdout);
  }

 private:
  const bool shown;
  std::size_t width = 0;
};

// The survey's policy of the read loop (source/read_loop.h), and its
// reading's account: at every look, after the stop check, it ends a live
// capture once its duration is over and shows the progress about once a
// second; a read error ends the reading.
class SurveyLooks {
 public:
  SurveyLooks(CaptureSession& session, const ConversationTable& table,
              const SurveyRequest& request, SurveyReading& reading)
      : session(session), table(table), request(request), reading(reading) {
    boost::system::error_code error;
    if (!request.captureFile.empty()) {
      fileBytes = boost::filesystem::file_size(request.captureFile, error);
      if (error) fileBytes = 0;
    }
  }

  // A frame read, with its record's header.
  void Count(const CapturedFrame& frame) { bytesRead += kRecordHeaderBytes + frame.capturedLength; }

  void Serve() {}

  bool Look(Clock::time_point now) {
    reading.elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - begin);
    if (request.captureFile.empty() && now >= end) {
      reading.elapsed = request.duration;
      return false;
    }
    if (now >= nextProgress) {
      progress.Show(ProgressText(reading.elapsed));
      nextProgress = now + kProgressInterval;
    }
    return true;
  }

  bool ReadFailed(bool) {
    reading.readFailed = true;
    reading.errorText = session.ErrorText();
    return false;
  }

  // Blanks the progress line once the reading is over.
  void Finish() { progress.Clear(); }

 private:
  std::string ProgressText(std::chrono::seconds elapsed) const {
    if (request.captureFile.empty()) {
      return text::SurveyLiveProgressText(elapsed, request.duration, table.Frames(),
                                          ConversationsSeen(table));
    }
    if (fileBytes == 0) {
      // A pipe, whose size is not known beforehand.
      return text::SurveyPipeProgressText(bytesRead, table.Frames(), ConversationsSeen(table));
    }
    return text::SurveyFileProgressText(std::min(bytesRead, fileBytes), fileBytes,
                                        table.Frames(), ConversationsSeen(table));
  }

  CaptureSession& session;
  const ConversationTable& table;
  const SurveyRequest& request;
  SurveyReading& reading;
  const Clock::time_point begin = Clock::now();
  const Clock::time_point end = begin + request.duration;
  Clock::time_point nextProgress = begin;
  ProgressLine progress;
  std::uint64_t fileBytes = 0;
  std::uint64_t bytesRead = kFileHeaderBytes;
};

// The line before the rows: what was read, and for how long.
std::string Summary(const ConversationTable& table, const SurveyRequest& request,
                    const SurveyReading& reading) {
  if (request.captureFile.empty()) {
    return text::SurveyLiveSummaryLine(CountsOf(table), reading.elapsed, request.duration,
                                       reading.stopped);
  }
  return text::SurveyFileSummaryLine(CountsOf(table), reading.stopped);
}

}  // namespace

SurveyReading ReadSurveyFrames(CaptureSession& session, ConversationTable& table,
                               const SurveyRequest& request) {
  SurveyReading reading;
  SurveyLooks looks(session, table, request, reading);
  try {
    ReadFrames(
        session,
        [&table, &looks](const CapturedFrame& frame) {
          table.Add(DecodeFrame(frame.bytes, frame.capturedLength, frame.link), frame.seconds);
          looks.Count(frame);
        },
        looks);
  } catch (const boost::thread_interrupted&) {
    reading.stopped = true;
  }
  looks.Finish();
  return reading;
}

OrStartFailure<int> RunSurvey(const SurveyRequest& request) {
  OrStartFailure<std::optional<Configuration>> loaded =
      SurveyConfiguration(!request.captureFile.empty());
  if (const StartFailure* failure = std::get_if<StartFailure>(&loaded)) return *failure;
  const std::optional<Configuration>& configuration =
      std::get<std::optional<Configuration>>(loaded);
  boost::asio::io_context eventQueue;
  std::string shownSource;
  // Started as a run starts, but logging nothing: a live session neither
  // reports drops nor reopens the adapter, and a read error ends the survey.
  CaptureStart start = StartCapture(
      request.captureFile,
      configuration ? configuration->adapterAddress : std::optional<std::string>(), eventQueue,
      &shownSource);
  if (StartFailure* failure = std::get_if<StartFailure>(&start)) return std::move(*failure);
  if (const auto* unsupported = std::get_if<UnsupportedLinkType>(&start)) {
    return StartFailure{kUnsupportedLinkTypeResult, {unsupported->line}, FailureShown::kConsole};
  }
  std::printf("%s\n", text::SurveyingLine(shownSource).c_str());
  std::fflush(stdout);

  const TerminalTable* terminals = configuration ? &configuration->tables.terminalTable : nullptr;
  std::unique_ptr<TerminalMatcher> matcher;
  if (terminals != nullptr) matcher = std::make_unique<TerminalMatcher>(*terminals);
  const std::unique_ptr<ConversationTable> table(new ConversationTable(matcher.get()));
  SurveyReading reading;
  if (CaptureSession* session = std::get_if<CaptureSession>(&start)) {
    reading = ReadSurveyFrames(*session, *table, request);
  } else {
    reading.stopped = true;  // before the capture's header came
  }
  table->SettleClients();
  const std::string report = SurveyReport(*table, terminals, request.rows);
  std::printf("%s\n\n%s", Summary(*table, request, reading).c_str(), report.c_str());
  if (reading.readFailed) std::printf("%s\n", text::ReadErrorLine(reading.errorText).c_str());
  std::fflush(stdout);
  return reading.readFailed ? kDamagedCaptureResult : 0;
}

}  // namespace tillwire
