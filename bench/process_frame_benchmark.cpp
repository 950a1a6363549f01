// Cost of the data path per captured frame, on a mix of the traffic a mirror
// port carries: frames of other protocols, TCP and UDP that match no terminal,
// and frames that match the last terminal of the table (which has no listener,
// so the cost is decoding and matching, with no socket anywhere).
#include "capture/frame_decoder.h"
#include "support/frame_builder.h"
#include "support/terminal_tables.h"

#include <benchmark/benchmark.h>

namespace {

void ProcessFrameMix(benchmark::State& state) {
  const int terminals = static_cast<int>(state.range(0));
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
  const TerminalFilter& last = table.rbegin()->second->record.filter;

  FrameFields toLast;
  toLast.payload = std::string(200, 'r');
  if (!last.srcAddress.empty()) {
    toLast.srcAddress = *ParseIpv4Text(last.srcAddress);
  } else {
    toLast.dstAddress = *ParseIpv4Text(last.dstAddress);
  }
  FrameFields tcpOther;
  tcpOther.payload = std::string(600, 'x');
  FrameFields udpOther = tcpOther;
  udpOther.protocol = 17;
  FrameFields ipv6 = tcpOther;
  ipv6.etherType = 0x86DD;
  const std::vector<std::vector<unsigned char>> mix = {
      ArpFrame(), BuildFrame(ipv6), BuildFrame(tcpOther), BuildFrame(udpOther),
      BuildFrame(toLast), BuildFrame(tcpOther), BuildFrame(toLast), BuildFrame(udpOther),
  };

  std::size_t next = 0;
  for (auto _ : state) {
    const std::vector<unsigned char>& frame = mix[next];
    next = (next + 1) % mix.size();
    benchmark::DoNotOptimize(
        ProcessFrame(frame.data(), static_cast<std::uint32_t>(frame.size()), matcher));
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(ProcessFrameMix)->Arg(1)->Arg(10)->Arg(100)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
