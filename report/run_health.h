// The running service's health, for the people who look after it: a status
// text for the service manager, an hourly summary line in the log, and one
// line when a terminal whose NVR is connected falls silent (a till that
// changed its address, a printer moved to another port) and one when its
// traffic comes back.
//
// All of it is read from counters that the frame path keeps anyway; nothing
// here runs per frame. Check is cheap when nothing is due.
#ifndef TILLWIRE_REPORT_RUN_HEALTH_H
#define TILLWIRE_REPORT_RUN_HEALTH_H

#include "capture/frame_counts.h"
#include "config/terminal.h"
#include "output/terminal_connections.h"

#include <boost/date_time/posix_time/ptime.hpp>

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace tillwire {

class RunHealth {
 public:
  using Clock = std::chrono::steady_clock;

  struct Intervals {
    Clock::duration status = std::chrono::seconds(10);   // the status text's refresh
    Clock::duration forwarded = std::chrono::minutes(1);  // the status text's "last minute"
    Clock::duration summary = std::chrono::hours(1);     // between two summary lines
    Clock::duration silence = std::chrono::hours(1);     // a silent terminal's line after
  };

  // Watches the table's terminals through their connections (in table order)
  // and the frames the run did not take (the router's counts), captured on the
  // adapter of adapterAddress; all three must outlive it.
  // reportStatus is called with each new status text (the service manager's,
  // see SetServiceStatusText). Starts watching at now.
  RunHealth(const TerminalTable& table, const TerminalConnections& connections,
            const FrameCounts& frames, std::string adapterAddress,
            void (*reportStatus)(const std::string& text), Clock::time_point now,
            Intervals intervals);

  // Does what is due at now: the status text, the summary line, the silent
  // terminals' lines. framesDropped is the capture's drop count so far.
  void Check(Clock::time_point now, std::uint64_t framesDropped);

 private:
  struct Watched {
    std::uint64_t matched;            // at the last look
    std::uint64_t matchedAtSummary;   // at the last summary
    Clock::time_point lastTraffic;    // when matched last grew (or watching began)
    boost::posix_time::ptime lastTrafficClock;
    bool silentLogged;
  };
  struct Sample {
    Clock::time_point at;
    std::uint64_t written;
  };

  void LookAtTerminals(Clock::time_point now);
  void ReportStatus(Clock::time_point now, std::uint64_t written);
  void LogSummary(const SessionCounts& sessions, std::uint64_t framesDropped);
  std::size_t NvrsConnected() const;
  SessionCounts AllSessions() const;

  const TerminalTable& table;
  const TerminalConnections& connections;
  const FrameCounts& frames;
  const std::string adapterAddress;
  void (*const reportStatus)(const std::string& text);
  const Intervals intervals;
  std::vector<Watched> watched;
  std::deque<Sample> samples;  // written bytes, a forwarded interval back
  std::string lastStatus;
  Clock::time_point nextStatus;
  Clock::time_point nextSummary;
  SessionCounts atSummary;
  std::uint64_t framesDroppedAtSummary = 0;
  FrameCounts framesAtSummary;
};

}  // namespace tillwire

#endif
