#include "capture/link_layer.h"

#include "capture/bounded_reader.h"
#include "log/log_file.h"

namespace tillwire {

namespace {

// The protocol type of the Linux cooked headers (an Ethernet type), and the
// address family of BSD loopback headers (AF_INET, 2 on every system that
// writes them): DLT_NULL holds it in the byte order of the capturing machine,
// DLT_LOOP in network order.
const std::uint16_t kIpv4Type = 0x0800;
const std::uint32_t kIpv4Family = 2;
const std::uint32_t kIpv4FamilyByteSwapped = 0x02000000;

// DLT_LINUX_SLL2 and DLT_IPV4 are missing from older pcap headers.
const int kDltLinuxSll2 = 276;
const int kDltIpv4 = 228;

bool HasIpv4Type(const BoundedReader& header, std::uint32_t offset) {
  std::uint16_t type = 0;
  return header.Read16(offset, &type) && type == kIpv4Type;
}

bool HasIpv4Family(const BoundedReader& header, bool eitherOrder) {
  std::uint32_t family = 0;
  return header.Read32(0, &family) &&
         (family == kIpv4Family || (eitherOrder && family == kIpv4FamilyByteSwapped));
}

// True when the link header (not Ethernet) announces IPv4; *ip is then
// where it starts.
bool FindIpv4(LinkLayer link, const BoundedReader& frame, std::uint32_t* ip) {
  switch (link) {
    case LinkLayer::kLinuxCooked:  // 16 bytes, the protocol type last
      *ip = 16;
      return HasIpv4Type(frame, 14);
    case LinkLayer::kLinuxCooked2:  // 20 bytes, the protocol type first
      *ip = 20;
      return HasIpv4Type(frame, 0);
    case LinkLayer::kRawIp:  // no header; the IPv4 decoder checks the version
      *ip = 0;
      return true;
    case LinkLayer::kNullLoopback:
      *ip = 4;
      return HasIpv4Family(frame, true);
    case LinkLayer::kLoopLoopback:
      *ip = 4;
      return HasIpv4Family(frame, false);
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
  if (!FindIpv4(link, BoundedReader(frame, capturedLength), &ip)) return kOtherFrame;
  return DecodeIpv4(frame, ip, capturedLength);
}

}  // namespace tillwire
