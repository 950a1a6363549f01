// The running service's counters for a chain's monitoring: written as
// tillwire.prom into a textfile collector's directory (MetricsTextfile, in
// MetricsText's format) when capture starts, every kInterval while it runs,
// also while a lost adapter is looked for again, and once more at the stop.
//
// All of it is read from counters that the frame path, the NVR connections,
// the capture and the log keep anyway; nothing here runs per frame. The
// writes run on the engine's event queue (a timer), which the run serves in
// its read loop and in every wait, so the file is kept fresh whatever the
// engine is doing. Counters never go down within the run.
#ifndef TILLWIRE_REPORT_RUN_METRICS_H
#define TILLWIRE_REPORT_RUN_METRICS_H

#include "config/terminal.h"
#include "output/terminal_connections.h"
#include "report/metrics_text.h"
#include "report/metrics_textfile.h"
#include "source/capture_session.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tillwire {

class RunMetrics {
 public:
  static constexpr std::chrono::seconds kInterval{15};

  // Watches the table's terminals through their connections (in table
  // order) and the live capture session; all must outlive it. Writes the
  // file into directory at once, then every interval on eventQueue.
  RunMetrics(const std::string& directory, const TerminalTable& table,
             const TerminalConnections& connections, CaptureSession& session,
             boost::asio::io_context& eventQueue,
             std::chrono::steady_clock::duration interval = kInterval);
  RunMetrics(const RunMetrics&) = delete;
  RunMetrics& operator=(const RunMetrics&) = delete;

  // The last write, at the stop: the counters as they are, and
  // tillwire_capturing 0. No write follows.
  void WriteStopped();

 private:
  void Write(bool running);
  void Rearm();
  void HandleTimer(const boost::system::error_code& error);
  MetricsValues Gather(bool running);

  const TerminalTable& table;
  const TerminalConnections& connections;
  CaptureSession& session;
  const std::chrono::steady_clock::duration interval;
  const std::int64_t startSeconds;
  MetricsTextfile file;
  // Per terminal: its matched bytes at the last write, and the Unix time of
  // the write that first saw them (the start, before any).
  struct LastMatch {
    std::uint64_t matched;
    std::int64_t seconds;
  };
  std::vector<LastMatch> lastMatches;
  // Last: cancelled first, before what its handler reads is gone.
  boost::asio::steady_timer timer;
};

}  // namespace tillwire

#endif
