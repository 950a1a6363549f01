// Cost of the data path per captured frame, on a mix of the traffic a mirror
// port carries: frames of other protocols, TCP and UDP that match no terminal,
// and TCP segments of terminals' flows, each carrying new bytes. RouteFrameMix
// costs decoding, matching and flow tracking up to the sink, which only
// counts the bytes handed to it (no socket anywhere); AdmitSegments costs
// flow tracking alone. Arguments: terminals, and active flows spread over
// them (one flow belongs to the last terminal of the table).
#include "capture/frame_router.h"
#include "support/frame_builder.h"
#include "support/terminal_tables.h"

#include <benchmark/benchmark.h>

using namespace tillwire;

namespace {

// One flow of a terminal: what its next segment carries in its headers.
struct FlowState {
  std::uint32_t srcAddress;
  std::uint32_t dstAddress;
  std::uint16_t srcPort;
  std::uint32_t sequence;
};

FlowState FlowOf(const TerminalFilter& filter, std::uint16_t srcPort) {
  const FrameFields defaults;
  FlowState flow{defaults.srcAddress, defaults.dstAddress, srcPort, 0};
  if (!filter.srcAddress.empty()) {
    flow.srcAddress = *ParseIpv4Text(filter.srcAddress);
  } else {
    flow.dstAddress = *ParseIpv4Text(filter.dstAddress);
  }
  return flow;
}

// Counts what the router hands on.
struct CountingSink {
  void Deliver(std::size_t, const unsigned char*, int length) { bytes += length; }
  std::uint64_t bytes = 0;
};

void RouteFrameMix(benchmark::State& state) {
  const int terminals = static_cast<int>(state.range(0));
  const int flowCount = static_cast<int>(state.range(1));
  std::vector<TerminalRecord> records;
  // Half the terminals filter on the source, half on destination and port.
  for (int i = 0; i < terminals; ++i) {
    const std::string address = Ipv4Text(0x0A010000u + static_cast<std::uint32_t>(i));
    records.push_back(RecordOf(i % 2 == 0 ? TerminalFilter{address, "", "", ""}
                                          : TerminalFilter{"", address, "", "9100"},
                               std::to_string(i)));
  }
  const TerminalTable table = TableOf(records);
  const TerminalMatcher matcher(table);
  FlowTracker flows;
  CountingSink sink;
  FrameRouter<CountingSink> router(matcher, flows, sink);

  std::vector<FlowState> flowStates;
  for (int f = 0; f < flowCount; ++f) {
    const TerminalFilter& filter = flowCount == 1
                                       ? table.rbegin()->second.filter
                                       : records[static_cast<std::size_t>(f % terminals)].filter;
    flowStates.push_back(FlowOf(filter, static_cast<std::uint16_t>(1024 + f / terminals)));
  }
  // The flows' segments are written into one frame, as a capture buffer is
  // reused, so that the frame's bytes themselves are no cache miss.
  FrameFields segment;
  segment.payload = std::string(200, 'r');
  const std::size_t tcp = PayloadOffset(segment) - segment.tcpHeaderWords * 4u;
  const std::size_t ip = tcp - segment.ipHeaderWords * 4u;
  std::vector<unsigned char> flowFrame = BuildFrame(segment);
  FrameFields tcpOther;
  tcpOther.payload = std::string(600, 'x');
  FrameFields udpOther = tcpOther;
  udpOther.protocol = 17;
  FrameFields ipv6 = tcpOther;
  ipv6.etherType = 0x86DD;
  const std::vector<unsigned char> others[] = {ArpFrame(), BuildFrame(ipv6), BuildFrame(tcpOther),
                                               BuildFrame(udpOther)};
  // Null: the next flow's segment.
  const std::vector<unsigned char>* const mix[] = {
      &others[0], &others[1], &others[2], &others[3], nullptr, &others[2], nullptr, &others[3],
  };
  const std::size_t mixSize = sizeof mix / sizeof mix[0];

  std::size_t next = 0;
  std::size_t nextFlow = 0;
  for (auto _ : state) {
    const std::vector<unsigned char>* frame = mix[next];
    next = (next + 1) % mixSize;
    if (frame == nullptr) {
      FlowState& flow = flowStates[nextFlow];
      nextFlow = nextFlow + 1 == flowStates.size() ? 0 : nextFlow + 1;
      Put32(flowFrame, ip + 12, flow.srcAddress);
      Put32(flowFrame, ip + 16, flow.dstAddress);
      Put16(flowFrame, tcp, flow.srcPort);
      Put32(flowFrame, tcp + 4, flow.sequence);
      flow.sequence += 200;
      frame = &flowFrame;
    }
    benchmark::DoNotOptimize(
        router.Route(frame->data(), static_cast<std::uint32_t>(frame->size()), 0));
  }
  state.SetItemsProcessed(state.iterations());
  benchmark::DoNotOptimize(sink.bytes);
}

BENCHMARK(RouteFrameMix)->ArgsProduct({{1, 10, 100, 1000}, {1, 10000}});

// Flow tracking per TCP segment of a terminal: segments of the active flows
// in turn, each carrying the 200 bytes after the flow's last. Argument:
// active flows.
void AdmitSegments(benchmark::State& state) {
  const auto flowCount = static_cast<std::uint32_t>(state.range(0));
  FlowTracker flows;
  std::vector<std::uint32_t> sequences(flowCount, 0);
  NewBytes fresh;
  std::uint32_t next = 0;
  for (auto _ : state) {
    const PacketKey key{0x0A010000u + next / 1000, 0x0A020001u,
                        static_cast<std::uint16_t>(1024 + next % 1000), 9100};
    flows.Admit(key, TcpHeader{sequences[next], 5001, 0x18}, 200, 0, &fresh);
    benchmark::DoNotOptimize(fresh.count);
    sequences[next] += 200;
    next = next + 1 == flowCount ? 0 : next + 1;
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(AdmitSegments)->Arg(1)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
