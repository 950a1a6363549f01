// Cost of the data path per captured frame, on a mix of the traffic a mirror
// port carries: frames of other protocols, TCP and UDP that match no terminal,
// and frames that match the last terminal of the table (whose NVR is not
// connected, so the cost is decoding, matching and the hand-over).
#include "capture/frame_decoder.h"
#include "config/terminal.h"
#include "support/frame_builder.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

std::string AddressText(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 255,
                (address >> 8) & 255, address & 255);
  return text;
}

void ProcessFrameMix(benchmark::State& state) {
  const int terminals = static_cast<int>(state.range(0));
  boost::asio::io_service eventQueue;
  TerminalTable table;
  // Half the terminals filter on the source, half on destination and port.
  for (int i = 0; i < terminals; ++i) {
    const std::string address = AddressText(0x0A010000u + static_cast<std::uint32_t>(i));
    const bool bySource = i % 2 == 0;
    const std::string src = bySource ? address : "";
    const std::string dst = bySource ? "" : address;
    const std::string dstPort = bySource ? "" : "9100";
    table.emplace(TerminalKey(src, "", dst, dstPort),
                  std::unique_ptr<Terminal>(new Terminal(eventQueue, src, dst, "", dstPort,
                                                         "127.0.0.1", "0x" + std::to_string(i))));
  }
  const TerminalMatcher matcher(table);
  const Terminal& last = *table.rbegin()->second;

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
