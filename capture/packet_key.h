// What a packet is matched and tracked on: its addresses and ports.
#ifndef TILLWIRE_CAPTURE_PACKET_KEY_H
#define TILLWIRE_CAPTURE_PACKET_KEY_H

#include <cstdint>

namespace tillwire {

// Addresses hold the four bytes first byte first (192.168.10.2 is
// 0xC0A80A02); ports are in host order.
struct PacketKey {
  std::uint32_t srcAddress;
  std::uint32_t dstAddress;
  std::uint16_t srcPort;
  std::uint16_t dstPort;
};

}  // namespace tillwire

#endif
