// Ethernet frames built byte by byte, for decoding tests and capture files.
#ifndef TILLWIRE_TESTS_SUPPORT_FRAME_BUILDER_H
#define TILLWIRE_TESTS_SUPPORT_FRAME_BUILDER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tillwire {

struct FrameFields {
  std::optional<std::uint16_t> vlanId;  // adds an 802.1Q tag
  std::uint16_t etherType = 0x0800;
  std::uint8_t ipVersion = 4;
  std::uint8_t ipHeaderWords = 5;
  std::uint16_t fragment = 0;  // IP flags (0x2000 more fragments) and fragment offset
  std::uint8_t protocol = 6;  // 6 TCP, 17 UDP, anything else
  std::uint32_t srcAddress = 0xC0A80A1F;  // 192.168.10.31
  std::uint32_t dstAddress = 0xC0A80A28;  // 192.168.10.40
  std::uint16_t srcPort = 49152;
  std::uint16_t dstPort = 9100;
  std::uint8_t tcpHeaderWords = 5;
  std::uint32_t tcpSequence = 0;
  std::uint32_t tcpAcknowledgment = 0;
  std::uint8_t tcpFlags = 0x18;  // PSH ACK
  std::string payload;
  std::optional<std::uint16_t> totalLength;  // default: the true IP length
  std::optional<std::uint16_t> udpLength;    // default: the true UDP length
  std::size_t padTo = 0;                     // Ethernet padding up to this frame size
};

// The fields of a TCP segment (protocol 6) or UDP datagram (17) from
// src:srcPort to dst:dstPort carrying payload; the rest as by default.
FrameFields FieldsBetween(std::uint32_t src, std::uint16_t srcPort, std::uint32_t dst,
                          std::uint16_t dstPort, const std::string& payload,
                          std::uint8_t protocol = 6);

// The frame: Ethernet header (and tag), IPv4 header (options zero), TCP or UDP
// header (options zero; other protocols get 8 zero bytes), payload, padding.
std::vector<unsigned char> BuildFrame(const FrameFields& fields);

// Where the payload starts in a frame built from fields.
std::size_t PayloadOffset(const FrameFields& fields);

// The packet of an untagged Ethernet frame behind another link header, for
// captures of that pcap link type: DLT_LINUX_SLL, DLT_LINUX_SLL2 (276),
// DLT_RAW (none), DLT_NULL (family in little-endian order, as x86 writes it)
// or DLT_LOOP. The header announces IPv4 when the Ethernet type is 0x0800,
// otherwise that type (cooked) or IPv6's family (loopback).
std::vector<unsigned char> Relink(const std::vector<unsigned char>& ethernetFrame,
                                  int dataLinkType);

// Writes a field in network order over the bytes at offset.
void Put16(std::vector<unsigned char>& bytes, std::size_t offset, std::uint16_t value);
void Put32(std::vector<unsigned char>& bytes, std::size_t offset, std::uint32_t value);

// A 802.3 ARP request frame whose byte 23 is 6, as an IPv4 reader would see TCP.
std::vector<unsigned char> ArpFrame();

}  // namespace tillwire

#endif
