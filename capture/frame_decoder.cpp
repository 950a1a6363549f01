#include "capture/frame_decoder.h"

#include "capture/bounded_reader.h"
#include "capture/link_layer.h"

#include <algorithm>

namespace tillwire {

namespace {

const std::uint16_t kEtherTypeIpv4 = 0x0800;
const std::uint16_t kEtherTypeVlan = 0x8100;
const std::uint32_t kEtherTypeOffset = 12;
const std::uint32_t kTaggedEtherTypeOffset = 16;
const std::uint32_t kEthernetHeader = 14;
const std::uint32_t kVlanTag = 4;
const std::uint32_t kIpv4MinimumHeader = 20;
const std::uint16_t kFragmentOffsetMask = 0x1FFF;
const std::uint8_t kProtocolTcp = 6;
const std::uint8_t kProtocolUdp = 17;
const std::uint32_t kTcpMinimumHeader = 20;
const std::uint32_t kTcpBytesRead = 13;  // up to the data offset
const std::uint32_t kUdpBytesRead = 4;   // the two ports
const std::uint32_t kUdpHeader = 8;

// Where the IPv4 header begins: after the Ethernet header and at most one
// 802.1Q tag; 0 when the frame does not carry IPv4.
std::uint32_t Ipv4Offset(const BoundedReader& frame) {
  std::uint16_t etherType = 0;
  if (!frame.Read16(kEtherTypeOffset, &etherType)) return 0;
  if (etherType != kEtherTypeVlan) return etherType == kEtherTypeIpv4 ? kEthernetHeader : 0;
  if (!frame.Read16(kTaggedEtherTypeOffset, &etherType)) return 0;
  return etherType == kEtherTypeIpv4 ? kEthernetHeader + kVlanTag : 0;
}

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

// Hands the parts of a matched TCP payload that the flow has not forwarded.
void SendNewBytes(const DecodedFrame& decoded, std::uint32_t seconds, FlowTracker& flows,
                  TerminalConnection& connection) {
  NewBytes fresh;
  flows.Admit(decoded.key, decoded.tcpHeader, static_cast<std::uint32_t>(decoded.payloadLength),
              seconds, &fresh);
  for (int i = 0; i < fresh.count; ++i) {
    connection.Send(decoded.payload + fresh.pieces[i].offset,
                    static_cast<int>(fresh.pieces[i].length));
  }
}

}  // namespace

DecodedFrame DecodeFrame(const unsigned char* bytes, std::uint32_t capturedLength) {
  const std::uint32_t ipOffset = Ipv4Offset(BoundedReader(bytes, capturedLength));
  if (ipOffset == 0) return kOtherFrame;
  return DecodeIpv4(bytes, ipOffset, capturedLength);
}

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
    return kOtherFrame;
  }
  const std::uint32_t ipHeaderLength = (versionAndLength & 0x0Fu) * 4;
  // A fragment after the first carries the middle of a packet, no TCP or UDP
  // header: read as one, its bytes would give made-up ports and sequence
  // numbers.
  if ((versionAndLength >> 4) != 4 || ipHeaderLength < kIpv4MinimumHeader ||
      (protocol != kProtocolTcp && protocol != kProtocolUdp) ||
      (fragment & kFragmentOffsetMask) != 0) {
    return kOtherFrame;
  }

  DecodedFrame decoded = kOtherFrame;
  decoded.kind = FrameKind::kNoPayload;
  const BoundedReader transport = ip.From(ipHeaderLength);
  const bool tcp = protocol == kProtocolTcp;
  decoded.tcp = tcp;
  if (!transport.Holds(0, tcp ? kTcpBytesRead : kUdpBytesRead) ||
      !transport.Read16(0, &key.srcPort) || !transport.Read16(2, &key.dstPort)) {
    return decoded;
  }
  std::uint32_t transportHeaderLength = kUdpHeader;
  if (tcp) {
    std::uint8_t dataOffset = 0;
    if (!transport.Read8(12, &dataOffset)) return decoded;
    transportHeaderLength = (dataOffset >> 4) * 4u;
    if (transportHeaderLength < kTcpMinimumHeader) return kOtherFrame;
    decoded.tcpHeader = ReadTcpHeader(transport);
  }
  decoded.key = key;

  // Signed: headers may claim more than the total length.
  const int payloadLength = static_cast<int>(totalLength) -
                            static_cast<int>(ipHeaderLength + transportHeaderLength);
  const BoundedReader payload = transport.From(transportHeaderLength);
  if (payloadLength <= 0 || payload.Size() == 0) return decoded;
  decoded.kind = FrameKind::kPayload;
  decoded.payload = payload.Data();
  decoded.payloadLength =
      static_cast<int>(std::min<std::uint32_t>(payloadLength, payload.Size()));
  return decoded;
}

bool ProcessFrame(const unsigned char* frame, std::uint32_t capturedLength, std::uint32_t seconds,
                  const TerminalMatcher& matcher, FlowTracker& flows, LinkLayer link) {
  const DecodedFrame decoded = DecodeLinkFrame(link, frame, capturedLength);
  if (decoded.kind == FrameKind::kOther) return false;
  if (decoded.kind == FrameKind::kNoPayload) {
    if (decoded.tcp) flows.Observe(decoded.key, decoded.tcpHeader, seconds);
    return true;
  }
  const Terminal* terminal = matcher.FindTerminal(decoded.key);
  if (terminal != nullptr && terminal->nvrConnection) {
    if (decoded.tcp) {
      SendNewBytes(decoded, seconds, flows, *terminal->nvrConnection);
    } else {
      terminal->nvrConnection->Send(decoded.payload, decoded.payloadLength);
    }
  }
  return true;
}

}  // namespace tillwire
