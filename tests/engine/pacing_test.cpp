// A playback keeps pace with NVRs that read slowly, and does not wait long
// for one that has stopped reading.
#include "capture/engine.h"
#include "support/capture_writer.h"
#include "support/frame_builder.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"
#include "support/reading_nvr.h"
#include "support/terminal_tables.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

namespace {

TEST(PlaybackPacing, SlowNvrsGetEverythingAndAStuckOneCostsOthersNothing) {
  const char* sources[] = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
  const char* ports[] = {"0slow", "0stuck", "0fast"};  // all mean: a port the system picks
  boost::asio::io_service eventQueue;
  const boost::asio::io_service::work keepServing(eventQueue);
  std::vector<TerminalRecord> records;
  for (int t = 0; t < 3; ++t) records.push_back(RecordOf({sources[t], "", "", ""}, ports[t]));
  TerminalTable table = TableOf(records, ListenersOn(eventQueue));
  const auto port = [&table](const char* source) {
    return table.at(TerminalKey({source, "", "", ""}))->nvrConnection->ListeningEndpoint().port();
  };

  TempDirectory directory;
  std::string expected[3];
  {
    CaptureWriter capture(directory.Path() + "paced.pcap");
    // 16 MB for each NVR: more than the kernel's socket buffers take in.
    std::uint32_t sequences[3] = {};
    for (int n = 0; n < 1800; ++n) {
      FrameFields fields;
      fields.srcAddress = 0x0A000001u + static_cast<std::uint32_t>(n % 3);
      fields.payload = std::to_string(n) + std::string(27000, static_cast<char>('a' + n % 26));
      fields.tcpSequence = sequences[n % 3];
      sequences[n % 3] += static_cast<std::uint32_t>(fields.payload.size());
      capture.Write(BuildFrame(fields));
      expected[n % 3] += fields.payload;
    }
  }

  LogWatch watch;
  ReadingNvr slow(port(sources[0]), 65536, std::chrono::microseconds(2000));
  ReadingNvr stuck(port(sources[1]), 0);
  ReadingNvr fast(port(sources[2]));
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return AllNvrsConnected(table); }));

  char errorText[PCAP_ERRBUF_SIZE];
  pcap_t* handle = pcap_open_offline((directory.Path() + "paced.pcap").c_str(), errorText);
  ASSERT_NE(handle, nullptr) << errorText;
  const auto begin = std::chrono::steady_clock::now();
  {
    const TerminalMatcher matcher(table);
    PlaybackPacer pacer(eventQueue, table);
    RunCaptureLoop(handle, eventQueue, matcher, &pacer);
    DrainWrites(eventQueue, table, std::chrono::seconds(3));
  }
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::steady_clock::now() - begin);
  pcap_close(handle);
  table.clear();

  EXPECT_TRUE(slow.Received() == expected[0]) << slow.Received().size() << " bytes";
  EXPECT_TRUE(fast.Received() == expected[2]) << fast.Received().size() << " bytes";
  EXPECT_LT(seconds.count(), 20) << "waited too long for the stuck NVR";
  std::vector<std::string> overflows;
  for (const std::string& text : watch.Texts()) {
    if (text.find(" NVR is not keeping up") != std::string::npos) overflows.push_back(text);
  }
  ASSERT_EQ(overflows.size(), 1u);
  EXPECT_EQ(overflows[0].find("Terminal port 127.0.0.1:0stuck "), 0u) << overflows[0];
}

}  // namespace
