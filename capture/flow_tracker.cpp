#include "capture/flow_tracker.h"

#include <algorithm>

namespace tillwire {

namespace {

// How far behind the highest byte forwarded a flow remembers, and how far
// from it a segment may lie and still belong to the same connection. TCP's
// largest window is 1 GiB, so no sender retransmits further back; two points
// within 2^31 of each other compare correctly in modular arithmetic.
const std::uint32_t kWindow = 1u << 30;

// True when sequence number a comes before b.
bool Before(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a - b) < 0; }

}  // namespace

FlowTracker::FlowTracker(std::size_t maxFlows, std::uint32_t idleSeconds,
                         std::uint32_t closedIdleSeconds)
    : flows(maxFlows, idleSeconds, closedIdleSeconds) {}

void FlowTracker::Admit(const PacketKey& key, const TcpHeader& header, std::uint32_t length,
                        std::uint32_t now, NewBytes* fresh) {
  fresh->count = 0;
  if (length == 0 && (header.flags & kTcpSyn) == 0) {
    Observe(key, header, 0, now);
    return;
  }
  std::uint32_t index = flows.Find(key, now);
  if (index == kNone) {
    index = flows.Insert(key, now);
    StartAfresh(index);
  } else {
    flows.Touch(index, now);
  }
  Flow& flow = flows[index];

  std::uint32_t begin = header.sequence;
  if (header.flags & kTcpSyn) {
    TakeHandshake(key, index, header, now);
    ++begin;  // the SYN itself takes the first sequence number
  }
  const std::uint32_t end = begin + length;
  if (length > 0 && StartsAnotherConnection(index, header, begin, end)) {
    StartAfresh(index);
  }
  // Judged by the stream as it was before this segment's bytes.
  const bool reset = (header.flags & kTcpRst) && ResetInWindow(key, index, header.sequence, now);
  if (length > 0) TakeBytes(flow, begin, end, fresh);
  TakeControl(key, index, header, end, reset, now);
}

void FlowTracker::Observe(const PacketKey& key, const TcpHeader& header, std::uint32_t length,
                          std::uint32_t now) {
  if ((header.flags & (kTcpSyn | kTcpFin | kTcpRst)) == 0) return;
  const std::uint32_t index = flows.Find(key, now);
  if (index != kNone) flows.Touch(index, now);
  std::uint32_t begin = header.sequence;
  if (header.flags & kTcpSyn) {
    TakeHandshake(key, index, header, now);
    ++begin;
  }
  const bool reset = (header.flags & kTcpRst) && ResetInWindow(key, index, header.sequence, now);
  TakeControl(key, index, header, begin + length, reset, now);
}

// What a segment of key's direction, whose stream reaches end, tells besides
// its bytes: an RST in the window (reset) closes the connection and any other
// RST changes nothing; else its acknowledgment is learnt and a FIN ends the
// stream.
void FlowTracker::TakeControl(const PacketKey& key, std::uint32_t index, const TcpHeader& header,
                              std::uint32_t end, bool reset, std::uint32_t now) {
  if (reset) {
    CloseConnection(key, index, header, end, now);
    return;
  }
  if (header.flags & kTcpRst) return;
  if (index != kNone) LearnAck(flows[index], header);
  if (header.flags & kTcpFin) Finish(key, index, end, now);
}

// A SYN of key's direction, whose flow (if tracked) is index. A SYN/ACK that
// answers a new connection starts both directions afresh.
void FlowTracker::TakeHandshake(const PacketKey& key, std::uint32_t index, const TcpHeader& header,
                                std::uint32_t now) {
  const bool newConnection =
      (header.flags & kTcpAck) != 0 && AnswersWithNewConnection(key, header, now);
  if (index == kNone) return;
  if (newConnection) StartAfresh(index);
  TakeSyn(index, header.sequence);
}

// A SYN of a connection that is not closed, with the initial sequence number
// known or (not known yet) a little before the first byte remembered, is a
// copy; any other starts the flow afresh.
void FlowTracker::TakeSyn(std::uint32_t index, std::uint32_t sequence) {
  Flow& flow = flows[index];
  const bool beforeFirstByte =
      flow.rangeCount > 0 && flow.ranges[0].begin - (sequence + 1) <= kLateCopySlack;
  const bool copy = !flow.closed && (flow.knowsInitialSequence ? flow.initialSequence == sequence
                                                               : beforeFirstByte);
  if (!copy) StartAfresh(index);
  flow.knowsInitialSequence = true;
  flow.initialSequence = sequence;
}

// True when a SYN/ACK of key's direction answers a new connection: its
// initial sequence number lies outside the responder's stream of the
// connection the reverse flow remembers. That flow then starts afresh,
// knowing its initial sequence number from the SYN/ACK's acknowledgment; in
// any case it learns the responder's.
bool FlowTracker::AnswersWithNewConnection(const PacketKey& key, const TcpHeader& header,
                                           std::uint32_t now) {
  const std::uint32_t reverse = flows.Find(Reversed(key), now);
  if (reverse == kNone) return false;
  Flow& flow = flows[reverse];
  const bool newConnection = !ResponderMayBeTheSame(flow, header.sequence);
  if (newConnection) {
    StartAfresh(reverse);
    flow.knowsInitialSequence = true;
    flow.initialSequence = header.acknowledgment - 1;
  }
  flow.knowsPeerInitial = true;
  flow.peerInitial = header.sequence;
  return newConnection;
}

// True when a responder's initial sequence number may belong to the
// connection the flow remembers: when it lies in the responder's stream as
// far as the flow knows it, from the responder's initial sequence number (or,
// not known, from the flow's first acknowledgment less kLateCopySlack) to the
// furthest point the flow acknowledged; or when the flow's last
// acknowledgment lies a little past it: then the flow's latest bytes, which
// the mirror showed ahead of the handshake, belong to the connection the
// SYN/ACK opens. A flow that knows neither cannot tell.
bool FlowTracker::ResponderMayBeTheSame(const Flow& flow, std::uint32_t sequence) {
  if (!flow.knowsPeerInitial && !flow.knowsAck) return true;
  if (flow.knowsAck && flow.lastAck - sequence <= kLateCopySlack) return true;
  const std::uint32_t low =
      flow.knowsPeerInitial ? flow.peerInitial : flow.firstAck - 1 - kLateCopySlack;
  const std::uint32_t high = flow.knowsAck && !Before(PeerFront(flow), low) ? PeerFront(flow) : low;
  return sequence - low <= high - low;
}

// True when bytes [begin, end) cannot belong to the stream the flow
// remembers.
bool FlowTracker::StartsAnotherConnection(std::uint32_t index, const TcpHeader& header,
                                          std::uint32_t begin, std::uint32_t end) const {
  const Flow& flow = flows[index];
  if (flow.rangeCount > 0) {
    const std::uint32_t front = flow.ranges[flow.rangeCount - 1].end;
    if (Before(begin, front - kWindow) || Before(front + kWindow, end)) return true;
  }
  if (flows.Ended(index) && Before(flow.streamEnd, end)) return true;
  if (!flow.closed) return false;
  // A retransmission acknowledges what this direction acknowledged last, or
  // more, up to the whole of the peer's stream.
  if (!(header.flags & kTcpAck) || !flow.knowsAck) return true;
  return Before(header.acknowledgment, flow.lastAck - kLateCopySlack) ||
         Before(PeerFront(flow), header.acknowledgment);
}

// The furthest point of the peer's stream that the flow knows of: the end
// of the peer's stream once its FIN was seen, else the last acknowledgment.
std::uint32_t FlowTracker::PeerFront(const Flow& flow) {
  return flow.peerEnded && Before(flow.lastAck, flow.peerEnd) ? flow.peerEnd : flow.lastAck;
}

void FlowTracker::StartAfresh(std::uint32_t index) {
  Flow& flow = flows[index];
  flows.SetEnded(index, false);
  flow.rangeCount = 0;
  flow.knowsInitialSequence = false;
  flow.knowsAck = false;
  flow.knowsPeerInitial = false;
  flow.peerEnded = false;
  flow.closed = false;
}

void FlowTracker::LearnAck(Flow& flow, const TcpHeader& header) {
  if ((header.flags & kTcpAck) == 0) return;
  if (!flow.knowsAck) flow.firstAck = header.acknowledgment;
  flow.lastAck = header.acknowledgment;
  flow.knowsAck = true;
}

// The flow's own stream ended at streamEnd or at its highest byte, whichever
// is further; the table counts the flow as ended.
void FlowTracker::EndStream(std::uint32_t index, std::uint32_t streamEnd) {
  Flow& flow = flows[index];
  const std::uint32_t front =
      flow.rangeCount > 0 ? flow.ranges[flow.rangeCount - 1].end : streamEnd;
  flow.streamEnd = Before(streamEnd, front) ? front : streamEnd;
  flows.SetEnded(index, true);
  flow.closed = flow.closed || flow.peerEnded;
}

// The peer's stream ended: peerEnd acknowledges all of it.
void FlowTracker::EndPeerStream(std::uint32_t index, std::uint32_t peerEnd) {
  Flow& flow = flows[index];
  flow.peerEnd = peerEnd;
  flow.peerEnded = true;
  flow.closed = flow.closed || flows.Ended(index);
}

// A FIN of key's direction after bytes up to streamEnd: that stream ended,
// and its reverse flow's peer with it.
void FlowTracker::Finish(const PacketKey& key, std::uint32_t index, std::uint32_t streamEnd,
                         std::uint32_t now) {
  if (index != kNone) EndStream(index, streamEnd);
  const std::uint32_t reverse = flows.Find(Reversed(key), now);
  if (reverse != kNone) EndPeerStream(reverse, streamEnd + 1);  // the FIN takes a number
}

// True when an RST of key's direction lies in the window the receiver
// accepts: from the sender's stream front or, with no byte of that direction
// remembered, from its first byte (the SYN showed it), from the receiver's
// last acknowledgment, or from the first byte the SYN/ACK showed. With none
// known it cannot be judged, and there is no flow it could close anyway.
bool FlowTracker::ResetInWindow(const PacketKey& key, std::uint32_t index,
                                std::uint32_t sequence, std::uint32_t now) {
  std::uint32_t position;
  const std::uint32_t reverse = flows.Find(Reversed(key), now);
  if (index != kNone && flows[index].rangeCount > 0) {
    position = flows[index].ranges[flows[index].rangeCount - 1].end;
  } else if (index != kNone && flows[index].knowsInitialSequence) {
    position = flows[index].initialSequence + 1;
  } else if (reverse != kNone && flows[reverse].knowsAck) {
    position = flows[reverse].lastAck;
  } else if (reverse != kNone && flows[reverse].knowsPeerInitial) {
    position = flows[reverse].peerInitial + 1;
  } else {
    return false;
  }
  return !Before(sequence, position) && Before(sequence, position + kResetWindow);
}

// An accepted RST of key's direction, whose stream ends at streamEnd: the
// connection is closed in both directions.
void FlowTracker::CloseConnection(const PacketKey& key, std::uint32_t index,
                                  const TcpHeader& header, std::uint32_t streamEnd,
                                  std::uint32_t now) {
  if (index != kNone) {
    LearnAck(flows[index], header);
    if (header.flags & kTcpAck) EndPeerStream(index, header.acknowledgment);
    EndStream(index, streamEnd);
    flows[index].closed = true;
  }
  const std::uint32_t reverse = flows.Find(Reversed(key), now);
  if (reverse == kNone) return;
  Flow& flow = flows[reverse];
  EndPeerStream(reverse, streamEnd);
  // Its stream ended where the RST acknowledges, or at least at its front.
  if (header.flags & kTcpAck) {
    EndStream(reverse, header.acknowledgment);
  } else if (flow.rangeCount > 0) {
    EndStream(reverse, flow.ranges[flow.rangeCount - 1].end);
  }
  flow.closed = true;
}

// Hands on the parts of bytes [begin, end) not forwarded before, and from
// then on counts them as forwarded.
void FlowTracker::TakeBytes(Flow& flow, std::uint32_t begin, std::uint32_t end,
                            NewBytes* fresh) {
  if (flow.rangeCount == 0) {
    flow.ranges[0] = Range{begin, end};
    flow.rangeCount = 1;
    fresh->pieces[0] = NewBytes::Piece{0, end - begin};
    fresh->count = 1;
    return;
  }
  const std::uint32_t base = flow.ranges[flow.rangeCount - 1].end - kWindow;
  TakeNewBytes(flow, base, begin, end, fresh);
  Remember(flow, base, begin, end);
}

// The parts of [begin, end) that no remembered range covers. Offsets are
// taken from base, behind every remembered byte and the segment, so that
// plain unsigned comparison orders them.
void FlowTracker::TakeNewBytes(const Flow& flow, std::uint32_t base, std::uint32_t begin,
                               std::uint32_t end, NewBytes* fresh) {
  const std::uint32_t first = begin - base;
  const std::uint32_t last = end - base;
  std::uint32_t cursor = first;
  for (int i = 0; i < flow.rangeCount && cursor < last; ++i) {
    const std::uint32_t rangeBegin = flow.ranges[i].begin - base;
    const std::uint32_t rangeEnd = flow.ranges[i].end - base;
    if (rangeEnd <= cursor) continue;
    if (rangeBegin >= last) break;
    if (rangeBegin > cursor) {
      fresh->pieces[fresh->count++] = NewBytes::Piece{cursor - first, rangeBegin - cursor};
    }
    cursor = rangeEnd;
  }
  if (cursor < last) fresh->pieces[fresh->count++] = NewBytes::Piece{cursor - first, last - cursor};
}

// Adds [begin, end) to the flow's ranges, merging what it overlaps or
// touches; then forgets what lies more than the window behind the new front
// and, with one range too many, gives up the oldest gap.
void FlowTracker::Remember(Flow& flow, std::uint32_t base, std::uint32_t begin,
                           std::uint32_t end) {
  Range* ranges = flow.ranges;
  int count = flow.rangeCount;
  const std::uint32_t first = begin - base;
  const std::uint32_t last = end - base;
  int i = 0;
  while (i < count && ranges[i].end - base < first) ++i;
  int j = i;
  while (j < count && ranges[j].begin - base <= last) ++j;
  if (i == j) {
    std::copy_backward(ranges + i, ranges + count, ranges + count + 1);
    ranges[i] = Range{begin, end};
    ++count;
  } else {
    const std::uint32_t mergedBegin = ranges[i].begin - base < first ? ranges[i].begin : begin;
    const std::uint32_t mergedEnd = ranges[j - 1].end - base > last ? ranges[j - 1].end : end;
    ranges[i] = Range{mergedBegin, mergedEnd};
    std::copy(ranges + j, ranges + count, ranges + i + 1);
    count -= j - i - 1;
  }

  const std::uint32_t floor = ranges[count - 1].end - kWindow;
  int stale = 0;
  while (!Before(floor, ranges[stale].end)) ++stale;  // the last range ends past floor
  std::copy(ranges + stale, ranges + count, ranges);
  count -= stale;
  if (Before(ranges[0].begin, floor)) ranges[0].begin = floor;
  if (count > kRangesPerFlow) {
    ranges[1].begin = ranges[0].begin;
    std::copy(ranges + 1, ranges + count, ranges);
    --count;
  }
  flow.rangeCount = static_cast<std::uint8_t>(count);
}

}  // namespace tillwire
