#include "report/metrics_text.h"

#include <string>

namespace tillwire {

namespace {

// The reason label's values, in the order of Undelivered.
const char* const kReasonLabels[kUndeliveredReasons] = {
    "nvr_not_keeping_up", "no_nvr_connected", "port_not_bound", "connection_ended"};

// A metric's "# HELP" and "# TYPE" lines.
void Describe(std::string& text, const char* name, const char* type, const char* help) {
  text.append("# HELP ").append(name).append(" ").append(help).append("\n");
  text.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

// One sample: the name, the labels (already written, without braces; none
// when empty) and the value.
void Sample(std::string& text, const char* name, const std::string& labels,
            const std::string& value) {
  text.append(name);
  if (!labels.empty()) text.append("{").append(labels).append("}");
  text.append(" ").append(value).append("\n");
}

std::string Label(const char* name, const std::string& value) {
  return std::string(name) + "=\"" + EscapeLabelValue(value) + "\"";
}

std::string TerminalLabels(const TerminalMetrics& terminal) {
  return Label("terminal", terminal.terminal) + "," + Label("nvr_port", terminal.nvrPort);
}

// A metric of the terminals: one sample per terminal, its value read by value.
template <typename Value>
void TerminalMetric(std::string& text, const MetricsValues& values, const char* name,
                    const char* type, const char* help, Value value) {
  Describe(text, name, type, help);
  for (const TerminalMetrics& terminal : values.terminals) {
    Sample(text, name, TerminalLabels(terminal), std::to_string(value(terminal)));
  }
}

// A metric with one sample: its HELP and TYPE lines, then the sample.
void OneSample(std::string& text, const char* name, const char* type, const char* help,
               const std::string& labels, const std::string& value) {
  Describe(text, name, type, help);
  Sample(text, name, labels, value);
}

void WriteRunMetrics(std::string& text, const MetricsValues& values) {
  OneSample(text, "tillwire_build_info", "gauge", "Tillwire's version, in its label; always 1.",
            Label("version", values.version), "1");
  struct Unlabelled {
    const char* name;
    const char* type;
    const char* help;
    std::string value;
  };
  const Unlabelled metrics[] = {
      {"tillwire_start_time_seconds", "gauge",
       "When the running service started capturing, in seconds since the Unix epoch.",
       std::to_string(values.startSeconds)},
      {"tillwire_capturing", "gauge",
       "1 while the capture adapter is open, 0 while a lost adapter is looked for again and "
       "once the service has stopped.",
       values.capturing ? "1" : "0"},
      {"tillwire_capture_frames_total", "counter",
       "Frames the capture received through its filter, the dropped ones among them.",
       std::to_string(values.framesReceived)},
      {"tillwire_capture_dropped_frames_total", "counter",
       "Frames the kernel or the interface dropped before Tillwire could read them.",
       std::to_string(values.framesDropped)},
      {"tillwire_adapter_reopens_total", "counter",
       "Times a lost capture adapter was found and opened again.",
       std::to_string(values.adapterReopens)},
      {"tillwire_log_write_failures_total", "counter",
       "Log lines that Tillwire.log could not take (they went to standard output).",
       std::to_string(values.logWriteFailures)},
  };
  for (const Unlabelled& metric : metrics) {
    OneSample(text, metric.name, metric.type, metric.help, "", metric.value);
  }
}

void WriteTerminalMetrics(std::string& text, const MetricsValues& values) {
  TerminalMetric(text, values, "tillwire_terminal_matched_bytes_total", "counter",
                 "Payload bytes the terminal's filters matched, each TCP byte once.",
                 [](const TerminalMetrics& t) { return t.matchedBytes; });
  TerminalMetric(text, values, "tillwire_terminal_forwarded_bytes_total", "counter",
                 "Payload bytes written to the terminal's NVR.",
                 [](const TerminalMetrics& t) { return t.forwardedBytes; });
  const char undelivered[] = "tillwire_terminal_undelivered_bytes_total";
  Describe(text, undelivered, "counter",
           "Matched bytes that did not reach the NVR, by reason: nvr_not_keeping_up, "
           "no_nvr_connected, port_not_bound, connection_ended.");
  for (const TerminalMetrics& terminal : values.terminals) {
    for (std::size_t reason = 0; reason < kUndeliveredReasons; ++reason) {
      Sample(text, undelivered, TerminalLabels(terminal) + "," + Label("reason", kReasonLabels[reason]),
             std::to_string(terminal.undeliveredBytes[reason]));
    }
  }
  TerminalMetric(text, values, "tillwire_terminal_nvr_connected", "gauge",
                 "1 while the terminal's NVR is connected, else 0.",
                 [](const TerminalMetrics& t) { return t.nvrConnected ? 1 : 0; });
  TerminalMetric(text, values, "tillwire_terminal_last_match_timestamp_seconds", "gauge",
                 "When the terminal's filters last matched payload (to within 15 s), or the "
                 "start of capture before any, in seconds since the Unix epoch.",
                 [](const TerminalMetrics& t) { return t.lastMatchSeconds; });
  TerminalMetric(text, values, "tillwire_nvr_rejected_connections_total", "counter",
                 "Connections to the terminal's NvrPort refused: they came from another "
                 "address than its NVR's.",
                 [](const TerminalMetrics& t) { return t.rejectedConnections; });
}

}  // namespace

std::string MetricsText(const MetricsValues& values) {
  std::string text;
  WriteRunMetrics(text, values);
  WriteTerminalMetrics(text, values);
  return text;
}

std::string EscapeLabelValue(const std::string& value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (const char c : value) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace tillwire
