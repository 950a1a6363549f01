// What a run tells the people around it about its terminals: the report at
// the end of a playback and the running service's health, with real
// listeners and NVR connections on loopback and the time handed in.
#include "output/terminal_connections.h"
#include "report/playback_report.h"
#include "report/run_health.h"
#include "report/run_metrics.h"
#include "source/capture_session.h"
#include "support/metric_samples.h"
#include "support/temp_directory.h"
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

// The metrics file of a run: what became of each terminal's bytes, by
// reason, refused strangers, and a last write at the stop; written at the
// start and then on the event queue's timer. Bytes still under way to a
// connected NVR are not counted as lost, so no counter goes down.
TEST_F(RunReportsTest, MetricsFileFollowsTheTerminals) {
  TempDirectory textfile;
  const std::string path = textfile.Path() + "tillwire.prom";
  // A session without a live adapter: the capture's own counts stay 0.
  CaptureSession session(CaptureHandle(pcap_open_dead(DLT_EN10MB, 65535)), eventQueue,
                         std::nullopt);
  const std::string payload(60000, 'p');
  connections->Deliver(0, reinterpret_cast<const unsigned char*>(payload.data()),
                       static_cast<int>(payload.size()));
  std::optional<RunMetrics> metrics;
  metrics.emplace(textfile.Path(), tables.terminalTable, *connections, session, eventQueue,
                  std::chrono::milliseconds(20));
  const MetricLabels first{{"terminal", "10.0.0.1:::"}, {"nvr_port", "0"}};
  const MetricLabels second{{"terminal", "10.0.0.2:::"}, {"nvr_port", "00"}};
  const MetricLabels third{{"terminal", "10.0.0.3:::"},
                           {"nvr_port", std::to_string(taken.local_endpoint().port())}};
  const auto value = [&path](const std::string& name, MetricLabels labels) {
    return SampleValue(ReadFile(path), name, labels).value_or(-1);
  };
  const auto undelivered = [&value](const MetricLabels& terminal, const char* reason) {
    MetricLabels labels = terminal;
    labels["reason"] = reason;
    return value("tillwire_terminal_undelivered_bytes_total", labels);
  };
  // Written at once, before the payload left: under way, not lost.
  EXPECT_EQ(value("tillwire_capturing", {}), 1);
  EXPECT_EQ(value("tillwire_terminal_matched_bytes_total", first), 60000);
  EXPECT_EQ(value("tillwire_terminal_forwarded_bytes_total", first), 0);
  EXPECT_EQ(undelivered(first, "connection_ended"), 0);
  const double start = value("tillwire_start_time_seconds", {});
  EXPECT_EQ(value("tillwire_terminal_last_match_timestamp_seconds", second), start);

  // The last match is told in whole seconds: the next one's, here.
  PollUntil(eventQueue, [start] {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
               .count() > start;
  });
  Deliver(1, "no one listens");
  Deliver(2, std::string(2000, 'c'));
  NvrClient stranger(eventQueue, (*connections)[0].ListeningEndpoint().port(), "127.0.0.2");
  ASSERT_TRUE(PollUntil(eventQueue, [&] {
    return value("tillwire_terminal_forwarded_bytes_total", first) == 60000 &&
           value("tillwire_nvr_rejected_connections_total", first) == 1 &&
           value("tillwire_terminal_last_match_timestamp_seconds", second) > start;
  })) << ReadFile(path);
  EXPECT_EQ(value("tillwire_terminal_nvr_connected", first), 1);
  EXPECT_EQ(value("tillwire_terminal_nvr_connected", second), 0);
  EXPECT_EQ(undelivered(second, "no_nvr_connected"), 14);
  EXPECT_EQ(undelivered(third, "port_not_bound"), 2000);
  EXPECT_EQ(value("tillwire_terminal_matched_bytes_total", third), 2000);

  // An NVR that reconnects mid-way: what was under way to the old
  // connection is lost with it; every matched byte is accounted for.
  for (int i = 0; i < 40; ++i) {
    connections->Deliver(0, reinterpret_cast<const unsigned char*>(payload.data()),
                         static_cast<int>(payload.size()));
  }
  NvrClient again(eventQueue, (*connections)[0].ListeningEndpoint().port());
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return again.Connected() && !(*connections)[0].Sending(); }));
  metrics->WriteStopped();
  EXPECT_EQ(value("tillwire_capturing", {}), 0);
  const double matched = value("tillwire_terminal_matched_bytes_total", first);
  EXPECT_EQ(matched, 41 * 60000);
  EXPECT_EQ(value("tillwire_terminal_forwarded_bytes_total", first) +
                undelivered(first, "nvr_not_keeping_up") + undelivered(first, "connection_ended") +
                undelivered(first, "no_nvr_connected") + undelivered(first, "port_not_bound"),
            matched);
  const std::string stopped = ReadFile(path);
  ASSERT_FALSE(PollUntil(eventQueue, [&] { return ReadFile(path) != stopped; },
                         std::chrono::milliseconds(100)))
      << "written after the stop";
}

}  // namespace
