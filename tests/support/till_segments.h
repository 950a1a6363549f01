// The frames of a till's connection to its receipt printer as a mirror port
// shows them, for the tests of TCP flow tracking: the till 192.168.10.31 on a
// port of its own, the printer 192.168.10.40 on port 9100.
#ifndef TILLWIRE_TESTS_SUPPORT_TILL_SEGMENTS_H
#define TILLWIRE_TESTS_SUPPORT_TILL_SEGMENTS_H

#include "capture/packet_key.h"
#include "capture/tcp_header.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tillwire {

inline constexpr std::uint32_t kTill = 0xC0A80A1F;     // 192.168.10.31, the terminal
inline constexpr std::uint32_t kPrinter = 0xC0A80A28;  // 192.168.10.40

// The connection most cases use: the till's first byte is 1001, and it
// acknowledges the printer's SYN (sequence 5000) with 5001.
inline constexpr std::uint32_t kPrinterAck = 5001;
inline constexpr std::uint8_t kSyn = kTcpSyn, kFin = kTcpFin | kTcpAck, kRst = kTcpRst;

// One frame on the mirror port: a TCP segment of the till's stream to the
// printer, or (printer set) of the printer's answer, or a UDP datagram.
struct Segment {
  std::uint32_t sequence;
  std::string payload;
  std::uint32_t ack = kPrinterAck;
  std::uint8_t flags = 0x18;  // PSH ACK
  bool fromPrinter = false;
  bool udp = false;
  std::uint16_t tillPort = 49152;
};

// A segment without payload.
Segment Flags(std::uint32_t sequence, std::uint8_t flags, bool fromPrinter = false,
              std::uint32_t ack = kPrinterAck);

// The printer's answer to the till's SYN.
Segment SynAck(std::uint32_t printerSequence, std::uint32_t tillSequence);

PacketKey KeyOf(const Segment& segment);

// The segment as an Ethernet frame.
std::vector<unsigned char> FrameOf(const Segment& segment);

}  // namespace tillwire

#endif
