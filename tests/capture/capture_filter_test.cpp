#include "capture/capture_filter.h"
#include "capture/link_layer.h"
#include "support/capture_writer.h"
#include "support/frame_builder.h"
#include "support/temp_directory.h"
#include "support/terminal_tables.h"

#include <gtest/gtest.h>
#include <pcap/dlt.h>

#include <memory>
#include <random>

using namespace tillwire;

namespace {

// Random terminal tables and frames, the frames written to a capture file and
// read back: every frame that the matcher assigns to a terminal passes the
// filter compiled by libpcap, and with few terminals (no widened blocks) no
// frame passes that has no terminal address at either end.
TEST(CaptureFilter, PassesEveryFrameTheMatcherAssigns) {
  std::mt19937 random(5);
  TempDirectory directory;
  int assigned = 0;
  for (int trial = 0; trial < 24; ++trial) {
    SCOPED_TRACE(trial);
    const bool many = trial % 8 == 7;  // more addresses than filter blocks
    const int terminalCount = many ? 150 + static_cast<int>(random() % 100)
                                   : 1 + static_cast<int>(random() % 10);
    // Addresses near each other, so that widening has neighbours to merge.
    std::vector<std::uint32_t> pool;
    for (int i = 0; i < terminalCount * 2; ++i) {
      pool.push_back(0x0A000000u | (random() % 3) << 16 | (random() % 64) << 8 | random() % 256);
    }
    const auto pick = [&] { return pool[random() % pool.size()]; };
    const std::string ports[] = {"", "", "9100", "80", "0"};

    std::vector<TerminalRecord> records;
    for (int t = 0; t < terminalCount; ++t) {
      std::string src = random() % 2 ? Ipv4Text(pick()) : "";
      std::string dst = src.empty() || random() % 3 == 0 ? Ipv4Text(pick()) : "";
      if (random() % 10 == 0) (src.empty() ? dst : src).insert(0, "0");  // never printed so
      const std::string srcPort = ports[random() % 5];
      const std::string dstPort = ports[random() % 5];
      records.push_back(RecordOf({src, dst, srcPort, dstPort}, "x"));
    }
    const TerminalTable table = TableOf(records);
    const TerminalMatcher matcher(table);
    const std::string expression = CaptureFilterExpression(matcher, DLT_EN10MB);

    std::vector<std::vector<unsigned char>> frames;
    for (int f = 0; f < 400; ++f) {
      FrameFields fields;
      const std::uint32_t stranger = 0xC0000200u | random() % 256;  // 192.0.2.x
      fields.srcAddress = random() % 2 ? pick() : stranger;
      fields.dstAddress = random() % 2 ? pick() : stranger + 1;
      fields.srcPort = random() % 2 ? 9100 : 49152;
      fields.dstPort = random() % 2 ? 9100 : 80;
      fields.protocol = random() % 5 == 0 ? 17 : 6;
      if (random() % 4 == 0) fields.vlanId = static_cast<std::uint16_t>(random() % 4095);
      fields.payload = std::string(1 + random() % 40, 'p');
      frames.push_back(BuildFrame(fields));
    }
    const std::string path = directory.Path() + "frames.pcap";
    {
      CaptureWriter capture(path);
      for (const auto& frame : frames) capture.Write(frame);
    }

    char errorText[PCAP_ERRBUF_SIZE];
    pcap_t* recorded = pcap_open_offline(path.c_str(), errorText);
    ASSERT_NE(recorded, nullptr) << errorText;
    bpf_program program{};
    ASSERT_EQ(pcap_compile(recorded, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN), 0)
        << pcap_geterr(recorded) << "\n" << expression;
    pcap_pkthdr* header;
    const unsigned char* data;
    while (pcap_next_ex(recorded, &header, &data) == 1) {
      const DecodedFrame decoded = DecodeFrame(data, header->caplen);
      const bool passes = pcap_offline_filter(&program, header, data) != 0;
      if (decoded.kind == FrameKind::kPayload && matcher.FindTerminal(decoded.key).has_value()) {
        ++assigned;
        EXPECT_TRUE(passes) << Ipv4Text(decoded.key.srcAddress) << " > "
                            << Ipv4Text(decoded.key.dstAddress) << "\n" << expression;
      }
      const auto known = [&](std::uint32_t address) {
        const std::vector<std::uint32_t> addresses = matcher.Addresses();
        return std::find(addresses.begin(), addresses.end(), address) != addresses.end();
      };
      if (!many && !known(decoded.key.srcAddress) && !known(decoded.key.dstAddress)) {
        EXPECT_FALSE(passes) << Ipv4Text(decoded.key.srcAddress) << " > "
                             << Ipv4Text(decoded.key.dstAddress) << "\n" << expression;
      }
    }
    pcap_freecode(&program);
    pcap_close(recorded);
  }
  EXPECT_GT(assigned, 200) << "too few frames assigned to test anything";
}

// Adapters of other link types (a VPN's tun adapter is raw IP, a loopback
// adapter BSD loopback) have no VLAN tags, and libpcap refuses "vlan" for
// some of them: their filter must still compile and pass a terminal's packet.
TEST(CaptureFilter, CompilesForEveryLinkTypeTheDecoderReads) {
  const TerminalTable table = TableOf({RecordOf({"192.168.10.31", "", "", ""}, "x")});
  const TerminalMatcher matcher(table);
  FrameFields stranger;
  stranger.srcAddress = 0xC0000201;  // 192.0.2.1
  const std::vector<unsigned char> frames[] = {BuildFrame(FrameFields{}), BuildFrame(stranger)};
  for (const int link : {DLT_EN10MB, DLT_LINUX_SLL, 276, DLT_RAW, DLT_NULL, DLT_LOOP}) {
    SCOPED_TRACE(link);
    pcap_t* dead = pcap_open_dead(link, 65536);
    ASSERT_NE(dead, nullptr);
    const std::string expression = CaptureFilterExpression(matcher, link);
    bpf_program program{};
    ASSERT_EQ(pcap_compile(dead, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN), 0)
        << pcap_geterr(dead) << "\n" << expression;
    for (std::size_t n = 0; n < 2; ++n) {
      const std::vector<unsigned char> frame =
          link == DLT_EN10MB ? frames[n] : Relink(frames[n], link);
      pcap_pkthdr header{};
      header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
      EXPECT_EQ(pcap_offline_filter(&program, &header, frame.data()) != 0, n == 0)
          << (n == 0 ? "the terminal's packet" : "a stranger's packet");
    }
    pcap_freecode(&program);
    pcap_close(dead);
  }
}

TEST(CaptureFilter, NothingToFilterOnWithoutAPrintedAddress) {
  const TerminalTable table = TableOf({RecordOf({"10.0.0.010", "", "", ""}, "x")});
  EXPECT_EQ(CaptureFilterExpression(TerminalMatcher(table), DLT_EN10MB), "");
}

}  // namespace
