#include "capture/link_layer.h"

#include "capture/bounded_reader.h"

#include <pcap/dlt.h>

namespace tillwire {

namespace {

// The Ethernet type of IPv4, which the Linux cooked headers carry as their
// protocol type too, and of an 802.1Q tag.
const std::uint16_t kIpv4Type = 0x0800;
const std::uint16_t kVlanType = 0x8100;
// The address family of IPv4 in BSD loopback headers (AF_INET, 2 on every
// system that writes them): DLT_NULL holds it in the byte order of the
// capturing machine, DLT_LOOP in network order.
const std::uint32_t kIpv4Family = 2;
const std::uint32_t kIpv4FamilyByteSwapped = 0x02000000;

// DLT_LINUX_SLL2 and DLT_IPV4 are missing from older pcap headers.
const int kDltLinuxSll2 = 276;
const int kDltIpv4 = 228;
const int kNoDataLinkType = -1;

// Stands for "an IPv4 packet follows" where a link header is read: the IPv4
// decoder then decides the frame's kind.
const FrameKind kIpv4Follows = FrameKind::kPayload;

// Where a link header says its IPv4 packet starts: kIpv4Follows, with *ip
// set, when the header is captured and announces IPv4; otherwise kTruncated
// or kNotIpv4.
using FindIpv4 = FrameKind (*)(const BoundedReader& frame, std::uint32_t* ip);

FrameKind KindOfType(std::uint16_t type) {
  return type == kIpv4Type ? kIpv4Follows : FrameKind::kNotIpv4;
}

FrameKind Ipv4Type(const BoundedReader& frame, std::uint32_t offset) {
  std::uint16_t type = 0;
  if (!frame.Read16(offset, &type)) return FrameKind::kTruncated;
  return KindOfType(type);
}

FrameKind Ipv4Family(const BoundedReader& frame, bool eitherOrder) {
  std::uint32_t family = 0;
  if (!frame.Read32(0, &family)) return FrameKind::kTruncated;
  return family == kIpv4Family || (eitherOrder && family == kIpv4FamilyByteSwapped)
             ? kIpv4Follows
             : FrameKind::kNotIpv4;
}

// 14 bytes, the type last; an 802.1Q tag puts 4 bytes and the inner type
// before the IPv4 packet.
FrameKind EthernetIpv4(const BoundedReader& frame, std::uint32_t* ip) {
  std::uint16_t type = 0;
  if (!frame.Read16(12, &type)) return FrameKind::kTruncated;
  if (type != kVlanType) {
    *ip = 14;
    return KindOfType(type);
  }
  *ip = 18;
  return Ipv4Type(frame, 16);
}

// 16 bytes, the protocol type last.
FrameKind LinuxCookedIpv4(const BoundedReader& frame, std::uint32_t* ip) {
  *ip = 16;
  return Ipv4Type(frame, 14);
}

// 20 bytes, the protocol type first.
FrameKind LinuxCooked2Ipv4(const BoundedReader& frame, std::uint32_t* ip) {
  *ip = 20;
  return Ipv4Type(frame, 0);
}

// No header; the IPv4 decoder checks the version.
FrameKind RawIpv4(const BoundedReader&, std::uint32_t* ip) {
  *ip = 0;
  return kIpv4Follows;
}

FrameKind NullLoopbackIpv4(const BoundedReader& frame, std::uint32_t* ip) {
  *ip = 4;
  return Ipv4Family(frame, true);
}

FrameKind LoopLoopbackIpv4(const BoundedReader& frame, std::uint32_t* ip) {
  *ip = 4;
  return Ipv4Family(frame, false);
}

struct LinkDecoder {
  int dataLinkType;       // the pcap link type
  int otherDataLinkType;  // another pcap link type of the same header, or kNoDataLinkType
  FindIpv4 findIpv4;
};

// The one table of link layers, in LinkLayer order.
const LinkDecoder kLinkDecoders[] = {
    {DLT_EN10MB, kNoDataLinkType, EthernetIpv4},
    {DLT_LINUX_SLL, kNoDataLinkType, LinuxCookedIpv4},
    {kDltLinuxSll2, kNoDataLinkType, LinuxCooked2Ipv4},
    {DLT_RAW, kDltIpv4, RawIpv4},
    {DLT_NULL, kNoDataLinkType, NullLoopbackIpv4},
    {DLT_LOOP, kNoDataLinkType, LoopLoopbackIpv4},
};
static_assert(sizeof kLinkDecoders / sizeof kLinkDecoders[0] ==
                  static_cast<std::size_t>(LinkLayer::kLoopLoopback) + 1,
              "one decoder for each link layer");

}  // namespace

std::optional<LinkLayer> LinkLayerOf(int dataLinkType) {
  for (std::size_t i = 0; i < sizeof kLinkDecoders / sizeof kLinkDecoders[0]; ++i) {
    const LinkDecoder& decoder = kLinkDecoders[i];
    if (dataLinkType == decoder.dataLinkType || dataLinkType == decoder.otherDataLinkType) {
      return static_cast<LinkLayer>(i);
    }
  }
  return std::nullopt;
}

DecodedFrame DecodeFrame(const unsigned char* frame, std::uint32_t capturedLength,
                         LinkLayer link) {
  std::uint32_t ip = 0;
  const FrameKind linkKind =
      kLinkDecoders[static_cast<std::size_t>(link)].findIpv4(BoundedReader(frame, capturedLength),
                                                              &ip);
  if (linkKind != kIpv4Follows) return FrameOfKind(linkKind);
  return DecodeIpv4(frame, ip, capturedLength);
}

}  // namespace tillwire
