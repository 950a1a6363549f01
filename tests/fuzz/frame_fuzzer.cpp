// Fuzz target: one captured frame, any bytes of any captured length, through
// decoding, matching and the hand-over to a terminal, against a table of
// terminals whose filters overlap so that the key order decides. Besides the
// sanitizers' checks (the input lies in a buffer of exactly its length, so
// any read past the captured bytes is reported), it checks that a payload
// lies within the frame and that the matcher picks the terminal a plain walk
// of the table in key order picks.
#include "capture/frame_decoder.h"
#include "config/terminal.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/reference_matcher.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace {

struct Filters {
  const char* srcAddress;
  const char* srcPort;
  const char* dstAddress;
  const char* dstPort;
};

// The frame builder's defaults (192.168.10.31:49152 to 192.168.10.40:9100)
// match several rows; "10.0.0.5::10.0.0.9:9100" sorts before "10.0.0.5:::",
// and "10.0.0.5:::" before "10.0.0.50:::". The last three can never match:
// their filters are no printed form of an address or port.
const Filters kTerminals[] = {
    {"192.168.10.31", "", "", ""},
    {"192.168.10.31", "49152", "192.168.10.40", "9100"},
    {"", "", "192.168.10.40", "9100"},
    {"", "", "192.168.10.40", ""},
    {"10.0.0.5", "", "", ""},
    {"10.0.0.50", "", "", ""},
    {"10.0.0.5", "", "10.0.0.9", "9100"},
    {"", "", "10.0.0.9", "9100"},
    {"0.0.0.0", "0", "255.255.255.255", "65535"},
    {"10.0.0.010", "", "", ""},
    {"", "09100", "10.0.0.9", ""},
    {"172.16.0.1", "", "", "+17"},
};

struct Fixture {
  boost::asio::io_service eventQueue;
  TerminalTable table;
  std::unique_ptr<TerminalMatcher> matcher;

  Fixture() {
    for (const Filters& f : kTerminals) {
      // Port "0": the system picks a free port, so no fixed port is taken.
      table.emplace(TerminalKey(f.srcAddress, f.srcPort, f.dstAddress, f.dstPort),
                    std::unique_ptr<Terminal>(new Terminal(eventQueue, f.srcAddress, f.dstAddress,
                                                           f.srcPort, f.dstPort, "127.0.0.1",
                                                           "0")));
    }
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
