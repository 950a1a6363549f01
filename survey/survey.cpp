#include "survey/survey.h"

#include "capture/conversation_table.h"
#include "capture/link_layer.h"
#include "capture/terminal_matcher.h"
#include "config/configuration.h"
#include "outcome/exit_codes.h"
#include "platform/console_output.h"
#include "platform/program_directory.h"
#include "report/terminal_names.h"
#include "run/engine.h"
#include "source/capture_session.h"
#include "source/capture_source.h"
#include "survey/survey_report.h"

#include <boost/filesystem/operations.hpp>
#include <boost/thread/exceptions.hpp>
#include <boost/thread/thread.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

namespace tillwire {

namespace {

using Clock = std::chrono::steady_clock;

const std::chrono::seconds kProgressInterval(1);
// As the run's capture loop: a stop request is looked for every millisecond
// and every 256 KiB read, so reading costs no clock read per frame.
const std::chrono::milliseconds kLookInterval(1);
const std::uint64_t kLookBytes = 256 * 1024;
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
    startFailure.onConsoleToo = true;
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

class Surveyor {
 public:
  Surveyor(CaptureSession& session, ConversationTable& table, const SurveyRequest& request)
      : session(session), table(table), request(request) {
    boost::system::error_code error;
    if (!request.captureFile.empty()) {
      fileBytes = boost::filesystem::file_size(request.captureFile, error);
      if (error) fileBytes = 0;
    }
  }

  // Reads until the end of the file, the end of the live capture's duration,
  // a read error or a stop request.
  SurveyReading Read() {
    SurveyReading reading;
    const Clock::time_point begin = Clock::now();
    const Clock::time_point end = begin + request.duration;
    Clock::time_point nextLook;
    Clock::time_point nextProgress = begin;
    std::uint64_t bytesSinceLook = 0;
    try {
      for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= nextLook || bytesSinceLook >= kLookBytes) {
          boost::this_thread::interruption_point();
          reading.elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - begin);
          if (request.captureFile.empty() && now >= end) {
            reading.elapsed = request.duration;
            break;
          }
          if (now >= nextProgress) {
            progress.Show(ProgressText(reading.elapsed));
            nextProgress = now + kProgressInterval;
          }
          nextLook = now + kLookInterval;
          bytesSinceLook = 0;
        }
        pcap_pkthdr* header = nullptr;
        const unsigned char* frame = nullptr;
        const int result = session.Next(&header, &frame);
        if (result == 1) {
          table.Add(DecodeFrame(frame, header->caplen, session.Link()),
                    static_cast<std::uint32_t>(header->ts.tv_sec));
          bytesRead += kRecordHeaderBytes + header->caplen;
          bytesSinceLook += header->caplen;
        } else if (result == -2) {
          break;
        } else if (result < 0) {
          reading.readFailed = true;
          reading.errorText = session.ErrorText();
          break;
        } else {
          nextLook = Clock::time_point();
        }
      }
    } catch (const boost::thread_interrupted&) {
      reading.stopped = true;
    }
    progress.Clear();
    return reading;
  }

 private:
  std::string ProgressText(std::chrono::seconds elapsed) const {
    std::string position;
    if (request.captureFile.empty()) {
      position = std::to_string(elapsed.count()) + text::kSurveyOfSuffix +
                 std::to_string(request.duration.count()) + " s, ";
    } else if (fileBytes == 0) {
      // A pipe, whose size is not known beforehand.
      position = std::to_string(bytesRead) + text::kSurveyBytesReadSuffix;
    } else {
      position = std::to_string(std::min(bytesRead, fileBytes)) + text::kSurveyBytesOf +
                 std::to_string(fileBytes) + text::kSurveyBytesReadSuffix;
    }
    return position + std::to_string(table.Frames()) + text::kSurveyFramesSuffix +
           ConversationCount(table);
  }

  CaptureSession& session;
  ConversationTable& table;
  const SurveyRequest& request;
  ProgressLine progress;
  std::uint64_t fileBytes = 0;
  std::uint64_t bytesRead = kFileHeaderBytes;
};

// The survey's capture source, opened as a run opens it, its link type
// checked; the failures with their lines for the console too. Null after a
// stop request that came while a pipe's capture header was awaited.
OrStartFailure<pcap_t*> OpenSurveySource(const SurveyRequest& request,
                                         const std::optional<Configuration>& configuration,
                                         std::string* shownSource) {
  OrStartFailure<pcap_t*> opened = nullptr;
  try {
    opened = OpenCaptureSource(
        request.captureFile,
        configuration ? configuration->adapterAddress : std::optional<std::string>(), shownSource);
  } catch (const boost::thread_interrupted&) {
    *shownSource = text::kFileSourcePrefix + request.captureFile;
    return nullptr;
  }
  if (StartFailure* failure = std::get_if<StartFailure>(&opened)) {
    failure->onConsoleToo = true;
    return opened;
  }
  pcap_t* handle = std::get<pcap_t*>(opened);
  if (!LinkLayerOf(pcap_datalink(handle))) {
    const std::string line = UnsupportedLinkTypeLine(handle);
    pcap_close(handle);
    return StartFailure{kUnsupportedLinkTypeResult, {line}, true};
  }
  return handle;
}

// The line before the rows: what was read, for how long, and why frames were
// not taken.
std::string Summary(const ConversationTable& table, const SurveyRequest& request,
                    const SurveyReading& reading) {
  const std::uint64_t outside = table.FramesWithoutConversation();
  std::string summary = std::to_string(table.Frames()) + text::kSurveyFramesIn +
                        std::to_string(table.Frames() - outside) + text::kSurveyInPrefix +
                        ConversationCount(table) + ", " + std::to_string(outside) +
                        text::kSurveyOutsideSuffix;
  if (request.captureFile.empty() && !reading.stopped) {
    summary += " " + std::to_string(reading.elapsed.count()) + text::kSurveyCapturedSuffix;
  } else if (request.captureFile.empty()) {
    summary += std::string(" ") + text::kSurveyStoppedPrefix +
               std::to_string(reading.elapsed.count()) + text::kSurveyOfSuffix +
               std::to_string(request.duration.count()) + " s.";
  } else if (reading.stopped) {
    summary += std::string(" ") + text::kSurveyStoppedReading;
  }
  return summary + text::kSurveyNotTaken + FramesNotTaken(table.FrameKinds()) + ".";
}

}  // namespace

SurveyReading ReadSurveyFrames(CaptureSession& session, ConversationTable& table,
                               const SurveyRequest& request) {
  return Surveyor(session, table, request).Read();
}

OrStartFailure<int> RunSurvey(const SurveyRequest& request) {
  OrStartFailure<std::optional<Configuration>> loaded =
      SurveyConfiguration(!request.captureFile.empty());
  if (const StartFailure* failure = std::get_if<StartFailure>(&loaded)) return *failure;
  const std::optional<Configuration>& configuration =
      std::get<std::optional<Configuration>>(loaded);
  std::string shownSource;
  OrStartFailure<pcap_t*> opened = OpenSurveySource(request, configuration, &shownSource);
  if (const StartFailure* failure = std::get_if<StartFailure>(&opened)) return *failure;
  pcap_t* handle = std::get<pcap_t*>(opened);
  std::printf("%s%s\n", text::kSurveyingPrefix, shownSource.c_str());
  std::fflush(stdout);

  std::optional<Tables> tables;
  std::unique_ptr<TerminalMatcher> matcher;
  if (configuration) {
    tables.emplace(BuildTables(*configuration->document));
    matcher = std::make_unique<TerminalMatcher>(tables->terminalTable);
  }
  const std::unique_ptr<ConversationTable> table(new ConversationTable(matcher.get()));
  SurveyReading reading;
  reading.stopped = handle == nullptr;
  if (handle != nullptr) {
    boost::asio::io_context eventQueue;
    // Without an adapter address the session neither reports drops nor
    // reopens the adapter, and so logs nothing: a read error ends the survey.
    CaptureSession session(handle, eventQueue, std::nullopt);
    reading = ReadSurveyFrames(session, *table, request);
  }
  const std::string report =
      SurveyReport(*table, tables ? &tables->terminalTable : nullptr, request.rows);
  std::printf("%s\n\n%s", Summary(*table, request, reading).c_str(), report.c_str());
  if (reading.readFailed) std::printf("%s%s\n", text::kReadErrorPrefix, reading.errorText.c_str());
  std::fflush(stdout);
  return reading.readFailed ? kDamagedCaptureResult : 0;
}

}  // namespace tillwire
