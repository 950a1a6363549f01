// The key-order matching rule said as plainly as possible, to hold the
// indexed TerminalMatcher against: print the packet's addresses
// ("%d.%d.%d.%d") and ports ("%d") and walk the table in key order for the
// first terminal whose non-empty filters all equal those texts.
#ifndef TILLWIRE_TESTS_SUPPORT_REFERENCE_MATCHER_H
#define TILLWIRE_TESTS_SUPPORT_REFERENCE_MATCHER_H

#include "capture/terminal_matcher.h"
#include "config/terminal.h"

#include <cstddef>
#include <optional>

namespace tillwire {

// The index of the terminal in the table, or none.
std::optional<std::size_t> ReferenceFind(const TerminalTable& table, const PacketKey& packet);

}  // namespace tillwire

#endif
