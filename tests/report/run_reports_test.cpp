// What a run tells the people around it about its terminals: the report at
// the end of a playback and the running service's health, with real
// listeners and NVR connections on loopback and the time handed in.
#include "output/terminal_connections.h"
#include "report/playback_report.h"
#include "report/run_health.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"
#include "support/terminal_tables.h"

#include <boost/asio/ip/tcp.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace tillwire;

namespace {

// Three terminals: the first with its NVR connected, the second with none,
// the third on a port that something else holds.
class RunReportsTest : public testing::Test {
 protected:
  void SetUp() override {
    taken.open(boost::asio::ip::tcp::v4());
    taken.bind(boost::asio::ip::tcp::endpoint(boost::asio::ip::tcp::v4(), 0));
    taken.listen();
    const std::string takenPort = std::to_string(taken.local_endpoint().port());
    tables = TablesOf({RecordOf({"10.0.0.1", "", "", ""}, "0"),
                       RecordOf({"10.0.0.2", "", "", ""}, "00"),
                       RecordOf({"10.0.0.3", "", "", ""}, takenPort)});
    takenName = "terminal 10.0.0.3::: (NvrPort " + takenPort + ")";
    connections = std::make_unique<TerminalConnections>(tables, eventQueue, rejectionLines);
    nvr = std::make_unique<NvrClient>(eventQueue, (*connections)[0].ListeningEndpoint().port());
    ASSERT_TRUE(PollUntil(eventQueue, [&] { return (*connections)[0].NvrConnected(); }));
  }

  // Hands each terminal bytes, and waits until the NVR has them all.
  void Deliver(std::size_t terminal, const std::string& bytes) {
    connections->Deliver(terminal, reinterpret_cast<const unsigned char*>(bytes.data()),
                         static_cast<int>(bytes.size()));
    PollUntil(eventQueue, [&] { return !(*connections)[0].Sending(); });
  }

  boost::asio::io_context eventQueue;
  boost::asio::ip::tcp::acceptor taken{eventQueue};
  RejectionQuota rejectionLines{eventQueue};
  Tables tables;
  std::string takenName;
  std::unique_ptr<TerminalConnections> connections;
  std::unique_ptr<NvrClient> nvr;
};

TEST_F(RunReportsTest, PlaybackReportAccountsForEveryByte) {
  Deliver(0, std::string(12345, 'a'));
  Deliver(1, "no one listens");
  Deliver(2, std::string(2000, 'c'));
  EXPECT_EQ(PlaybackReport(tables.terminalTable, *connections),
            (std::vector<std::string>{
                "Playback report:",
                "  terminal 10.0.0.1::: (NvrPort 0): NVR connected; 12,345 bytes matched, 12,345 "
                "handed to the NVR",
                "  terminal 10.0.0.2::: (NvrPort 00): no NVR connected; 14 bytes matched, 0 handed "
                "to the NVR, 14 not delivered: 14 no NVR connected",
                "  " + takenName + ": port could not be bound; 2,000 bytes matched, 0 handed to "
                "the NVR, 2,000 not delivered: 2,000 port could not be bound",
            }));
}

// More than the NVR can be sent at once: what does not fit behind it is
// dropped, whole payloads, and the report says so.
TEST_F(RunReportsTest, PlaybackReportNamesAnNvrThatDidNotKeepUp) {
  const std::string payload(60000, 'p');
  for (int i = 0; i < 40; ++i) {
    connections->Deliver(0, reinterpret_cast<const unsigned char*>(payload.data()),
                         static_cast<int>(payload.size()));
  }
  const DeliveryCounts counts = (*connections)[0].Counts();
  EXPECT_EQ(counts.matched, 40u * 60000u);
  EXPECT_GT(counts.sessions.droppedBytes, 0u);
  EXPECT_EQ(counts.sessions.droppedBytes % 60000u, 0u) << "whole payloads are dropped";
  const std::string line = PlaybackReport(tables.terminalTable, *connections)[1];
  EXPECT_NE(line.find(" NVR not keeping up"), std::string::npos) << line;
}

std::vector<std::string>& StatusTexts() {
  static std::vector<std::string> texts;
  return texts;
}
void RecordStatus(const std::string& text) { StatusTexts().push_back(text); }

TEST_F(RunReportsTest, HealthTellsStatusSummaryAndSilentTerminals) {
  using std::chrono::minutes;
  using std::chrono::seconds;
  StatusTexts().clear();
  RunHealth::Intervals intervals;  // the service's: 10 s, a minute, an hour, an hour
  const auto start = RunHealth::Clock::time_point();
  LogWatch watch;
  // The frames the run decoded: those before the watch began are not the
  // hour's.
  FrameCounts frames;
  frames.Add(FrameKind::kFragment);
  RunHealth health(tables.terminalTable, *connections, frames, "127.0.0.1", &RecordStatus, start,
                   intervals);
  const auto count = [&frames](FrameKind kind, int times) {
    for (int i = 0; i < times; ++i) frames.Add(kind);
  };
  count(FrameKind::kPayload, 20);
  count(FrameKind::kNoPayload, 30);
  count(FrameKind::kNotIpv4, 1204);
  count(FrameKind::kFragment, 3);
  count(FrameKind::kNotTcpUdp, 12);
  health.Check(start, 0);
  Deliver(0, std::string(12345, 'a'));
  health.Check(start + seconds(5), 0);  // not due
  health.Check(start + seconds(10), 0);
  health.Check(start + seconds(20), 0);  // unchanged: not told again
  health.Check(start + seconds(70), 3);  // the bytes left the last minute
  EXPECT_EQ(StatusTexts(),
            (std::vector<std::string>{
                "Capturing on 127.0.0.1: 1 of 3 NVRs connected; 0 bytes forwarded in the last minute",
                "Capturing on 127.0.0.1: 1 of 3 NVRs connected; 12,345 bytes forwarded in the last "
                "minute",
                "Capturing on 127.0.0.1: 1 of 3 NVRs connected; 0 bytes forwarded in the last minute",
            }));
  EXPECT_TRUE(watch.Texts().empty());

  // An hour on: a summary; the terminals with an NVR and no traffic since
  // the bytes above stay quiet until their hour is full.
  health.Check(start + minutes(60), 7);
  Deliver(1, "x");  // no NVR: counts as traffic all the same
  health.Check(start + minutes(60) + seconds(10), 7);
  health.Check(start + minutes(61), 7);
  health.Check(start + minutes(62), 7);  // one line for the episode
  Deliver(0, "back");
  health.Check(start + minutes(63), 7);
  std::vector<std::string> lines = watch.Texts();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "Hourly summary: 1 of 3 terminals had traffic, 1 of 3 NVRs connected, 12,345 bytes "
            "forwarded, 0 payloads dropped, 7 frames dropped by the capture; not taken: 1,204 not "
            "IPv4, 3 fragmented, 0 truncated, 12 not TCP/UDP");
  EXPECT_EQ(lines[1].rfind("No traffic matched for terminal 10.0.0.1::: (NvrPort 0) since ", 0),
            0u)
      << lines[1];
  EXPECT_NE(lines[1].find(", while its NVR is connected"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[2], "Traffic matched again for terminal 10.0.0.1::: (NvrPort 0)");

  // The next hour's summary counts the frames of its hour.
  count(FrameKind::kTruncated, 1);
  health.Check(start + minutes(120), 7);
  lines = watch.Texts();
  ASSERT_EQ(lines.size(), 4u);
  const std::string notTaken = "; not taken: 0 not IPv4, 0 fragmented, 1 truncated, 0 not TCP/UDP";
  EXPECT_EQ(lines[3].substr(lines[3].size() - std::min(lines[3].size(), notTaken.size())),
            notTaken)
      << lines[3];
}

}  // namespace
