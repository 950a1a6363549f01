// The network and transport layers of a frame: an IPv4 packet carrying TCP
// or UDP, read within the captured bytes only.
//
// Every field is read through a BoundedReader. The payload's length comes
// from the IP total length, so link-layer padding is never taken for payload.
// Allocates, blocks and logs nothing.
#ifndef TILLWIRE_CAPTURE_IPV4_DECODER_H
#define TILLWIRE_CAPTURE_IPV4_DECODER_H

#include "capture/packet_key.h"
#include "capture/tcp_header.h"

#include <cstdint>

namespace tillwire {

// What a frame turned out to be.
enum class FrameKind {
  kOther,      // not IPv4 carrying TCP or UDP (ARP, IPv6, ICMP, a bad header)
  kNoPayload,  // TCP or UDP without payload bytes, or cut short before its headers end
  kPayload,    // TCP or UDP with payload bytes
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

// Decodes the IPv4 packet that starts ip bytes into a frame of capturedLength
// bytes. A packet too short for the 20-byte IPv4 header is kOther; one too
// short for the 4 bytes of UDP or 13 bytes of TCP header that are read is
// kNoPayload; a payload that runs past the captured bytes is cut to them.
// Only version 4 with a header of at least 5 words, TCP with a data offset of
// at least 5 words, and the first fragment of a packet are read.
DecodedFrame DecodeIpv4(const unsigned char* frame, std::uint32_t ip,
                        std::uint32_t capturedLength);

}  // namespace tillwire

#endif
