// The metrics file: its text in the exposition format, and its replacement
// in a textfile collector's directory.
#include "report/metrics_text.h"
#include "report/metrics_textfile.h"
#include "support/log_watch.h"
#include "support/metric_samples.h"
#include "support/temp_directory.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tillwire;

namespace {

// A terminal whose key holds the characters a label value must escape
// (a filter's text is the installer's, quotes and all), beside a plain one.
MetricsValues TwoTerminals() {
  const TerminalMetrics plain{"192.168.10.31:::", "5001", 1000, 900, {60, 30, 0, 10},
                              true, 1765450015, 3};
  const TerminalMetrics odd{"a\"b\\c\nd:::", "05002", 0, 0, {}, false, 1765450000, 0};
  return MetricsValues{"1.2.6.72482", 1765450000, true, 12345, 7, 1, 2, {plain, odd}};
}

TEST(MetricsText, WritesEveryMetricWithHelpAndType) {
  const std::string odd = R"(terminal="a\"b\\c\nd:::",nvr_port="05002")";
  const std::string plain = R"(terminal="192.168.10.31:::",nvr_port="5001")";
  const std::string expected =
      "# HELP tillwire_build_info Tillwire's version, in its label; always 1.\n"
      "# TYPE tillwire_build_info gauge\n"
      "tillwire_build_info{version=\"1.2.6.72482\"} 1\n"
      "# HELP tillwire_start_time_seconds When the running service started capturing, in "
      "seconds since the Unix epoch.\n"
      "# TYPE tillwire_start_time_seconds gauge\n"
      "tillwire_start_time_seconds 1765450000\n"
      "# HELP tillwire_capturing 1 while the capture adapter is open, 0 while a lost adapter is "
      "looked for again and once the service has stopped.\n"
      "# TYPE tillwire_capturing gauge\n"
      "tillwire_capturing 1\n"
      "# HELP tillwire_capture_frames_total Frames the capture received through its filter, the "
      "dropped ones among them.\n"
      "# TYPE tillwire_capture_frames_total counter\n"
      "tillwire_capture_frames_total 12345\n"
      "# HELP tillwire_capture_dropped_frames_total Frames the kernel or the interface dropped "
      "before Tillwire could read them.\n"
      "# TYPE tillwire_capture_dropped_frames_total counter\n"
      "tillwire_capture_dropped_frames_total 7\n"
      "# HELP tillwire_adapter_reopens_total Times a lost capture adapter was found and opened "
      "again.\n"
      "# TYPE tillwire_adapter_reopens_total counter\n"
      "tillwire_adapter_reopens_total 1\n"
      "# HELP tillwire_log_write_failures_total Log lines that Tillwire.log could not take (they "
      "went to standard output).\n"
      "# TYPE tillwire_log_write_failures_total counter\n"
      "tillwire_log_write_failures_total 2\n"
      "# HELP tillwire_terminal_matched_bytes_total Payload bytes the terminal's filters "
      "matched, each TCP byte once.\n"
      "# TYPE tillwire_terminal_matched_bytes_total counter\n"
      "tillwire_terminal_matched_bytes_total{" + plain + "} 1000\n"
      "tillwire_terminal_matched_bytes_total{" + odd + "} 0\n"
      "# HELP tillwire_terminal_forwarded_bytes_total Payload bytes written to the terminal's "
      "NVR.\n"
      "# TYPE tillwire_terminal_forwarded_bytes_total counter\n"
      "tillwire_terminal_forwarded_bytes_total{" + plain + "} 900\n"
      "tillwire_terminal_forwarded_bytes_total{" + odd + "} 0\n"
      "# HELP tillwire_terminal_undelivered_bytes_total Matched bytes that did not reach the "
      "NVR, by reason: nvr_not_keeping_up, no_nvr_connected, port_not_bound, "
      "connection_ended.\n"
      "# TYPE tillwire_terminal_undelivered_bytes_total counter\n"
      "tillwire_terminal_undelivered_bytes_total{" + plain + ",reason=\"nvr_not_keeping_up\"} 60\n"
      "tillwire_terminal_undelivered_bytes_total{" + plain + ",reason=\"no_nvr_connected\"} 30\n"
      "tillwire_terminal_undelivered_bytes_total{" + plain + ",reason=\"port_not_bound\"} 0\n"
      "tillwire_terminal_undelivered_bytes_total{" + plain + ",reason=\"connection_ended\"} 10\n"
      "tillwire_terminal_undelivered_bytes_total{" + odd + ",reason=\"nvr_not_keeping_up\"} 0\n"
      "tillwire_terminal_undelivered_bytes_total{" + odd + ",reason=\"no_nvr_connected\"} 0\n"
      "tillwire_terminal_undelivered_bytes_total{" + odd + ",reason=\"port_not_bound\"} 0\n"
      "tillwire_terminal_undelivered_bytes_total{" + odd + ",reason=\"connection_ended\"} 0\n"
      "# HELP tillwire_terminal_nvr_connected 1 while the terminal's NVR is connected, else 0.\n"
      "# TYPE tillwire_terminal_nvr_connected gauge\n"
      "tillwire_terminal_nvr_connected{" + plain + "} 1\n"
      "tillwire_terminal_nvr_connected{" + odd + "} 0\n"
      "# HELP tillwire_terminal_last_match_timestamp_seconds When the terminal's filters last "
      "matched payload (to within 15 s), or the start of capture before any, in seconds since "
      "the Unix epoch.\n"
      "# TYPE tillwire_terminal_last_match_timestamp_seconds gauge\n"
      "tillwire_terminal_last_match_timestamp_seconds{" + plain + "} 1765450015\n"
      "tillwire_terminal_last_match_timestamp_seconds{" + odd + "} 1765450000\n"
      "# HELP tillwire_nvr_rejected_connections_total Connections to the terminal's NvrPort "
      "refused: they came from another address than its NVR's.\n"
      "# TYPE tillwire_nvr_rejected_connections_total counter\n"
      "tillwire_nvr_rejected_connections_total{" + plain + "} 3\n"
      "tillwire_nvr_rejected_connections_total{" + odd + "} 0\n";
  EXPECT_EQ(MetricsText(TwoTerminals()), expected);
}

TEST(MetricsText, EscapesLabelValues) {
  const std::pair<std::string, std::string> cases[] = {
      {"192.168.10.31:::", "192.168.10.31:::"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"C:\\till", "C:\\\\till"},
      {"two\nlines", "two\\nlines"},
      {"\\\"\n", "\\\\\\\"\\n"},
      {"tab\tand CR\r stay", "tab\tand CR\r stay"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeLabelValue(c.first), c.second) << c.first;
}

TEST(MetricsTextfile, ReplacesTheFileWholeAndLeavesNothingElse) {
  TempDirectory directory;
  MetricsTextfile file(directory.Path());
  EXPECT_EQ(file.Path(), directory.Path() + "tillwire.prom");
  // A temporary file left by a run that ended mid-write is written over.
  WriteFile(file.Path() + ".tmp", "left over");
  ASSERT_TRUE(file.Write("first 1\n"));
  EXPECT_EQ(ReadFile(file.Path()), "first 1\n");
  ASSERT_TRUE(file.Write("second 2\n"));
  EXPECT_EQ(ReadFile(file.Path()), "second 2\n") << "binary: a line feed on every system";
  std::vector<std::string> names;
  for (const auto& entry : boost::filesystem::directory_iterator(directory.Path())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"tillwire.prom"});
}

// A directory that cannot be written: one line per episode, the run goes
// on, and the file is written once the directory is there.
TEST(MetricsTextfile, ADirectoryThatCannotBeWrittenGivesOneLinePerEpisode) {
  TempDirectory parent;
  const std::string directory = parent.Path() + "textfile";
  MetricsTextfile file(directory);
  LogWatch watch;
  EXPECT_FALSE(file.Write("a 1\n"));
  EXPECT_FALSE(file.Write("a 2\n"));
  boost::filesystem::create_directory(directory);
  EXPECT_TRUE(file.Write("a 3\n"));
  EXPECT_EQ(ReadFile(file.Path()), "a 3\n");
  boost::filesystem::remove_all(directory);
  EXPECT_FALSE(file.Write("a 4\n"));
  const std::vector<std::string> texts = watch.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], texts[1]);
  EXPECT_EQ(texts[0].rfind(text::MetricsNotWrittenLine(file.Path(), ""), 0), 0u) << texts[0];
  EXPECT_GT(texts[0].size(), text::MetricsNotWrittenLine(file.Path(), "").size())
      << "the system's reason follows";
}

}  // namespace
