#include "capture/frame_decoder.h"

#include <algorithm>

namespace {

const std::uint16_t kEtherTypeIpv4 = 0x0800;
const std::uint16_t kEtherTypeVlan = 0x8100;
const std::uint32_t kEthernetHeader = 14;
const std::uint32_t kVlanTag = 4;
const std::uint32_t kIpv4MinimumHeader = 20;
const std::uint8_t kProtocolTcp = 6;
const std::uint8_t kProtocolUdp = 17;
const std::uint32_t kTcpMinimumHeader = 20;
const std::uint32_t kTcpBytesRead = 13;  // up to the data offset
const std::uint32_t kUdpBytesRead = 4;   // the two ports
const std::uint32_t kUdpHeader = 8;

// Bounds-checked big-endian reads: the caller has checked that offset plus the
// field's width lies within the captured bytes.
std::uint16_t Read16(const unsigned char* bytes, std::uint32_t offset) {
  return static_cast<std::uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

std::uint32_t Read32(const unsigned char* bytes, std::uint32_t offset) {
  return (std::uint32_t{bytes[offset]} << 24) | (std::uint32_t{bytes[offset + 1]} << 16) |
         (std::uint32_t{bytes[offset + 2]} << 8) | bytes[offset + 3];
}

DecodedFrame Other() { return DecodedFrame{FrameKind::kOther, PacketKey{}, nullptr, 0}; }

}  // namespace

DecodedFrame DecodeFrame(const unsigned char* frame, std::uint32_t capturedLength) {
  if (capturedLength < kEthernetHeader) return Other();
  std::uint32_t ip = kEthernetHeader;
  std::uint16_t etherType = Read16(frame, 12);
  if (etherType == kEtherTypeVlan) {
    if (capturedLength < kEthernetHeader + kVlanTag) return Other();
    ip += kVlanTag;
    etherType = Read16(frame, 16);
  }
  if (etherType != kEtherTypeIpv4 || capturedLength - ip < kIpv4MinimumHeader) return Other();

  const std::uint8_t version = frame[ip] >> 4;
  const std::uint32_t ipHeaderLength = (frame[ip] & 0x0Fu) * 4;
  const std::uint8_t protocol = frame[ip + 9];
  if (version != 4 || ipHeaderLength < kIpv4MinimumHeader ||
      (protocol != kProtocolTcp && protocol != kProtocolUdp)) {
    return Other();
  }

  DecodedFrame decoded{FrameKind::kNoPayload, PacketKey{}, nullptr, 0};
  const std::uint32_t transport = ip + ipHeaderLength;
  const std::uint32_t bytesRead = protocol == kProtocolTcp ? kTcpBytesRead : kUdpBytesRead;
  if (capturedLength < transport || capturedLength - transport < bytesRead) return decoded;

  std::uint32_t transportHeaderLength = kUdpHeader;
  if (protocol == kProtocolTcp) {
    transportHeaderLength = (frame[transport + 12] >> 4) * 4u;
    if (transportHeaderLength < kTcpMinimumHeader) return Other();
  }
  decoded.key = PacketKey{Read32(frame, ip + 12), Read32(frame, ip + 16), Read16(frame, transport),
                          Read16(frame, transport + 2)};

  // Signed: headers may claim more than the total length.
  const int payloadLength = static_cast<int>(Read16(frame, ip + 2)) -
                            static_cast<int>(ipHeaderLength + transportHeaderLength);
  const std::uint32_t payloadStart = transport + transportHeaderLength;
  if (payloadLength <= 0 || payloadStart >= capturedLength) return decoded;
  decoded.kind = FrameKind::kPayload;
  decoded.payload = frame + payloadStart;
  decoded.payloadLength =
      static_cast<int>(std::min<std::uint32_t>(payloadLength, capturedLength - payloadStart));
  return decoded;
}

bool ProcessFrame(const unsigned char* frame, std::uint32_t capturedLength,
                  const TerminalMatcher& matcher) {
  const DecodedFrame decoded = DecodeFrame(frame, capturedLength);
  if (decoded.kind == FrameKind::kOther) return false;
  if (decoded.kind == FrameKind::kPayload) {
    if (Terminal* terminal = matcher.FindTerminal(decoded.key)) {
      terminal->channel->Send(decoded.payload, decoded.payloadLength);
    }
  }
  return true;
}
