#include "report/run_health.h"

#include "log/log_file.h"
#include "report/terminal_names.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include <utility>

namespace tillwire {

namespace {

boost::posix_time::ptime WallClock() { return boost::posix_time::second_clock::local_time(); }

// What an hourly summary tells; counts are of the hour unless said otherwise.
struct HourCounts {
  std::size_t terminalsWithTraffic;
  std::size_t terminals;
  std::size_t nvrsConnected;  // now
  std::uint64_t bytesForwarded;
  std::uint64_t payloadsDropped;
  std::uint64_t framesDropped;  // by the capture
  FrameCounts frames;           // not taken, by reason
};

// "Hourly summary: T of N terminals had traffic, C of N NVRs connected, B
// bytes forwarded, P payloads dropped, F frames dropped by the capture; not
// taken: ..." with the frames not taken by reason.
std::string SummaryLine(const HourCounts& hour) {
  const std::string terminals = std::to_string(hour.terminals);
  return "Hourly summary: " + std::to_string(hour.terminalsWithTraffic) + " of " + terminals +
         " terminals had traffic, " + std::to_string(hour.nvrsConnected) + " of " + terminals +
         " NVRs connected, " + GroupedCount(hour.bytesForwarded) + " bytes forwarded, " +
         GroupedCount(hour.payloadsDropped) + " payloads dropped, " +
         GroupedCount(hour.framesDropped) + " frames dropped by the capture" +
         "; not taken: " + FramesNotTaken(hour.frames);
}

// "No traffic matched for <terminal> since TIME, while its NVR is connected"
std::string SilentLine(const std::string& terminal, const boost::posix_time::ptime& since) {
  return "No traffic matched for " + terminal + " since " + FormatTimestamp(since) +
         ", while its NVR is connected";
}

// "Traffic matched again for <terminal>"
std::string TrafficBackLine(const std::string& terminal) {
  return "Traffic matched again for " + terminal;
}

// "Capturing on ADDRESS: C of N NVRs connected; B bytes forwarded in the last
// minute"
std::string StatusText(const std::string& adapterAddress, std::size_t nvrsConnected,
                       std::size_t nvrs, std::uint64_t forwarded) {
  return "Capturing on " + adapterAddress + ": " + std::to_string(nvrsConnected) + " of " +
         std::to_string(nvrs) + " NVRs connected; " + GroupedCount(forwarded) +
         " bytes forwarded in the last minute";
}

}  // namespace

RunHealth::RunHealth(const TerminalTable& table, const TerminalConnections& connections,
                     const FrameCounts& frames, std::string adapterAddress,
                     void (*reportStatus)(const std::string& text), Clock::time_point now,
                     Intervals intervals)
    : table(table),
      connections(connections),
      frames(frames),
      adapterAddress(std::move(adapterAddress)),
      reportStatus(reportStatus),
      intervals(intervals),
      nextStatus(now),
      nextSummary(now + intervals.summary),
      framesAtSummary(frames) {
  for (std::size_t terminal = 0; terminal < connections.Size(); ++terminal) {
    const std::uint64_t matched = connections[terminal].Counts().matched;
    watched.push_back(Watched{matched, matched, now, WallClock(), false});
  }
}

void RunHealth::Check(Clock::time_point now, std::uint64_t framesDropped) {
  if (now < nextStatus) return;
  nextStatus = now + intervals.status;
  LookAtTerminals(now);
  const SessionCounts sessions = AllSessions();
  ReportStatus(now, sessions.written);
  if (now >= nextSummary) {
    nextSummary = now + intervals.summary;
    LogSummary(sessions, framesDropped);
  }
}

// A terminal whose NVR is connected and that matched nothing for the silence
// interval gets one line for the episode; its next traffic another.
void RunHealth::LookAtTerminals(Clock::time_point now) {
  std::size_t terminal = 0;
  for (const auto& entry : table) {
    Watched& watch = watched[terminal];
    const TerminalConnection& connection = connections[terminal++];
    const std::uint64_t matched = connection.Counts().matched;
    if (matched != watch.matched) {
      watch.matched = matched;
      watch.lastTraffic = now;
      watch.lastTrafficClock = WallClock();
      if (watch.silentLogged) {
        LogLine(TrafficBackLine(TerminalName(entry.first, entry.second)));
      }
      watch.silentLogged = false;
    } else if (!watch.silentLogged && connection.NvrConnected() &&
               now - watch.lastTraffic >= intervals.silence) {
      LogLine(SilentLine(TerminalName(entry.first, entry.second), watch.lastTrafficClock));
      watch.silentLogged = true;
    }
  }
}

// The status text, told again only when it changed.
void RunHealth::ReportStatus(Clock::time_point now, std::uint64_t written) {
  samples.push_back(Sample{now, written});
  // The oldest sample kept is the newest one at least a forwarded interval old.
  while (samples.size() > 1 && now - samples[1].at >= intervals.forwarded) samples.pop_front();
  const std::string status = StatusText(adapterAddress, NvrsConnected(), connections.Size(),
                                        written - samples.front().written);
  if (status == lastStatus) return;
  lastStatus = status;
  reportStatus(status);
}

void RunHealth::LogSummary(const SessionCounts& sessions, std::uint64_t framesDropped) {
  std::size_t withTraffic = 0;
  for (Watched& watch : watched) {
    if (watch.matched != watch.matchedAtSummary) ++withTraffic;
    watch.matchedAtSummary = watch.matched;
  }
  LogLine(SummaryLine(HourCounts{withTraffic, connections.Size(), NvrsConnected(),
                                 sessions.written - atSummary.written,
                                 sessions.droppedPayloads - atSummary.droppedPayloads,
                                 framesDropped - framesDroppedAtSummary,
                                 frames.Since(framesAtSummary)}));
  atSummary = sessions;
  framesDroppedAtSummary = framesDropped;
  framesAtSummary = frames;
}

std::size_t RunHealth::NvrsConnected() const {
  std::size_t connected = 0;
  for (std::size_t terminal = 0; terminal < connections.Size(); ++terminal) {
    if (connections[terminal].NvrConnected()) ++connected;
  }
  return connected;
}

SessionCounts RunHealth::AllSessions() const {
  SessionCounts all;
  for (std::size_t terminal = 0; terminal < connections.Size(); ++terminal) {
    all += connections[terminal].Counts().sessions;
  }
  return all;
}

}  // namespace tillwire
