#include "support/till_segments.h"

#include "support/frame_builder.h"

namespace tillwire {

Segment Flags(std::uint32_t sequence, std::uint8_t flags, bool fromPrinter, std::uint32_t ack) {
  Segment segment{sequence, "", ack};
  segment.flags = flags;
  segment.fromPrinter = fromPrinter;
  return segment;
}

Segment SynAck(std::uint32_t printerSequence, std::uint32_t tillSequence) {
  return Flags(printerSequence, kSyn | kTcpAck, true, tillSequence + 1);
}

PacketKey KeyOf(const Segment& segment) {
  return segment.fromPrinter ? PacketKey{kPrinter, kTill, 9100, segment.tillPort}
                             : PacketKey{kTill, kPrinter, segment.tillPort, 9100};
}

std::vector<unsigned char> FrameOf(const Segment& segment) {
  const PacketKey key = KeyOf(segment);
  FrameFields fields = FieldsBetween(key.srcAddress, key.srcPort, key.dstAddress, key.dstPort,
                                     segment.payload, segment.udp ? 17 : 6);
  fields.tcpSequence = segment.sequence;
  fields.tcpAcknowledgment = segment.ack;
  fields.tcpFlags = segment.flags;
  return BuildFrame(fields);
}

}  // namespace tillwire
