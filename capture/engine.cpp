#include "capture/engine.h"

#include "capture/adapter_recovery.h"
#include "capture/capture_filter.h"
#include "capture/capture_source.h"
#include "capture/drop_report.h"
#include "capture/frame_decoder.h"
#include "capture/frame_reader.h"
#include "capture/link_layer.h"
#include "capture/playback_pacer.h"
#include "config/configuration.h"
#include "log/log_file.h"

#include <boost/thread/exceptions.hpp>
#include <boost/thread/thread.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

namespace tillwire {

namespace {

const int kNvrWaitRounds = 1000;
const std::chrono::milliseconds kNvrWaitStep(10);
const std::chrono::milliseconds kServiceInterval(1);
// Captured bytes read between two services at most; no NVR can fall further
// behind than this between two looks.
const std::uint64_t kServiceBytes = 256 * 1024;

// The run from the event queue on. Every object it makes is gone when it
// returns: terminals, tables, then the event queue.
int RunTerminals(pcap_t*& captureHandle, const Configuration& configuration, bool playback) {
  try {
    boost::asio::io_service eventQueue;
    // Polls must keep working while no operation is pending (an idle NVR).
    const boost::asio::io_service::work keepServing(eventQueue);
    // Outlives the terminals, whose counts it follows at the end of the run.
    RejectionQuota rejectionLinesInAll(eventQueue);
    const Tables tables =
        BuildTables(*configuration.document, ListenersOn(eventQueue, rejectionLinesInAll));
    if (tables.terminalTable.empty()) {
      LogFile::Instance().StartLine() << text::kNoTerminals << std::endl;
      return kNoTerminalsResult;
    }
    const TerminalMatcher matcher(tables.terminalTable);
    std::unique_ptr<PlaybackPacer> pacer;
    if (playback) {
      WaitForNvrs(eventQueue);
      pacer.reset(new PlaybackPacer(eventQueue, tables.terminalTable));
    } else {
      SetCaptureFilter(captureHandle, matcher);
    }
    const CaptureEnd end = RunCaptureLoop(captureHandle, eventQueue, matcher, pacer.get(),
                                          playback ? std::nullopt : configuration.adapterAddress);
    if (end == CaptureEnd::kEndOfFile) {
      LogFile::Instance().StartLine() << text::kEndOfFilePrefix << pcap_geterr(captureHandle)
                                      << std::endl;
    }
    // What came before a damaged part of a file is delivered as at its end.
    if (pacer) pacer->Drain();
    if (end == CaptureEnd::kReadError) return kDamagedCaptureResult;
  } catch (const boost::thread_interrupted&) {
    LogFile::Instance().StartLine() << text::kStopSignal << std::endl;
  } catch (const std::exception& error) {
    LogFile::Instance().StartLine() << text::kExceptionPrefix << error.what() << std::endl;
    return kEngineErrorResult;
  }
  return 0;
}

}  // namespace

int RunEngine(const std::string& captureFile) {
  LogFile::Instance().StartLine() << text::kStartBannerPrefix << text::kVersion << std::endl;
  const Configuration configuration = LoadConfiguration();
  pcap_t* captureHandle = OpenCaptureSource(captureFile, configuration.adapterAddress);
  if (!CaptureLinkLayer(captureHandle)) {
    pcap_close(captureHandle);
    return kUnsupportedLinkTypeResult;
  }
  const int result = RunTerminals(captureHandle, configuration, !captureFile.empty());
  // Null when a stop came while a lost adapter was being looked for.
  if (captureHandle != nullptr) pcap_close(captureHandle);
  if (result != kNoTerminalsResult) LogFile::Instance().StartLine() << text::kExiting << std::endl;
  return result;
}

ListenerFactory ListenersOn(boost::asio::io_service& eventQueue,
                            RejectionQuota& rejectionLinesInAll) {
  return [&eventQueue, &rejectionLinesInAll](const TerminalRecord& record) {
    return std::unique_ptr<TerminalConnection>(new TerminalConnection(
        eventQueue, record.nvrAddress, record.nvrPort, rejectionLinesInAll));
  };
}

void WaitForNvrs(boost::asio::io_service& eventQueue) {
  for (int round = 0; round < kNvrWaitRounds; ++round) {
    eventQueue.poll();
    std::this_thread::sleep_for(kNvrWaitStep);
  }
}

CaptureEnd RunCaptureLoop(pcap_t*& captureHandle, boost::asio::io_service& eventQueue,
                    const TerminalMatcher& matcher, PlaybackPacer* pacer,
                    const std::optional<std::string>& adapterAddress) {
  auto nextService = std::chrono::steady_clock::time_point();
  std::uint64_t bytesSinceService = 0;
  FlowTracker flows;
  // Only live capture drops frames.
  std::optional<DropReport> drops;
  if (adapterAddress) drops.emplace(captureHandle);
  bool readFailing = false;
  // Checked when the handle was opened. An adapter found again whose link
  // type has become one that the decoder does not know is read as before.
  LinkLayer link = LinkLayerOf(pcap_datalink(captureHandle)).value_or(LinkLayer::kEthernet);
  FrameReader reader(eventQueue, captureHandle);
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
      if (drops) drops->Check(now);
      nextService = now + kServiceInterval;
      bytesSinceService = 0;
    }
    pcap_pkthdr* header = nullptr;
    const unsigned char* frame = nullptr;
    const int result = reader.Next(&header, &frame);
    if (result == 1) {
      readFailing = false;
      ProcessFrame(frame, header->caplen, static_cast<std::uint32_t>(header->ts.tv_sec), matcher,
                   flows, link);
      bytesSinceService += header->caplen;
      continue;
    }
    if (result == -2) return CaptureEnd::kEndOfFile;
    if (result < 0) {
      // Errors repeat as fast as reads do once the adapter is gone: one line
      // for the whole episode, which lasts until a read works again.
      if (!readFailing) {
        LogFile::Instance().StartLine() << text::kReadErrorPrefix << pcap_geterr(captureHandle)
                                        << std::endl;
      }
      readFailing = true;
      if (!adapterAddress) return CaptureEnd::kReadError;
      reader.Release();
      pcap_close(captureHandle);
      captureHandle = nullptr;
      captureHandle = FindAdapterAgain(*adapterAddress, eventQueue);
      SetCaptureFilter(captureHandle, matcher);
      drops->Follow(captureHandle);
      reader.Follow(captureHandle);
      link = LinkLayerOf(pcap_datalink(captureHandle)).value_or(link);
    } else {
      readFailing = false;
    }
    nextService = std::chrono::steady_clock::time_point();
  }
}

}  // namespace tillwire
