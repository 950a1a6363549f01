// Fuzz target: any bytes as Tillwire.xml, through loading and table
// building. Besides the sanitizers' checks (TinyXML is compiled into the fuzz
// build, so its reads are checked too), it checks what the matcher relies on:
// every terminal sits under the key of its own filters, no NvrPort is used
// twice, and for a packet made from each terminal's filters the matcher picks
// the terminal that a plain walk of the table in key order picks.
#include "capture/terminal_matcher.h"
#include "config/configuration.h"
#include "fuzz/fuzz_check.h"
#include "support/reference_matcher.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <unistd.h>
#include <variant>

using namespace tillwire;

namespace {

// The file the input is written to: on a memory file system (rewriting a
// file on a disk file system costs a flush to the disk each time, a hundred
// times the rest of a run), removed from its directory at once so that
// nothing is left behind however the process ends, and named through the
// descriptor that keeps it.
const std::string& InputPath() {
  static const std::string path = [] {
    char name[] = "/dev/shm/tillwire-configuration-fuzz.XXXXXX";
    const int descriptor = mkstemp(name);
    FUZZ_CHECK(descriptor >= 0);
    unlink(name);
    return "/proc/self/fd/" + std::to_string(descriptor);
  }();
  return path;
}

void CheckTable(const TerminalTable& table) {
  std::set<std::string> nvrPorts;
  for (const auto& entry : table) {
    const TerminalRecord& t = entry.second;
    FUZZ_CHECK(entry.first == TerminalKey(t.filter));
    FUZZ_CHECK(!t.filter.srcAddress.empty() || !t.filter.dstAddress.empty());
    FUZZ_CHECK(!t.nvrPort.empty() && nvrPorts.insert(t.nvrPort).second);
  }
}

// A packet that each terminal's filters describe, where they are printed
// values; other fields take a fixed value.
void CheckMatcher(const TerminalTable& table) {
  const TerminalMatcher matcher(table);
  for (const auto& entry : table) {
    const TerminalFilter& f = entry.second.filter;
    const PacketKey packet{ParseIpv4Text(f.srcAddress).value_or(0x0A000001),
                           ParseIpv4Text(f.dstAddress).value_or(0x0A000002),
                           ParsePortText(f.srcPort).value_or(49152),
                           ParsePortText(f.dstPort).value_or(9100)};
    FUZZ_CHECK(matcher.FindTerminal(packet) == ReferenceFind(table, packet));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = InputPath();
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    FUZZ_CHECK(file.good());
  }
  // A file that cannot be used is the program's to report (a log line and
  // an exit code), not a finding.
  const std::variant<Configuration, ConfigurationFailure> result = ReadConfiguration(path);
  const Configuration* configuration = std::get_if<Configuration>(&result);
  if (configuration == nullptr) return 0;
  const Tables& tables = configuration->tables;
  CheckTable(tables.terminalTable);
  CheckMatcher(tables.terminalTable);
  return 0;
}
