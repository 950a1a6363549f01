// Frames of the other link layers that captures carry: Linux cooked v1 and
// v2, raw IP, BSD loopback in both byte orders.
#include "capture/link_layer.h"
#include "support/decoding.h"

#include <gtest/gtest.h>
#include <pcap/dlt.h>

#include <memory>

using namespace tillwire;

namespace {

struct LinkCase {
  const char* name;
  int dataLinkType;  // as the capture file says
  LinkLayer link;
};

const LinkCase kLinks[] = {
    {"Linux cooked v1", DLT_LINUX_SLL, LinkLayer::kLinuxCooked},
    {"Linux cooked v2", 276, LinkLayer::kLinuxCooked2},
    {"raw IP", DLT_RAW, LinkLayer::kRawIp},
    {"BSD loopback, little-endian family", DLT_NULL, LinkLayer::kNullLoopback},
    {"BSD loopback, network order", DLT_LOOP, LinkLayer::kLoopLoopback},
};

// Decodes a copy of exactly the frame's size, so the sanitizers see any read past it.
DecodedFrame Decode(LinkLayer link, const std::vector<unsigned char>& frame, std::size_t cut) {
  std::unique_ptr<unsigned char[]> captured(new unsigned char[cut ? cut : 1]);
  std::copy(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(cut), captured.get());
  DecodedFrame decoded = DecodeFrame(captured.get(), static_cast<std::uint32_t>(cut), link);
  if (decoded.kind == FrameKind::kPayload) {
    // Point into the caller's frame, which outlives the copy.
    decoded.payload = frame.data() + (decoded.payload - captured.get());
  }
  return decoded;
}

TEST(LinkLayer, EachLinkHeaderLeadsToItsIpv4Packet) {
  for (const LinkCase& c : kLinks) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(LinkLayerOf(c.dataLinkType), c.link);
    const std::vector<unsigned char> udp = Relink(BuildFrame(Udp("receipt\n")), c.dataLinkType);
    const DecodedFrame decoded = Decode(c.link, udp, udp.size());
    EXPECT_EQ(PayloadOf(decoded), "receipt\n");
    EXPECT_EQ(decoded.key.srcAddress, 0xC0A80A1Fu);
    EXPECT_EQ(decoded.key.dstPort, 9100);

    FrameFields tcp = Udp("line\r\n");
    tcp.protocol = 6;
    const std::vector<unsigned char> frame = Relink(BuildFrame(tcp), c.dataLinkType);
    EXPECT_EQ(PayloadOf(Decode(c.link, frame, frame.size())), "line\r\n");

    // IPv6 behind the link header is never read as IPv4.
    FrameFields ipv6 = Udp("not IPv4");
    ipv6.etherType = 0x86DD;
    ipv6.ipVersion = 6;
    const std::vector<unsigned char> other = Relink(BuildFrame(ipv6), c.dataLinkType);
    EXPECT_EQ(Decode(c.link, other, other.size()).kind, FrameKind::kNotIpv4);

    // Cut anywhere, a frame is read within its captured bytes; cut before
    // the UDP ports are whole, it is truncated, whichever header it ends in.
    const std::size_t portsEnd = udp.size() - std::string("receipt\n").size() - 4;
    for (std::size_t cut = 0; cut < udp.size(); ++cut) {
      const DecodedFrame part = Decode(c.link, udp, cut);
      if (cut < portsEnd) {
        EXPECT_EQ(part.kind, FrameKind::kTruncated) << cut;
      }
      if (part.kind != FrameKind::kPayload) continue;
      EXPECT_EQ(PayloadOf(part), std::string("receipt\n").substr(0, part.payloadLength));
    }
  }
  // DLT_NULL's family is in the writer's byte order: big-endian writers too.
  const std::vector<unsigned char> bigEndian = Relink(BuildFrame(Udp("x")), DLT_LOOP);
  EXPECT_EQ(PayloadOf(Decode(LinkLayer::kNullLoopback, bigEndian, bigEndian.size())), "x");
}

TEST(LinkLayer, OtherLinkTypesAreNotDecoded) {
  EXPECT_EQ(LinkLayerOf(DLT_EN10MB), LinkLayer::kEthernet);
  for (int other : {DLT_IEEE802_11, DLT_IEEE802_11_RADIO, DLT_PPP, 228 + 1}) {
    EXPECT_EQ(LinkLayerOf(other), std::nullopt) << other;
  }
}

}  // namespace
