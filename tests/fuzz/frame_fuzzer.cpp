// Fuzz target: one captured frame, any bytes of any captured length, through
// decoding and matching (DecodeFrame, FindTerminal and ProcessFrame as the
// engine calls it), against a table of terminals without listeners whose
// filters overlap so that the key order decides. Besides the
// sanitizers' checks (the input lies in a buffer of exactly its length, so
// any read past the captured bytes is reported), it checks that a payload
// lies within the frame and that the matcher picks the terminal a plain walk
// of the table in key order picks.
#include "capture/frame_decoder.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/reference_matcher.h"
#include "support/terminal_tables.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

// The frame builder's defaults (192.168.10.31:49152 to 192.168.10.40:9100)
// match several rows; "10.0.0.5::10.0.0.9:9100" sorts before "10.0.0.5:::",
// and "10.0.0.5:::" before "10.0.0.50:::". The last three can never match:
// their filters are no printed form of an address or port. Fields in the
// order source address, destination address, source port, destination port.
const TerminalFilter kTerminals[] = {
    {"192.168.10.31", "", "", ""},
    {"192.168.10.31", "192.168.10.40", "49152", "9100"},
    {"", "192.168.10.40", "", "9100"},
    {"", "192.168.10.40", "", ""},
    {"10.0.0.5", "", "", ""},
    {"10.0.0.50", "", "", ""},
    {"10.0.0.5", "10.0.0.9", "", "9100"},
    {"", "10.0.0.9", "", "9100"},
    {"0.0.0.0", "255.255.255.255", "0", "65535"},
    {"10.0.0.010", "", "", ""},
    {"", "10.0.0.9", "09100", ""},
    {"172.16.0.1", "", "", "+17"},
};

// The terminals, without listeners: matching needs no sockets.
struct Fixture {
  TerminalTable table;
  std::unique_ptr<TerminalMatcher> matcher;

  Fixture() {
    std::vector<TerminalRecord> records;
    for (const TerminalFilter& filter : kTerminals) records.push_back(RecordOf(filter, "0"));
    table = TableOf(records);
    matcher.reset(new TerminalMatcher(table));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture fixture;
  if (size > UINT32_MAX) return 0;
  const auto capturedLength = static_cast<std::uint32_t>(size);

  const DecodedFrame decoded = DecodeFrame(data, capturedLength);
  if (decoded.kind == FrameKind::kPayload) {
    FUZZ_CHECK(decoded.payloadLength >= 1);
    FUZZ_CHECK(decoded.payload > data);
    FUZZ_CHECK(static_cast<std::size_t>(decoded.payload - data) + decoded.payloadLength <= size);
  }
  if (decoded.kind != FrameKind::kOther) {
    FUZZ_CHECK(fixture.matcher->FindTerminal(decoded.key) ==
               ReferenceFind(fixture.table, decoded.key));
  }
  FUZZ_CHECK(ProcessFrame(data, capturedLength, *fixture.matcher) ==
             (decoded.kind != FrameKind::kOther));
  return 0;
}
