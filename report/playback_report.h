// What a playback did for each terminal, for the console at its end: the
// installer's answer to "did my configuration catch the traffic, and did
// the NVR get it?".
#ifndef TILLWIRE_REPORT_PLAYBACK_REPORT_H
#define TILLWIRE_REPORT_PLAYBACK_REPORT_H

#include "config/terminal.h"
#include "output/terminal_connections.h"

#include <string>
#include <vector>

namespace tillwire {

namespace text {
inline constexpr char kReportHeading[] = "Playback report:";
inline constexpr char kNvrConnected[] = "NVR connected";
inline constexpr char kNoNvrConnected[] = "no NVR connected";
inline constexpr char kPortNotBound[] = "port could not be bound";
inline constexpr char kNvrNotKeepingUp[] = "NVR not keeping up";
inline constexpr char kConnectionEnded[] = "NVR connection ended";
}  // namespace text

// The heading, then one line per terminal in table order:
//   "  terminal KEY (NvrPort PORT): STATE; M bytes matched, H handed to the NVR"
// where STATE is kNvrConnected (an NVR connected during the run),
// kNoNvrConnected or kPortNotBound; when bytes were not delivered the line
// goes on ", N not delivered: " with the bytes of each reason, for instance
// "400 NVR not keeping up, 100 no NVR connected"; a terminal with a filter
// that can never match ends its line with the filter's NeverMatchingNote,
// " (SrcAddress "172.30.5.021" can never match)". Bytes matched are those of
// the terminal's packets, each TCP byte once; handed are those written to
// its NVR. connections must be the table's, in its order.
std::vector<std::string> PlaybackReport(const TerminalTable& table,
                                        const TerminalConnections& connections);

}  // namespace tillwire

#endif
