#include "support/frame_builder.h"

#include <pcap.h>

#include <stdexcept>

namespace tillwire {

void Put16(std::vector<unsigned char>& bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<unsigned char>(value >> 8);
  bytes[offset + 1] = static_cast<unsigned char>(value);
}

void Put32(std::vector<unsigned char>& bytes, std::size_t offset, std::uint32_t value) {
  Put16(bytes, offset, static_cast<std::uint16_t>(value >> 16));
  Put16(bytes, offset + 2, static_cast<std::uint16_t>(value));
}

namespace {

std::size_t LinkLength(const FrameFields& fields) { return fields.vlanId ? 18 : 14; }

std::size_t TransportLength(const FrameFields& fields) {
  return fields.protocol == 6 ? fields.tcpHeaderWords * 4u : 8u;
}

}  // namespace

FrameFields FieldsBetween(std::uint32_t src, std::uint16_t srcPort, std::uint32_t dst,
                          std::uint16_t dstPort, const std::string& payload,
                          std::uint8_t protocol) {
  FrameFields fields;
  fields.protocol = protocol;
  fields.srcAddress = src;
  fields.srcPort = srcPort;
  fields.dstAddress = dst;
  fields.dstPort = dstPort;
  fields.payload = payload;
  return fields;
}

std::size_t PayloadOffset(const FrameFields& fields) {
  return LinkLength(fields) + fields.ipHeaderWords * 4u + TransportLength(fields);
}

std::vector<unsigned char> BuildFrame(const FrameFields& fields) {
  const std::size_t link = LinkLength(fields);
  const std::size_t ip = link;
  const std::size_t transport = ip + fields.ipHeaderWords * 4u;
  std::vector<unsigned char> bytes(PayloadOffset(fields), 0);
  for (std::size_t i = 0; i < 12; ++i) bytes[i] = static_cast<unsigned char>(0x10 + i);  // MACs
  if (fields.vlanId) {
    Put16(bytes, 12, 0x8100);
    Put16(bytes, 14, *fields.vlanId);
  }
  Put16(bytes, link - 2, fields.etherType);

  bytes[ip] = static_cast<unsigned char>((fields.ipVersion << 4) | (fields.ipHeaderWords & 0x0F));
  const std::size_t ipLength = bytes.size() - ip + fields.payload.size();
  Put16(bytes, ip + 2, fields.totalLength.value_or(static_cast<std::uint16_t>(ipLength)));
  Put16(bytes, ip + 6, fields.fragment);
  bytes[ip + 8] = 64;  // TTL
  bytes[ip + 9] = fields.protocol;
  Put32(bytes, ip + 12, fields.srcAddress);
  Put32(bytes, ip + 16, fields.dstAddress);

  Put16(bytes, transport, fields.srcPort);
  Put16(bytes, transport + 2, fields.dstPort);
  if (fields.protocol == 6) {
    bytes[transport + 12] = static_cast<unsigned char>(fields.tcpHeaderWords << 4);
    Put32(bytes, transport + 4, fields.tcpSequence);
    Put32(bytes, transport + 8, fields.tcpAcknowledgment);
    bytes[transport + 13] = fields.tcpFlags;
  } else if (fields.protocol == 17) {
    const std::size_t udpLength = 8 + fields.payload.size();
    Put16(bytes, transport + 4, fields.udpLength.value_or(static_cast<std::uint16_t>(udpLength)));
  }
  bytes.insert(bytes.end(), fields.payload.begin(), fields.payload.end());
  if (bytes.size() < fields.padTo) bytes.resize(fields.padTo, 0);
  return bytes;
}

std::vector<unsigned char> ArpFrame() {
  std::vector<unsigned char> bytes(42, 0);
  for (std::size_t i = 0; i < 6; ++i) bytes[i] = 0xFF;
  Put16(bytes, 12, 0x0806);
  Put16(bytes, 14, 1);       // Ethernet
  Put16(bytes, 16, 0x0800);  // IPv4
  bytes[18] = 6;
  bytes[19] = 4;
  Put16(bytes, 20, 1);  // request
  bytes[23] = 6;        // sender MAC byte, where an IPv4 reader finds the protocol
  return bytes;
}

std::vector<unsigned char> Relink(const std::vector<unsigned char>& ethernetFrame,
                                  int dataLinkType) {
  const std::uint16_t etherType =
      static_cast<std::uint16_t>((ethernetFrame.at(12) << 8) | ethernetFrame.at(13));
  const unsigned char family = etherType == 0x0800 ? 2 : 24;  // AF_INET, BSD's AF_INET6
  std::vector<unsigned char> header;
  switch (dataLinkType) {
    case DLT_LINUX_SLL:  // packet type, ARPHRD_ETHER, address length, address, protocol
      header.assign(16, 0);
      Put16(header, 2, 1);
      Put16(header, 4, 6);
      Put16(header, 14, etherType);
      break;
    case 276:  // DLT_LINUX_SLL2: protocol, reserved, interface, ARPHRD_ETHER, type, length, address
      header.assign(20, 0);
      Put16(header, 0, etherType);
      Put32(header, 4, 2);
      Put16(header, 8, 1);
      header[11] = 6;
      break;
    case DLT_RAW:
      break;
    case DLT_NULL:
      header = {family, 0, 0, 0};
      break;
    case DLT_LOOP:
      header = {0, 0, 0, family};
      break;
    default:
      throw std::invalid_argument("no link header for link type " + std::to_string(dataLinkType));
  }
  header.insert(header.end(), ethernetFrame.begin() + 14, ethernetFrame.end());
  return header;
}

}  // namespace tillwire
