// Terminal tables made straight from records, for tests and benchmarks.
#ifndef TILLWIRE_TESTS_SUPPORT_TERMINAL_TABLES_H
#define TILLWIRE_TESTS_SUPPORT_TERMINAL_TABLES_H

#include "capture/printed_values.h"
#include "config/configuration.h"
#include "config/terminal.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tillwire {

// A terminal with these filters whose NVR, 127.0.0.1, connects on nvrPort.
TerminalRecord RecordOf(const TerminalFilter& filter, const std::string& nvrPort);

// The table of the records, by key.
TerminalTable TableOf(const std::vector<TerminalRecord>& records);

// The tables that a file listing the records in this order yields, each one
// accepted (records with a key listed before are left out).
Tables TablesOf(const std::vector<TerminalRecord>& records);

// The index of the terminal with this filter in the table (which holds it).
std::size_t IndexOf(const TerminalTable& table, const TerminalFilter& filter);

}  // namespace tillwire

#endif
