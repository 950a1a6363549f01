// The link layers a capture may carry, and where their IPv4 packets start.
//
// Ethernet is what adapters deliver; captures made with other tools carry
// other link headers: Linux cooked capture (tcpdump -i any, v1 and v2), raw
// IP (tun adapters), BSD loopback. Each is read by its own header: only a
// header that announces IPv4 leads to the IPv4 decoder; every field is read
// within the captured bytes.
#ifndef TILLWIRE_CAPTURE_LINK_LAYER_H
#define TILLWIRE_CAPTURE_LINK_LAYER_H

#include "capture/frame_decoder.h"

#include <pcap.h>

#include <cstdint>
#include <optional>

namespace tillwire {

namespace text {
inline constexpr char kUnsupportedLinkType[] = "Unsupported link type ";
inline constexpr char kUnsupportedLinkTypeEnd[] =
    "): Tillwire reads Ethernet, Linux cooked (v1 and v2), raw IPv4 and BSD loopback captures. "
    "Exiting.";
}  // namespace text

// The pcap link type (pcap_datalink) as one the decoder reads, if it is one.
std::optional<LinkLayer> LinkLayerOf(int dataLinkType);

// The link layer of the handle's frames; when it is none that the decoder
// reads, logs "Unsupported link type <number> (<name>): ..." and returns none.
std::optional<LinkLayer> CaptureLinkLayer(pcap_t* captureHandle);

// Decodes a frame of the link layer: Ethernet as DecodeFrame does, the others
// alike after their link header, kOther unless that header announces IPv4.
DecodedFrame DecodeLinkFrame(LinkLayer link, const unsigned char* frame,
                             std::uint32_t capturedLength);

}  // namespace tillwire

#endif
