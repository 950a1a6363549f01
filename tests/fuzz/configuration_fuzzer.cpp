// Fuzz target: any bytes as Tillwire.xml, through loading and table
// building. Besides the sanitizers' checks (TinyXML is compiled into the fuzz
// build, so its reads are checked too), it checks what the matcher relies on:
// every terminal sits under the key of its own filters, no NvrPort is used
// twice, and for a packet made from each terminal's filters the matcher picks
// the terminal that a plain walk of the table in key order picks.
#include "capture/terminal_matcher.h"
#include "config/configuration.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/reference_matcher.h"

#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <unistd.h>

namespace {

// The file the input is written to, in a directory of this process's own on
// a memory file system (rewriting a file on a disk file system costs a flush
// to the disk each time, a hundred times the rest of a run); both are removed
// when the process ends.
std::string inputPath;

void RemoveInput() {
  std::remove(inputPath.c_str());
  rmdir(inputPath.substr(0, inputPath.rfind('/')).c_str());
}

const std::string& InputPath() {
  if (inputPath.empty()) {
    char directory[] = "/dev/shm/tillwire-configuration-fuzz.XXXXXX";
    FUZZ_CHECK(mkdtemp(directory) != nullptr);
    inputPath = std::string(directory) + "/Tillwire.xml";
    std::atexit(&RemoveInput);
  }
  return inputPath;
}

// LoadConfiguration ends the process for a file that cannot be loaded or has
// no root element; such files are the expected failures, not findings.
bool Loadable(const std::string& path) {
  TiXmlDocument document;
  return document.LoadFile(path) && document.RootElement() != nullptr;
}

void CheckTable(const TerminalTable& table) {
  std::set<std::string> nvrPorts;
  for (const auto& entry : table) {
    const Terminal& t = *entry.second;
    FUZZ_CHECK(entry.first == TerminalKey(t.srcAddress, t.srcPort, t.dstAddress, t.dstPort));
    FUZZ_CHECK(!t.srcAddress.empty() || !t.dstAddress.empty());
    FUZZ_CHECK(!t.nvrPort.empty() && nvrPorts.insert(t.nvrPort).second);
  }
}

// A packet that each terminal's filters describe, where they are printed
// values; other fields take a fixed value.
void CheckMatcher(const TerminalTable& table) {
  const TerminalMatcher matcher(table);
  for (const auto& entry : table) {
    const Terminal& t = *entry.second;
    const PacketKey packet{ParseIpv4Text(t.srcAddress).value_or(0x0A000001),
                           ParseIpv4Text(t.dstAddress).value_or(0x0A000002),
                           ParsePortText(t.srcPort).value_or(49152),
                           ParsePortText(t.dstPort).value_or(9100)};
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
  if (!Loadable(path)) return 0;
  const Configuration configuration = LoadConfiguration(path);
  boost::asio::io_service eventQueue;
  const Tables tables = BuildTables(*configuration.document, eventQueue);
  CheckTable(tables.terminalTable);
  CheckMatcher(tables.terminalTable);
  return 0;
}
