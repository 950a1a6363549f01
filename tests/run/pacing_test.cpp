// A playback keeps pace with NVRs that read slowly, and does not wait long
// for one that has stopped reading.
#include "run/engine.h"
#include "support/capture_writer.h"
#include "support/frame_builder.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"
#include "support/reading_nvr.h"
#include "support/temp_directory.h"
#include "support/terminal_tables.h"

#include <gtest/gtest.h>

#include <memory>

using namespace tillwire;

namespace {

// Terminals 10.0.0.1, 10.0.0.2, ... on ports the system picks, a capture file
// that gives them their payloads in turn, and the replay of that file with
// the playback's pacing and final drain.
class PlaybackPacing : public testing::Test {
 protected:
  void AddTerminals(int count) {
    std::vector<TerminalRecord> records;
    for (int t = 0; t < count; ++t) {
      // "0" and any suffix: a port the system picks, with a name of its own.
      records.push_back(RecordOf(Filter(t), "0terminal" + std::to_string(t)));
    }
    const Tables tables = TablesOf(records);
    table = tables.terminalTable;
    connections = std::make_unique<TerminalConnections>(tables, eventQueue, rejectionLines);
    expected.resize(static_cast<std::size_t>(count));
  }
  unsigned short Port(int terminal) const {
    return (*connections)[IndexOf(table, Filter(terminal))].ListeningEndpoint().port();
  }
  // Frames of payloadSize bytes, to each terminal in turn.
  void WriteCapture(int frames, std::size_t payloadSize) {
    CaptureWriter capture(CapturePath());
    std::vector<std::uint32_t> sequences(expected.size());
    for (int n = 0; n < frames; ++n) {
      const int terminal = n % static_cast<int>(expected.size());
      FrameFields fields;
      fields.srcAddress = 0x0A000001u + static_cast<std::uint32_t>(terminal);
      fields.payload = std::to_string(n) + ";";
      fields.payload.resize(payloadSize, static_cast<char>('a' + n % 26));
      // Each terminal's frames continue one TCP stream, as a real capture does.
      fields.tcpSequence = sequences[static_cast<std::size_t>(terminal)];
      sequences[static_cast<std::size_t>(terminal)] += static_cast<std::uint32_t>(payloadSize);
      capture.Write(BuildFrame(fields));
      expected[static_cast<std::size_t>(terminal)] += fields.payload;
    }
  }
  // Waits for every NVR to be connected, then replays the capture and drains
  // the writes; returns how long that took.
  std::chrono::seconds Replay() {
    EXPECT_TRUE(PollUntil(eventQueue, [&] { return connections->AllNvrsConnected(); }));
    char errorText[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_open_offline(CapturePath().c_str(), errorText);
    EXPECT_NE(handle, nullptr) << errorText;
    if (handle == nullptr) return std::chrono::seconds(0);
    const auto begin = std::chrono::steady_clock::now();
    {
      CaptureSession session(CaptureHandle(handle), eventQueue, std::nullopt);
      const TerminalMatcher matcher(table);
      FlowTracker flows;
      FrameRouter<TerminalConnections> router(matcher, flows, *connections);
      PlaybackPacer pacer(eventQueue, *connections);
      RunCaptureLoop(session, eventQueue, router, &pacer);
      pacer.Drain();
    }
    const auto took = std::chrono::steady_clock::now() - begin;
    connections.reset();  // closes the connections: the NVRs' reads end
    return std::chrono::duration_cast<std::chrono::seconds>(took);
  }
  std::vector<std::string> Overflows() const {
    std::vector<std::string> overflows;
    for (const std::string& text : watch.Texts()) {
      if (text.find(" NVR is not keeping up") != std::string::npos) overflows.push_back(text);
    }
    return overflows;
  }

  static TerminalFilter Filter(int terminal) {
    return TerminalFilter{"10.0.0." + std::to_string(terminal + 1), "", "", ""};
  }
  std::string CapturePath() const { return directory.Path() + "paced.pcap"; }

  LogWatch watch;
  TempDirectory directory;
  boost::asio::io_context eventQueue;
  RejectionQuota rejectionLines{eventQueue};
  const boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepServing =
      boost::asio::make_work_guard(eventQueue);
  TerminalTable table;
  std::unique_ptr<TerminalConnections> connections;
  std::vector<std::string> expected;
};

TEST_F(PlaybackPacing, SlowNvrsGetEverythingAndAStuckOneCostsOthersNothing) {
  AddTerminals(3);
  // 16 MB for each NVR: more than the kernel's socket buffers take in.
  WriteCapture(1800, 27000);
  ReadingNvr slow(Port(0), 65536, std::chrono::microseconds(2000));
  ReadingNvr stuck(Port(1), 0);
  ReadingNvr fast(Port(2));

  const auto seconds = Replay();

  EXPECT_TRUE(slow.Received() == expected[0]) << slow.Received().size() << " bytes";
  EXPECT_TRUE(fast.Received() == expected[2]) << fast.Received().size() << " bytes";
  EXPECT_LT(seconds, PlaybackPacer::kPatience + std::chrono::seconds(15))
      << "waited too long for the stuck NVR";
  const std::vector<std::string> overflows = Overflows();
  ASSERT_EQ(overflows.size(), 1u);
  EXPECT_EQ(overflows[0].find("Terminal port 127.0.0.1:0terminal1 "), 0u) << overflows[0];
}

// An NVR that reads little at a time but steadily (about 32 KB/s, with small
// socket buffers) takes many seconds for what the replay hands over in an
// instant, during the replay and in the drain at the end; it is waited for
// and receives every byte.
TEST_F(PlaybackPacing, ASteadySlowNvrReceivesEveryByte) {
  AddTerminals(1);
  WriteCapture(60, 12000);  // 720 KB
  ReadingNvr steady(Port(0), 4096, std::chrono::milliseconds(125), true);

  Replay();

  EXPECT_TRUE(steady.Received() == expected[0])
      << steady.Received().size() << " of " << expected[0].size() << " bytes";
  EXPECT_TRUE(Overflows().empty());
}

// An NVR that reads 2,000 bytes every 100 ms (20 KB/s) with the systems'
// default buffers: its system acknowledges what it reads in steps seconds
// apart. The capture is a few hundred KB more than the buffers take in (on
// loopback the sending system's grows to 4 MB), so the drain at the end waits
// through many such steps: the system takes the rest only once about a third
// of its buffer is free, about a minute; the NVR receives every byte. Once the
// run has closed the connection, the NVR reads the rest at full speed, to
// keep the test short: the system delivers it at any pace.
TEST_F(PlaybackPacing, AnNvrReadingTwentyKilobytesASecondReceivesEveryByte) {
  AddTerminals(1);
  WriteCapture(300, 15000);  // 4.5 MB
  ReadingNvr steady(Port(0), 2000, std::chrono::milliseconds(100));

  const auto seconds = Replay();
  steady.ReadAtFullSpeed();

  EXPECT_GT(seconds, std::chrono::seconds(10)) << "never behind: the capture is too small";
  EXPECT_TRUE(steady.Received() == expected[0])
      << steady.Received().size() << " of " << expected[0].size() << " bytes";
  EXPECT_TRUE(Overflows().empty());
}

}  // namespace
