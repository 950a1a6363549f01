// Terminal tables made straight from records, for tests and benchmarks: with
// no listeners (matching needs no sockets) or with the engine's own.
#ifndef TILLWIRE_TESTS_SUPPORT_TERMINAL_TABLES_H
#define TILLWIRE_TESTS_SUPPORT_TERMINAL_TABLES_H

#include "config/terminal.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tillwire {

// A terminal with these filters whose NVR, 127.0.0.1, connects on nvrPort.
TerminalRecord RecordOf(const TerminalFilter& filter, const std::string& nvrPort);

// The table of the records, by key; each terminal gets what makeListener
// makes for it, or no listener at all.
TerminalTable TableOf(const std::vector<TerminalRecord>& records,
                      const ListenerFactory& makeListener = nullptr);

// True once every terminal of the table has its NVR connected.
bool AllNvrsConnected(const TerminalTable& table);

// The "%d.%d.%d.%d" text of an address held first byte first (0xC0A80A02).
std::string Ipv4Text(std::uint32_t address);

}  // namespace tillwire

#endif
