// How the run's console and log texts name a terminal and write a count.
#ifndef TILLWIRE_REPORT_TERMINAL_NAMES_H
#define TILLWIRE_REPORT_TERMINAL_NAMES_H

#include "capture/frame_counts.h"
#include "config/terminal.h"

#include <cstdint>
#include <string>

namespace tillwire {

// "terminal KEY (NvrPort PORT)": the terminal's key in the table, as the
// installer wrote its filters, and the port its NVR connects to.
std::string TerminalName(const std::string& key, const TerminalRecord& record);

// The count with a comma between groups of three digits: "12,345".
std::string GroupedCount(std::uint64_t count);

// The frames not taken, by reason, every reason with its count (grouped):
// "1,204 not IPv4, 3 fragmented, 0 truncated, 12 not TCP/UDP". Fragmented
// frames are the fragments of TCP and UDP packets after the first.
std::string FramesNotTaken(const FrameCounts& frames);

}  // namespace tillwire

#endif
