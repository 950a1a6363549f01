#include "report/run_metrics.h"

#include "log/log_file.h"

#include <chrono>

namespace tillwire {

namespace {

std::int64_t UnixSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

RunMetrics::RunMetrics(const std::string& directory, const TerminalTable& table,
                       const TerminalConnections& connections, CaptureSession& session,
                       boost::asio::io_context& eventQueue,
                       std::chrono::steady_clock::duration interval)
    : table(table),
      connections(connections),
      session(session),
      interval(interval),
      startSeconds(UnixSeconds()),
      file(directory),
      timer(eventQueue) {
  for (std::size_t terminal = 0; terminal < connections.Size(); ++terminal) {
    lastMatches.push_back(LastMatch{connections[terminal].Counts().matched, startSeconds});
  }
  Write(true);
  Rearm();
}

void RunMetrics::WriteStopped() {
  timer.cancel();
  Write(false);
}

void RunMetrics::Write(bool running) { file.Write(MetricsText(Gather(running))); }

void RunMetrics::Rearm() {
  timer.expires_after(interval);
  timer.async_wait([this](const boost::system::error_code& error) { HandleTimer(error); });
}

// A cancelled wait (the stop, or this object going away) touches nothing.
void RunMetrics::HandleTimer(const boost::system::error_code& error) {
  if (error) return;
  Write(true);
  Rearm();
}

MetricsValues RunMetrics::Gather(bool running) {
  const std::int64_t now = UnixSeconds();
  session.UpdateCounters();
  MetricsValues values;
  values.version = TILLWIRE_VERSION;
  values.startSeconds = startSeconds;
  values.capturing = running && session.Capturing();
  values.framesReceived = session.FramesReceived();
  values.framesDropped = session.FramesDropped();
  values.adapterReopens = session.Reopens();
  values.logWriteFailures = LogFile::Instance().LinesNotWritten();
  std::size_t terminal = 0;
  for (const auto& entry : table) {
    const TerminalConnection& connection = connections[terminal];
    const DeliveryCounts counts = connection.Counts();
    LastMatch& last = lastMatches[terminal++];
    if (counts.matched != last.matched) last = LastMatch{counts.matched, now};
    TerminalMetrics metrics;
    metrics.terminal = entry.first;
    metrics.nvrPort = entry.second.nvrPort;
    metrics.matchedBytes = counts.matched;
    metrics.forwardedBytes = counts.sessions.written;
    metrics.undeliveredBytes = {counts.sessions.droppedBytes, counts.noNvr, counts.portNotOpen,
                                counts.Unsettled() - connection.BytesUnderWay()};
    metrics.nvrConnected = connection.NvrConnected();
    metrics.lastMatchSeconds = last.seconds;
    metrics.rejectedConnections = connection.Rejected();
    values.terminals.push_back(std::move(metrics));
  }
  return values;
}

}  // namespace tillwire
