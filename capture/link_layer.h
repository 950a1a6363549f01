// A captured frame, from its link header on: the first room of the frame
// path.
//
// Ethernet is what adapters deliver (with at most one 802.1Q tag); captures
// made with other tools carry other link headers: Linux cooked capture
// (tcpdump -i any, v1 and v2), raw IP (tun adapters), BSD loopback. Each is
// read by its own header, within the captured bytes; only a header that
// announces IPv4 hands the bytes after it on to the IPv4 decoder.
#ifndef TILLWIRE_CAPTURE_LINK_LAYER_H
#define TILLWIRE_CAPTURE_LINK_LAYER_H

#include "capture/ipv4_decoder.h"

#include <cstdint>
#include <optional>

namespace tillwire {

// The link layers whose frames are decoded.
enum class LinkLayer {
  kEthernet,      // with at most one 802.1Q tag (DLT_EN10MB)
  kLinuxCooked,   // Linux cooked capture v1 (DLT_LINUX_SLL)
  kLinuxCooked2,  // Linux cooked capture v2 (DLT_LINUX_SLL2)
  kRawIp,         // the IP packet without link header (DLT_RAW, DLT_IPV4)
  kNullLoopback,  // BSD loopback, family in the writer's byte order (DLT_NULL)
  kLoopLoopback,  // BSD loopback, family in network order (DLT_LOOP)
};

// The pcap link type (pcap_datalink) as one that is decoded, if it is one.
std::optional<LinkLayer> LinkLayerOf(int dataLinkType);

// Decodes a frame of capturedLength bytes of the link layer: kTruncated when
// its link header is not captured whole, kNotIpv4 when it announces another
// protocol, and otherwise what DecodeIpv4 makes of the bytes after it.
DecodedFrame DecodeFrame(const unsigned char* frame, std::uint32_t capturedLength,
                         LinkLayer link = LinkLayer::kEthernet);

}  // namespace tillwire

#endif
