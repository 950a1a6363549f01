#include "capture/link_layer.h"

#include "log/log_file.h"

namespace tillwire {

namespace {

// The protocol type of the Linux cooked headers (an Ethernet type, IPv4's
// 0x0800), and the address family of BSD loopback headers (AF_INET, 2 on
// every system that writes them): DLT_NULL holds it in the byte order of the
// capturing machine, DLT_LOOP in network order.
bool IsIpv4Type(const unsigned char* type) { return type[0] == 0x08 && type[1] == 0x00; }
bool IsIpv4FamilyInNetworkOrder(const unsigned char* family) {
  return family[0] == 0 && family[1] == 0 && family[2] == 0 && family[3] == 2;
}
bool IsIpv4FamilyInEitherOrder(const unsigned char* family) {
  return IsIpv4FamilyInNetworkOrder(family) ||
         (family[0] == 2 && family[1] == 0 && family[2] == 0 && family[3] == 0);
}

// DLT_LINUX_SLL2 and DLT_IPV4 are missing from older pcap headers.
const int kDltLinuxSll2 = 276;
const int kDltIpv4 = 228;

// True when the link header announces IPv4; *ip is then where it starts.
bool FindIpv4(LinkLayer link, const unsigned char* frame, std::uint32_t capturedLength,
              std::uint32_t* ip) {
  switch (link) {
    case LinkLayer::kLinuxCooked:  // 16 bytes, the protocol type last
      *ip = 16;
      return capturedLength >= 16 && IsIpv4Type(frame + 14);
    case LinkLayer::kLinuxCooked2:  // 20 bytes, the protocol type first
      *ip = 20;
      return capturedLength >= 20 && IsIpv4Type(frame);
    case LinkLayer::kRawIp:  // no header; the IPv4 decoder checks the version
      *ip = 0;
      return true;
    case LinkLayer::kNullLoopback:
      *ip = 4;
      return capturedLength >= 4 && IsIpv4FamilyInEitherOrder(frame);
    case LinkLayer::kLoopLoopback:
      *ip = 4;
      return capturedLength >= 4 && IsIpv4FamilyInNetworkOrder(frame);
    case LinkLayer::kEthernet:
      break;
  }
  return false;
}

}  // namespace

std::optional<LinkLayer> LinkLayerOf(int dataLinkType) {
  switch (dataLinkType) {
    case DLT_EN10MB:
      return LinkLayer::kEthernet;
    case DLT_LINUX_SLL:
      return LinkLayer::kLinuxCooked;
    case kDltLinuxSll2:
      return LinkLayer::kLinuxCooked2;
    case DLT_RAW:
    case kDltIpv4:
      return LinkLayer::kRawIp;
    case DLT_NULL:
      return LinkLayer::kNullLoopback;
    case DLT_LOOP:
      return LinkLayer::kLoopLoopback;
    default:
      return std::nullopt;
  }
}

std::optional<LinkLayer> CaptureLinkLayer(pcap_t* captureHandle) {
  const int dataLinkType = pcap_datalink(captureHandle);
  const std::optional<LinkLayer> link = LinkLayerOf(dataLinkType);
  if (!link) {
    const char* name = pcap_datalink_val_to_name(dataLinkType);
    LogFile::Instance().StartLine() << text::kUnsupportedLinkType << dataLinkType << " ("
                                    << (name ? name : "unknown") << text::kUnsupportedLinkTypeEnd
                                    << std::endl;
  }
  return link;
}

DecodedFrame DecodeLinkFrame(LinkLayer link, const unsigned char* frame,
                             std::uint32_t capturedLength) {
  if (link == LinkLayer::kEthernet) return DecodeFrame(frame, capturedLength);
  std::uint32_t ip = 0;
  if (!FindIpv4(link, frame, capturedLength, &ip)) {
    return DecodedFrame{FrameKind::kOther, PacketKey{}, nullptr, 0, false, 0, 0};
  }
  return DecodeIpv4(frame, ip, capturedLength);
}

}  // namespace tillwire
