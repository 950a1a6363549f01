// The run's counters in the Prometheus text exposition format (version
// 0.0.4), as a textfile collector (node_exporter, windows_exporter) reads
// them: each metric with its "# HELP" and "# TYPE" lines, names with the
// "tillwire_" prefix in base units (seconds, bytes), counters ending in
// "_total".
//
// Made from plain values, so that the format is tested without a run; what
// the values mean is said where the run gathers them (RunMetrics).
#ifndef TILLWIRE_REPORT_METRICS_TEXT_H
#define TILLWIRE_REPORT_METRICS_TEXT_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tillwire {

// Why a terminal's matched bytes did not reach its NVR: the playback
// report's reasons, as the metrics' reason label names them.
enum class Undelivered { kNotKeepingUp, kNoNvr, kPortNotBound, kConnectionEnded };
inline constexpr std::size_t kUndeliveredReasons = 4;

struct TerminalMetrics {
  std::string terminal;  // the key, SrcAddress:SrcPort:DstAddress:DstPort
  std::string nvrPort;   // as written in Tillwire.xml
  std::uint64_t matchedBytes = 0;
  std::uint64_t forwardedBytes = 0;
  std::array<std::uint64_t, kUndeliveredReasons> undeliveredBytes{};  // by Undelivered
  bool nvrConnected = false;
  std::int64_t lastMatchSeconds = 0;  // Unix time
  std::uint64_t rejectedConnections = 0;
};

struct MetricsValues {
  std::string version;
  std::int64_t startSeconds = 0;  // Unix time
  bool capturing = false;
  std::uint64_t framesReceived = 0;
  std::uint64_t framesDropped = 0;
  std::uint64_t adapterReopens = 0;
  std::uint64_t logWriteFailures = 0;
  std::vector<TerminalMetrics> terminals;  // in table order
};

// The whole file's text: every metric once with its HELP and TYPE lines,
// then its samples (one per terminal, and per reason, for the terminals'
// metrics; a metric of the terminals has none when there are none). Lines
// end with "\n"; label values are escaped (EscapeLabelValue).
std::string MetricsText(const MetricsValues& values);

// A label value as the format writes it between its double quotes: a
// backslash, a double quote and a line feed as \\, \" and \n; every other
// byte as it is.
std::string EscapeLabelValue(const std::string& value);

}  // namespace tillwire

#endif
