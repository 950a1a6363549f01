// Fuzz target: one captured frame, any bytes of any captured length, through
// decoding (as Ethernet and as every other link layer read), matching
// (DecodeFrame, FindTerminal and the frame router as the engine uses it) and
// TCP flow tracking, against a table of terminals whose filters overlap so
// that the key order decides. Besides the sanitizers'
// checks (the input lies in a buffer of exactly its length, so any read past
// the captured bytes is reported), it checks that a payload lies within the
// frame, that the matcher picks the terminal a plain walk of the table in key
// order picks, that the router hands on only bytes of the frame, and that the
// new bytes of a TCP payload are parts of it, in
// order and without overlap. The flow table is small and lives across
// inputs, so that eviction and old flows are exercised too.
#include "capture/flow_tracker.h"
#include "capture/frame_router.h"
#include "capture/link_layer.h"
#include "fuzz/fuzz_check.h"
#include "support/reference_matcher.h"
#include "support/terminal_tables.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using namespace tillwire;

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

// What the router hands on lies inside the frame at hand, and goes to a
// terminal of the table.
struct FrameBoundsSink {
  void Deliver(std::size_t terminal, const unsigned char* data, int length) {
    FUZZ_CHECK(terminal < terminals);
    FUZZ_CHECK(length >= 1 && data > frame);
    FUZZ_CHECK(static_cast<std::size_t>(data - frame) + static_cast<std::size_t>(length) <= size);
  }
  std::size_t terminals = 0;
  const std::uint8_t* frame = nullptr;
  std::size_t size = 0;
};

// The terminals: matching needs no sockets.
struct Fixture {
  TerminalTable table;
  std::unique_ptr<TerminalMatcher> matcher;

  Fixture() {
    std::vector<TerminalRecord> records;
    for (const TerminalFilter& filter : kTerminals) records.push_back(RecordOf(filter, "0"));
    table = TableOf(records);
    matcher = std::make_unique<TerminalMatcher>(table);
  }
};

// What any decoding of the frame must give: a payload inside the frame, and
// the terminal that the key order picks.
void CheckDecoded(const DecodedFrame& decoded, const std::uint8_t* data, std::size_t size,
                  const Fixture& fixture) {
  if (decoded.kind == FrameKind::kPayload) {
    FUZZ_CHECK(decoded.payloadLength >= 1);
    FUZZ_CHECK(decoded.payload > data);
    FUZZ_CHECK(static_cast<std::size_t>(decoded.payload - data) + decoded.payloadLength <= size);
  }
  if (IsTcpOrUdp(decoded.kind)) {
    FUZZ_CHECK(fixture.matcher->FindTerminal(decoded.key) ==
               ReferenceFind(fixture.table, decoded.key));
  }
}

// The new bytes of a TCP payload are parts of it, in order, apart.
void CheckNewBytes(const DecodedFrame& decoded, std::uint32_t now, FlowTracker& flows) {
  if (!decoded.tcp) return;
  const auto length = static_cast<std::uint32_t>(decoded.payloadLength);
  // Every other payload as one of a direction that no terminal takes.
  if (length > 0 && (now & 1) != 0) {
    flows.Observe(decoded.key, decoded.tcpHeader, length, now);
    return;
  }
  NewBytes fresh;
  flows.Admit(decoded.key, decoded.tcpHeader, length, now, &fresh);
  FUZZ_CHECK(fresh.count >= 0 && fresh.count <= NewBytes::kMaxPieces);
  std::uint32_t end = 0;
  for (int i = 0; i < fresh.count; ++i) {
    const NewBytes::Piece& piece = fresh.pieces[i];
    FUZZ_CHECK(piece.length >= 1);
    FUZZ_CHECK(i == 0 || piece.offset >= end);
    FUZZ_CHECK(piece.offset < length && piece.length <= length - piece.offset);
    end = piece.offset + piece.length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture fixture;
  // Small, so that a run fills it and makes room again and again.
  static FlowTracker flows(64, 600);
  static FrameBoundsSink sink;
  static FrameRouter<FrameBoundsSink> router(*fixture.matcher, flows, sink);
  static std::uint32_t now = 0;
  if (size > UINT32_MAX) return 0;
  const auto capturedLength = static_cast<std::uint32_t>(size);
  now += 7;  // time passes: flows go idle and are forgotten

  const DecodedFrame decoded = DecodeFrame(data, capturedLength);
  CheckDecoded(decoded, data, size, fixture);
  CheckNewBytes(decoded, now, flows);
  sink = FrameBoundsSink{fixture.table.size(), data, size};
  FUZZ_CHECK(router.Route(data, capturedLength, now) == IsTcpOrUdp(decoded.kind));
  for (const LinkLayer link : {LinkLayer::kLinuxCooked, LinkLayer::kLinuxCooked2,
                               LinkLayer::kRawIp, LinkLayer::kNullLoopback,
                               LinkLayer::kLoopLoopback}) {
    CheckDecoded(DecodeFrame(data, capturedLength, link), data, size, fixture);
  }
  return 0;
}
