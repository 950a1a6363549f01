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

#include <cstddef>
#include <cstdint>

namespace tillwire {

// What a frame turned out to be: IPv4 TCP or UDP, which the frame path
// takes, or the reason it is not taken, so that a summary can say why
// traffic was not seen. The decoder sets it where it decides anyway.
enum class FrameKind {
  kPayload,     // TCP or UDP with payload bytes
  kNoPayload,   // TCP or UDP without payload bytes (an acknowledgment, a SYN), or with none
                // captured
  // Not taken:
  kNotIpv4,     // another link or network protocol: ARP, IPv6, other Ethernet types
  kFragment,    // a fragment of a TCP or UDP packet after the first: no TCP or UDP header in it
  kTruncated,   // cut short before a header that is read (the link header, the 20 bytes of
                // IPv4, 4 of UDP, 13 of TCP), a header length below its minimum, or a
                // UDP length below its header's or past the IP payload of a
                // datagram that is not fragmented
  kNotTcpUdp,   // IPv4 carrying another protocol: ICMP, IGMP, GRE, ...
};

// How many kinds there are: the size of a table indexed by the kind.
inline constexpr std::size_t kFrameKinds = static_cast<std::size_t>(FrameKind::kNotTcpUdp) + 1;

// Whether a frame of the kind is IPv4 TCP or UDP, which the frame path takes.
inline constexpr bool IsTcpOrUdp(FrameKind kind) {
  return kind == FrameKind::kPayload || kind == FrameKind::kNoPayload;
}

struct DecodedFrame {
  FrameKind kind;
  PacketKey key;                 // set for kNoPayload and kPayload
  const unsigned char* payload;  // kPayload: the first payload byte, inside the frame
  int payloadLength;             // kPayload: at least 1; cut to the captured bytes
  bool tcp;
  TcpHeader tcpHeader;  // TCP with 14 header bytes captured: sequence and acknowledgment
                        // numbers and flags (FIN, SYN, RST, ACK, ...); else all 0
};

// A frame of the kind with nothing else known: no key, payload or TCP header.
inline constexpr DecodedFrame FrameOfKind(FrameKind kind) {
  return DecodedFrame{kind, PacketKey{}, nullptr, 0, false, TcpHeader{0, 0, 0}};
}

// Decodes the IPv4 packet that starts ip bytes into a frame of capturedLength
// bytes. A packet too short for the 20-byte IPv4 header, or for the 4 bytes
// of UDP or 13 bytes of TCP header that are read, is kTruncated; a payload
// that runs past the captured bytes is cut to them. A UDP payload is what the
// UDP length holds, when the capture shows it, up to the IP payload (a UDP
// length below 8, or past the IP payload of an unfragmented datagram, is
// kTruncated). Only version 4 (else
// kNotIpv4) with a header of at least 5 words and TCP with a data offset of
// at least 5 words (else kTruncated), carrying TCP or UDP (else kNotTcpUdp),
// and the first fragment of a packet (else kFragment) are read.
DecodedFrame DecodeIpv4(const unsigned char* frame, std::uint32_t ip,
                        std::uint32_t capturedLength);

}  // namespace tillwire

#endif
