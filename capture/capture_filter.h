// A kernel prefilter for live capture, so that a busy mirror port's frames
// that no terminal can take are dropped before they are copied to us.
//
// The filter lets through at least every frame that the matcher can assign
// to a terminal: IPv4 TCP and UDP, with or without one VLAN tag, from or to
// an address by which the matcher finds terminals. It may let through more
// (the matcher still decides): with many terminals their addresses are
// widened to at most kMaxFilterBlocks address blocks, which keeps the
// program small for the kernel.
#ifndef TILLWIRE_CAPTURE_CAPTURE_FILTER_H
#define TILLWIRE_CAPTURE_CAPTURE_FILTER_H

#include "capture/terminal_matcher.h"

#include <cstddef>
#include <string>

namespace tillwire {

inline constexpr std::size_t kMaxFilterBlocks = 64;

// The filter expression in libpcap's syntax for frames of the pcap link type
// (VLAN tags are only looked for on Ethernet, which alone carries them), or
// empty when no terminal can match anything (then there is nothing to filter
// on).
std::string CaptureFilterExpression(const TerminalMatcher& matcher, int dataLinkType);

}  // namespace tillwire

#endif
