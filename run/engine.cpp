#include "run/engine.h"

#include "config/configuration.h"
#include "log/log_file.h"
#include "platform/service_status_text.h"
#include "report/filter_notes.h"
#include "report/playback_report.h"
#include "report/run_metrics.h"
#include "run/run_texts.h"
#include "source/capture_start.h"
#include "source/event_queue_wait.h"
#include "source/source_texts.h"

#include <boost/thread/exceptions.hpp>

#include <optional>
#include <utility>
#include <variant>

namespace tillwire {

namespace {

const std::chrono::seconds kNvrWait(10);

void LogStop() { LogLine(text::kStopSignal); }

// The run's policy of the read loop (source/read_loop.h).
class RunLooks {
 public:
  RunLooks(CaptureSession& session, boost::asio::io_context& eventQueue, PlaybackPacer* pacer,
           RunHealth* health)
      : session(session), eventQueue(eventQueue), pacer(pacer), health(health) {}

  // The event queue (accepts, finished writes): writes that waited a little
  // go out together.
  void Serve() { eventQueue.poll(); }

  bool Look(std::chrono::steady_clock::time_point now) {
    if (pacer != nullptr) pacer->CatchUp();
    session.Check(now);
    if (health != nullptr) health->Check(now, session.FramesDropped());
    return true;
  }

  bool ReadFailed(bool episodeStart) {
    // Errors repeat as fast as reads do once the adapter is gone: one line
    // for the whole episode, which lasts until a read works again.
    if (episodeStart) LogLine(text::ReadErrorLine(session.ErrorText()));
    if (!session.Live()) return false;
    session.Reopen();
    return true;
  }

 private:
  CaptureSession& session;
  boost::asio::io_context& eventQueue;
  PlaybackPacer* const pacer;
  RunHealth* const health;
};

// The playback's forwarding: the NVRs' wait, the replay at the pace of the
// NVRs that read, and the drain of the writes under way at the end of the
// file or at a damaged part of it (what came before it is delivered as at
// the end). Returns 0, or kDamagedCaptureResult after a damaged part.
int Play(CaptureSession& session, boost::asio::io_context& eventQueue,
         FrameRouter<TerminalConnections>& router, const TerminalConnections& connections) {
  WaitForNvrs(eventQueue);
  PlaybackPacer pacer(eventQueue, connections);
  const ReadEnd end = RunCaptureLoop(session, eventQueue, router, &pacer);
  if (end == ReadEnd::kEndOfFile) LogLine(text::EndOfFileLine(session.ErrorText()));
  pacer.Drain();
  return end == ReadEnd::kReadError ? kDamagedCaptureResult : 0;
}

// Live capture, with the service's health and, when Tillwire.xml asks for
// them, its metrics, until a stop request.
void Capture(CaptureSession& session, boost::asio::io_context& eventQueue,
             FrameRouter<TerminalConnections>& router, const TerminalMatcher& matcher,
             const TerminalConnections& connections, const Configuration& configuration) {
  session.SetFilter(matcher);
  RunHealth health(configuration.tables.terminalTable, connections, router.Counts(),
                   *configuration.adapterAddress, &SetServiceStatusText,
                   std::chrono::steady_clock::now(), RunHealth::Intervals());
  std::optional<RunMetrics> metrics;
  if (configuration.metricsDirectory) {
    metrics.emplace(*configuration.metricsDirectory, configuration.tables.terminalTable,
                    connections, session, eventQueue);
  }
  try {
    RunCaptureLoop(session, eventQueue, router, nullptr, &health);
  } catch (const boost::thread_interrupted&) {
    if (metrics) metrics->WriteStopped();
    throw;
  }
}

// The terminals' forwarding from the started capture. The terminals'
// connections are gone when it returns. A stop request ends the forwarding
// with its log line; a playback's report is then made as after its end, of
// what was handed over so far.
int RunTerminals(CaptureSession& session, boost::asio::io_context& eventQueue,
                 const Configuration& configuration, bool playback,
                 std::vector<std::string>* report) {
  // Outlives the terminals, whose counts it follows at the end of the run.
  RejectionQuota rejectionLinesInAll(eventQueue);
  const Tables& tables = configuration.tables;
  // Logs the file's notes and the terminals' connections, after the source's line.
  TerminalConnections connections(tables, eventQueue, rejectionLinesInAll);
  if (tables.terminalTable.empty()) {
    LogLine(text::kNoTerminals);
    return kNoTerminalsResult;
  }
  const TerminalMatcher matcher(tables.terminalTable);
  FlowTracker flows;
  FrameRouter<TerminalConnections> router(matcher, flows, connections);
  int result = 0;
  try {
    if (playback) {
      result = Play(session, eventQueue, router, connections);
    } else {
      Capture(session, eventQueue, router, matcher, connections, configuration);
    }
  } catch (const boost::thread_interrupted&) {
    LogStop();
  }
  if (playback && report != nullptr) *report = PlaybackReport(tables.terminalTable, connections);
  return result;
}

// The run from its capture's start on. Every object it makes is gone when it
// returns: the terminals' connections, the capture session (which closes the
// handle), then the event queue. A stop request while a pipe's capture header
// was awaited ends the run with its log line.
OrStartFailure<int> RunCapture(const std::string& captureFile,
                               const Configuration& configuration,
                               std::vector<std::string>* report) {
  try {
    boost::asio::io_context eventQueue;
    // Polls must keep working while no operation is pending (an idle NVR).
    const auto keepServing = boost::asio::make_work_guard(eventQueue);
    CaptureStart start = StartCapture(captureFile, configuration.adapterAddress, eventQueue);
    if (StartFailure* failure = std::get_if<StartFailure>(&start)) return std::move(*failure);
    if (std::holds_alternative<StoppedBeforeCapture>(start)) {
      LogStop();
      return 0;
    }
    if (const auto* unsupported = std::get_if<UnsupportedLinkType>(&start)) {
      LogLine(unsupported->line);
      return kUnsupportedLinkTypeResult;
    }
    return RunTerminals(std::get<CaptureSession>(start), eventQueue, configuration,
                        !captureFile.empty(), report);
  } catch (const std::exception& error) {
    LogLine(text::ExceptionLine(error.what()));
    return kEngineErrorResult;
  }
}

}  // namespace

OrStartFailure<int> RunEngine(const std::string& captureFile, std::vector<std::string>* report) {
  LogLine(text::StartBannerLine());
  std::variant<Configuration, ConfigurationFailure> loaded = LoadConfiguration();
  if (const auto* failure = std::get_if<ConfigurationFailure>(&loaded)) {
    return StartFailureOf(*failure);
  }
  Configuration& configuration = std::get<Configuration>(loaded);
  // Logged with the file's other notes once the capture source is open.
  NoteNeverMatchingFilters(configuration.tables);
  const OrStartFailure<int> outcome = RunCapture(captureFile, configuration, report);
  if (const StartFailure* failure = std::get_if<StartFailure>(&outcome)) return *failure;
  const int result = std::get<int>(outcome);
  // A run without terminals, or of a capture it cannot decode, has said why.
  if (result != kNoTerminalsResult && result != kUnsupportedLinkTypeResult) {
    LogLine(text::kExiting);
  }
  return result;
}

void WaitForNvrs(boost::asio::io_context& eventQueue) {
  ServeUntil(eventQueue, std::chrono::steady_clock::now() + kNvrWait);
}

ReadEnd RunCaptureLoop(CaptureSession& session, boost::asio::io_context& eventQueue,
                       FrameRouter<TerminalConnections>& router, PlaybackPacer* pacer,
                       RunHealth* health) {
  RunLooks looks(session, eventQueue, pacer, health);
  return ReadFrames(
      session,
      [&router](const CapturedFrame& frame) {
        router.Route(frame.bytes, frame.capturedLength, frame.seconds, frame.link);
      },
      looks);
}

}  // namespace tillwire
