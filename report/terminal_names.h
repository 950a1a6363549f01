// How the run's console and log texts name a terminal and write a count.
#ifndef TILLWIRE_REPORT_TERMINAL_NAMES_H
#define TILLWIRE_REPORT_TERMINAL_NAMES_H

#include "config/terminal.h"

#include <cstdint>
#include <string>

namespace tillwire {

// "terminal KEY (NvrPort PORT)": the terminal's key in the table, as the
// installer wrote its filters, and the port its NVR connects to.
std::string TerminalName(const std::string& key, const TerminalRecord& record);

// The count with a comma between groups of three digits: "12,345".
std::string GroupedCount(std::uint64_t count);

}  // namespace tillwire

#endif
