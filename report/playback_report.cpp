#include "report/playback_report.h"

#include "report/filter_notes.h"
#include "report/terminal_names.h"

#include <cstdint>
#include <utility>

namespace tillwire {

namespace {

std::string StateOf(const TerminalConnection& connection) {
  if (connection.NvrEverConnected()) return text::kNvrConnected;
  return connection.Listening() ? text::kNoNvrConnected : text::kPortNotBound;
}

// ", N not delivered: A reason, B reason", or nothing when all were handed.
std::string NotDelivered(const DeliveryCounts& counts) {
  const std::pair<std::uint64_t, const char*> reasons[] = {
      {counts.sessions.droppedBytes, text::kNvrNotKeepingUp},
      {counts.noNvr, text::kNoNvrConnected},
      {counts.portNotOpen, text::kPortNotBound},
      {counts.Unsettled(), text::kConnectionEnded},
  };
  std::uint64_t total = 0;
  std::string parts;
  for (const auto& reason : reasons) {
    if (reason.first == 0) continue;
    total += reason.first;
    parts += (parts.empty() ? "" : ", ") + GroupedCount(reason.first) + " " + reason.second;
  }
  if (total == 0) return std::string();
  return ", " + GroupedCount(total) + " not delivered: " + parts;
}

}  // namespace

std::vector<std::string> PlaybackReport(const TerminalTable& table,
                                        const TerminalConnections& connections) {
  std::vector<std::string> lines{text::kReportHeading};
  std::size_t terminal = 0;
  for (const auto& entry : table) {
    const TerminalConnection& connection = connections[terminal++];
    const DeliveryCounts counts = connection.Counts();
    lines.push_back("  " + TerminalName(entry.first, entry.second) + ": " + StateOf(connection) +
                    "; " + GroupedCount(counts.matched) + " bytes matched, " +
                    GroupedCount(counts.sessions.written) + " handed to the NVR" +
                    NotDelivered(counts) + NeverMatchingNote(entry.second.filter));
  }
  return lines;
}

}  // namespace tillwire
