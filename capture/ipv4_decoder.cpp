#include "capture/ipv4_decoder.h"

#include "capture/bounded_reader.h"

#include <algorithm>

namespace tillwire {

namespace {

const std::uint32_t kIpv4MinimumHeader = 20;
const std::uint16_t kFragmentOffsetMask = 0x1FFF;
const std::uint16_t kMoreFragments = 0x2000;
const std::uint8_t kProtocolTcp = 6;
const std::uint8_t kProtocolUdp = 17;
const std::uint32_t kTcpMinimumHeader = 20;
const std::uint32_t kTcpBytesRead = 13;  // up to the data offset
const std::uint32_t kUdpBytesRead = 4;   // the two ports
const std::uint32_t kUdpHeader = 8;

// The numbers and flags of a TCP header, or all 0 when its first 14 bytes
// were not captured (a header cut short, which carries no payload either).
TcpHeader ReadTcpHeader(const BoundedReader& tcp) {
  TcpHeader header{0, 0, 0};
  if (!tcp.Read32(4, &header.sequence) || !tcp.Read32(8, &header.acknowledgment) ||
      !tcp.Read8(13, &header.flags)) {
    return TcpHeader{0, 0, 0};
  }
  return header;
}

}  // namespace

DecodedFrame DecodeIpv4(const unsigned char* bytes, std::uint32_t ipOffset,
                        std::uint32_t capturedLength) {
  const BoundedReader ip = BoundedReader(bytes, capturedLength).From(ipOffset);
  std::uint8_t versionAndLength = 0;
  std::uint8_t protocol = 0;
  std::uint16_t totalLength = 0;
  std::uint16_t fragment = 0;
  PacketKey key{};
  if (!ip.Holds(0, kIpv4MinimumHeader) || !ip.Read8(0, &versionAndLength) ||
      !ip.Read8(9, &protocol) || !ip.Read16(2, &totalLength) || !ip.Read16(6, &fragment) ||
      !ip.Read32(12, &key.srcAddress) || !ip.Read32(16, &key.dstAddress)) {
    return FrameOfKind(FrameKind::kTruncated);
  }
  const std::uint32_t ipHeaderLength = (versionAndLength & 0x0Fu) * 4;
  if ((versionAndLength >> 4) != 4) return FrameOfKind(FrameKind::kNotIpv4);
  if (ipHeaderLength < kIpv4MinimumHeader) return FrameOfKind(FrameKind::kTruncated);
  if (protocol != kProtocolTcp && protocol != kProtocolUdp) {
    return FrameOfKind(FrameKind::kNotTcpUdp);
  }
  // A fragment after the first carries the middle of a packet, no TCP or UDP
  // header: read as one, its bytes would give made-up ports and sequence
  // numbers.
  if ((fragment & kFragmentOffsetMask) != 0) return FrameOfKind(FrameKind::kFragment);

  DecodedFrame decoded = FrameOfKind(FrameKind::kNoPayload);
  const BoundedReader transport = ip.From(ipHeaderLength);
  const bool tcp = protocol == kProtocolTcp;
  decoded.tcp = tcp;
  if (!transport.Holds(0, tcp ? kTcpBytesRead : kUdpBytesRead) ||
      !transport.Read16(0, &key.srcPort) || !transport.Read16(2, &key.dstPort)) {
    return FrameOfKind(FrameKind::kTruncated);
  }
  std::uint32_t transportHeaderLength = kUdpHeader;
  // Signed: headers may claim more than the total length.
  int payloadLength = static_cast<int>(totalLength) - static_cast<int>(ipHeaderLength);
  if (tcp) {
    std::uint8_t dataOffset = 0;
    if (!transport.Read8(12, &dataOffset)) return FrameOfKind(FrameKind::kTruncated);
    transportHeaderLength = (dataOffset >> 4) * 4u;
    if (transportHeaderLength < kTcpMinimumHeader) return FrameOfKind(FrameKind::kTruncated);
    decoded.tcpHeader = ReadTcpHeader(transport);
  } else {
    // The datagram is what its UDP length holds: bytes after it in the IP
    // payload are not the datagram's (a receiving host discards them). A
    // length below the header's is malformed, and so is one past the IP
    // payload of a whole datagram; a first fragment holds only the start of
    // its datagram, and its part is the payload. A frame cut before the
    // length carries no payload anyway.
    std::uint16_t udpLength = 0;
    if (transport.Read16(4, &udpLength)) {
      const bool whole = (fragment & kMoreFragments) == 0;
      if (udpLength < kUdpHeader || (whole && static_cast<int>(udpLength) > payloadLength)) {
        return FrameOfKind(FrameKind::kTruncated);
      }
      payloadLength = std::min<int>(payloadLength, udpLength);
    }
  }
  decoded.key = key;

  payloadLength -= static_cast<int>(transportHeaderLength);
  const BoundedReader payload = transport.From(transportHeaderLength);
  if (payloadLength <= 0 || payload.Size() == 0) return decoded;
  decoded.kind = FrameKind::kPayload;
  decoded.payload = payload.Data();
  decoded.payloadLength =
      static_cast<int>(std::min<std::uint32_t>(payloadLength, payload.Size()));
  return decoded;
}

}  // namespace tillwire
