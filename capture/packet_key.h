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

inline bool operator==(const PacketKey& a, const PacketKey& b) {
  return a.srcAddress == b.srcAddress && a.dstAddress == b.dstAddress && a.srcPort == b.srcPort &&
         a.dstPort == b.dstPort;
}

inline bool operator!=(const PacketKey& a, const PacketKey& b) { return !(a == b); }

// The key of the other direction of the same conversation.
inline PacketKey Reversed(const PacketKey& key) {
  return PacketKey{key.dstAddress, key.srcAddress, key.dstPort, key.srcPort};
}

}  // namespace tillwire

#endif
