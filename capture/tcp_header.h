// What the frame path reads of a TCP header, and the flags it acts on.
#ifndef TILLWIRE_CAPTURE_TCP_HEADER_H
#define TILLWIRE_CAPTURE_TCP_HEADER_H

#include <cstdint>

namespace tillwire {

inline constexpr std::uint8_t kTcpFin = 0x01;
inline constexpr std::uint8_t kTcpSyn = 0x02;
inline constexpr std::uint8_t kTcpRst = 0x04;
inline constexpr std::uint8_t kTcpAck = 0x10;

struct TcpHeader {
  std::uint32_t sequence;
  std::uint32_t acknowledgment;  // meaningful with kTcpAck
  std::uint8_t flags;
};

}  // namespace tillwire

#endif
