// The data path: one captured Ethernet frame to at most one NVR.
//
// A frame is read as Ethernet (with at most one 802.1Q tag) carrying IPv4
// carrying TCP or UDP; every field is read through a BoundedReader, within the
// captured bytes only. The payload's length comes from the IP total length, so
// Ethernet padding is never forwarded. Decoding and matching allocate, block
// and log nothing; handing a payload to a connected NVR copies it into that
// connection's queue (TerminalConnection::Send).
#ifndef TILLWIRE_CAPTURE_FRAME_DECODER_H
#define TILLWIRE_CAPTURE_FRAME_DECODER_H

#include "capture/flow_tracker.h"
#include "capture/terminal_matcher.h"

#include <cstdint>

namespace tillwire {

// What a frame turned out to be.
enum class FrameKind {
  kOther,      // not IPv4 carrying TCP or UDP (ARP, IPv6, ICMP, a bad header)
  kNoPayload,  // TCP or UDP without payload bytes, or cut short before its headers end
  kPayload,    // TCP or UDP with payload bytes
};

// The link layers whose frames are decoded (capture/link_layer.h reads all
// but Ethernet).
enum class LinkLayer {
  kEthernet,       // with at most one 802.1Q tag
  kLinuxCooked,    // Linux cooked capture v1 (DLT_LINUX_SLL)
  kLinuxCooked2,   // Linux cooked capture v2 (DLT_LINUX_SLL2)
  kRawIp,          // the IP packet without link header (DLT_RAW, DLT_IPV4)
  kNullLoopback,   // BSD loopback, family in the writer's byte order (DLT_NULL)
  kLoopLoopback,   // BSD loopback, family in network order (DLT_LOOP)
};

struct DecodedFrame {
  FrameKind kind;
  PacketKey key;                 // set for kNoPayload when the ports were captured, and for kPayload
  const unsigned char* payload;  // kPayload: the first payload byte, inside the frame
  int payloadLength;             // kPayload: at least 1; cut to the captured bytes
  bool tcp;
  TcpHeader tcpHeader;  // TCP with 14 header bytes captured: sequence and acknowledgment
                        // numbers and flags (FIN, SYN, RST, ACK, ...); else all 0
};

// A frame that carries no IPv4 TCP or UDP packet.
inline constexpr DecodedFrame kOtherFrame{FrameKind::kOther, PacketKey{}, nullptr, 0, false,
                                          TcpHeader{0, 0, 0}};

// Decodes a frame of capturedLength bytes. A frame too short for its link
// header, a 20-byte IPv4 header and the 4 bytes of UDP or 13 bytes of TCP
// header that are read is kOther or kNoPayload; a payload that runs past the
// captured bytes is cut to them.
DecodedFrame DecodeFrame(const unsigned char* frame, std::uint32_t capturedLength);

// Decodes the IPv4 packet that starts ip bytes into the frame, as DecodeFrame
// does after the Ethernet header.
DecodedFrame DecodeIpv4(const unsigned char* frame, std::uint32_t ip,
                        std::uint32_t capturedLength);

// Decodes the frame and hands its payload to the first terminal that accepts
// it (Send copies it before returning); no other terminal is tried, even when
// that one has no NVR connected. Of a TCP payload only the bytes that flows
// has not seen forwarded go; TCP frames without payload tell flows of
// connections that start and end. seconds is the frame's capture time.
// Returns true for TCP and UDP frames, with or without payload, and false for
// the rest. The frame is decoded for its link layer by DecodeLinkFrame.
bool ProcessFrame(const unsigned char* frame, std::uint32_t capturedLength, std::uint32_t seconds,
                  const TerminalMatcher& matcher, FlowTracker& flows,
                  LinkLayer link = LinkLayer::kEthernet);

}  // namespace tillwire

#endif
