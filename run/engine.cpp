#include "run/engine.h"

#include "config/configuration.h"
#include "log/log_file.h"
#include "platform/service_status_text.h"
#include "report/playback_report.h"
#include "source/capture_source.h"
#include "source/event_queue_wait.h"

#include <boost/thread/exceptions.hpp>
#include <boost/thread/thread.hpp>

#include <cstdint>
#include <optional>

namespace tillwire {

namespace {

const std::chrono::seconds kNvrWait(10);
const std::chrono::milliseconds kServiceInterval(1);
// Captured bytes read between two services at most; no NVR can fall further
// behind than this between two looks.
const std::uint64_t kServiceBytes = 256 * 1024;

void LogStop() { LogFile::Instance().StartLine() << text::kStopSignal << std::endl; }

// The run's capture source; null after a stop request that came while a
// pipe's capture header was awaited (the stop logged).
OrStartFailure<pcap_t*> OpenSourceUnlessStopped(const std::string& captureFile,
                                                const Configuration& configuration) {
  try {
    return OpenCaptureSource(captureFile, configuration.adapterAddress);
  } catch (const boost::thread_interrupted&) {
    LogStop();
    return nullptr;
  }
}

// The playback's forwarding: the NVRs' wait, the replay at the pace of the
// NVRs that read, and the drain of the writes under way at the end of the
// file or at a damaged part of it (what came before it is delivered as at
// the end). Returns 0, or kDamagedCaptureResult after a damaged part.
int Play(CaptureSession& session, boost::asio::io_context& eventQueue,
         FrameRouter<TerminalConnections>& router, const TerminalConnections& connections) {
  WaitForNvrs(eventQueue);
  PlaybackPacer pacer(eventQueue, connections);
  const CaptureEnd end = RunCaptureLoop(session, eventQueue, router, &pacer);
  if (end == CaptureEnd::kEndOfFile) {
    LogFile::Instance().StartLine() << text::kEndOfFilePrefix << session.ErrorText() << std::endl;
  }
  pacer.Drain();
  return end == CaptureEnd::kReadError ? kDamagedCaptureResult : 0;
}

// Live capture, with the service's health, until a stop request.
void Capture(CaptureSession& session, boost::asio::io_context& eventQueue,
             FrameRouter<TerminalConnections>& router, const TerminalMatcher& matcher,
             const Tables& tables, const TerminalConnections& connections,
             const Configuration& configuration) {
  session.SetFilter(matcher);
  RunHealth health(tables.terminalTable, connections, router.Counts(),
                   *configuration.adapterAddress,
                   &SetServiceStatusText, std::chrono::steady_clock::now(),
                   RunHealth::Intervals());
  RunCaptureLoop(session, eventQueue, router, nullptr, &health);
}

// The run from the event queue on, with the opened capture handle. Every
// object it makes is gone when it returns: the terminals' connections,
// tables, the capture session (which closes the handle), then the event
// queue. A stop request ends the forwarding with its log line; a playback's
// report is then made as after its end, of what was handed over so far.
int RunTerminals(pcap_t* captureHandle, const Configuration& configuration, bool playback,
                 std::vector<std::string>* report) {
  try {
    boost::asio::io_context eventQueue;
    // Polls must keep working while no operation is pending (an idle NVR).
    const auto keepServing = boost::asio::make_work_guard(eventQueue);
    CaptureSession session(captureHandle, eventQueue,
                           playback ? std::nullopt : configuration.adapterAddress);
    // Outlives the terminals, whose counts it follows at the end of the run.
    RejectionQuota rejectionLinesInAll(eventQueue);
    const Tables tables = BuildTables(*configuration.document);
    TerminalConnections connections(tables, eventQueue, rejectionLinesInAll);
    if (tables.terminalTable.empty()) {
      LogFile::Instance().StartLine() << text::kNoTerminals << std::endl;
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
        Capture(session, eventQueue, router, matcher, tables, connections, configuration);
      }
    } catch (const boost::thread_interrupted&) {
      LogStop();
    }
    if (playback && report != nullptr) *report = PlaybackReport(tables.terminalTable, connections);
    return result;
  } catch (const std::exception& error) {
    LogFile::Instance().StartLine() << text::kExceptionPrefix << error.what() << std::endl;
    return kEngineErrorResult;
  }
}

}  // namespace

OrStartFailure<int> RunEngine(const std::string& captureFile, std::vector<std::string>* report) {
  LogFile::Instance().StartLine() << text::kStartBannerPrefix << text::kVersion << std::endl;
  const std::variant<Configuration, ConfigurationFailure> loaded = LoadConfiguration();
  if (const auto* failure = std::get_if<ConfigurationFailure>(&loaded)) {
    return StartFailureOf(*failure);
  }
  const Configuration& configuration = std::get<Configuration>(loaded);
  const OrStartFailure<pcap_t*> opened = OpenSourceUnlessStopped(captureFile, configuration);
  if (const StartFailure* failure = std::get_if<StartFailure>(&opened)) return *failure;
  pcap_t* captureHandle = std::get<pcap_t*>(opened);
  if (captureHandle != nullptr && !CaptureLinkLayer(captureHandle)) {
    pcap_close(captureHandle);
    return kUnsupportedLinkTypeResult;
  }
  const int result = captureHandle == nullptr ? 0
                     : RunTerminals(captureHandle, configuration, !captureFile.empty(), report);
  if (result != kNoTerminalsResult) LogFile::Instance().StartLine() << text::kExiting << std::endl;
  return result;
}

void WaitForNvrs(boost::asio::io_context& eventQueue) {
  ServeUntil(eventQueue, std::chrono::steady_clock::now() + kNvrWait);
}

CaptureEnd RunCaptureLoop(CaptureSession& session, boost::asio::io_context& eventQueue,
                          FrameRouter<TerminalConnections>& router, PlaybackPacer* pacer,
                          RunHealth* health) {
  auto nextService = std::chrono::steady_clock::time_point();
  std::uint64_t bytesSinceService = 0;
  bool readFailing = false;
  for (;;) {
    // The event queue (accepts, finished writes) and stop requests are served
    // every millisecond, every 256 KiB and after every read that found no
    // frame, rather than before every frame: a poll is a system call, and
    // writes that wait a little go out together. A stop on a quiet network,
    // or on one that carries only other protocols, still ends the run
    // promptly.
    const auto now = std::chrono::steady_clock::now();
    if (now >= nextService || bytesSinceService >= kServiceBytes) {
      eventQueue.poll();
      boost::this_thread::interruption_point();
      if (pacer != nullptr) pacer->CatchUp();
      session.Check(now);
      if (health != nullptr) health->Check(now, session.FramesDropped());
      nextService = now + kServiceInterval;
      bytesSinceService = 0;
    }
    pcap_pkthdr* header = nullptr;
    const unsigned char* frame = nullptr;
    const int result = session.Next(&header, &frame);
    if (result == 1) {
      readFailing = false;
      router.Route(frame, header->caplen, static_cast<std::uint32_t>(header->ts.tv_sec),
                   session.Link());
      bytesSinceService += header->caplen;
      continue;
    }
    if (result == -2) return CaptureEnd::kEndOfFile;
    if (result < 0) {
      // Errors repeat as fast as reads do once the adapter is gone: one line
      // for the whole episode, which lasts until a read works again.
      if (!readFailing) {
        LogFile::Instance().StartLine() << text::kReadErrorPrefix << session.ErrorText()
                                        << std::endl;
      }
      readFailing = true;
      if (!session.Live()) return CaptureEnd::kReadError;
      session.Reopen();
    } else {
      readFailing = false;
    }
    nextService = std::chrono::steady_clock::time_point();
  }
}

}  // namespace tillwire
