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

std::uint32_t Hash(const PacketKey& key) {
  const std::uint64_t addresses = (std::uint64_t{key.srcAddress} << 32) | key.dstAddress;
  const std::uint64_t ports = (std::uint64_t{key.srcPort} << 16) | key.dstPort;
  const std::uint64_t mixed =
      addresses * 0x9E3779B97F4A7C15ull ^ (ports + 1) * 0xC2B2AE3D27D4EB4Full;
  return static_cast<std::uint32_t>(mixed >> 32) ^ static_cast<std::uint32_t>(mixed);
}

bool SameKey(const PacketKey& a, const PacketKey& b) {
  return a.srcAddress == b.srcAddress && a.dstAddress == b.dstAddress && a.srcPort == b.srcPort &&
         a.dstPort == b.dstPort;
}

PacketKey Reversed(const PacketKey& key) {
  return PacketKey{key.dstAddress, key.srcAddress, key.dstPort, key.srcPort};
}

}  // namespace

FlowTracker::FlowTracker(std::size_t maxFlows, std::uint32_t idleSeconds)
    : idleSeconds(idleSeconds), flows(std::max<std::size_t>(maxFlows, 1)) {
  std::size_t bucketCount = 1;
  while (bucketCount < 2 * flows.size()) bucketCount *= 2;
  buckets.assign(bucketCount, kNone);
  bucketMask = static_cast<std::uint32_t>(bucketCount - 1);
  for (std::size_t i = flows.size(); i-- > 0;) {
    flows[i].nextInBucket = freeList;
    freeList = static_cast<std::uint32_t>(i);
  }
}

void FlowTracker::Admit(const PacketKey& key, std::uint32_t sequence, std::uint8_t flags,
                        std::uint32_t length, std::uint32_t now, NewBytes* fresh) {
  fresh->count = 0;
  if (length == 0) return;
  std::uint32_t index = Find(key, now);
  if (index == kNone) {
    index = Insert(key, now);
  } else {
    Touch(index, now);
  }
  Flow& flow = flows[index];

  std::uint32_t begin = sequence;
  if (flags & kTcpSyn) {
    if (!flow.knowsInitialSequence || flow.initialSequence != sequence) {
      StartAfresh(flow);
      flow.knowsInitialSequence = true;
      flow.initialSequence = sequence;
    }
    ++begin;  // the SYN itself takes the first sequence number
  }
  const std::uint32_t end = begin + length;
  if (flow.rangeCount > 0) {
    const std::uint32_t front = flow.ranges[flow.rangeCount - 1].end;
    const bool withinWindow = !Before(begin, front - kWindow) && !Before(front + kWindow, end);
    const bool pastClosedEnd = flow.closed && Before(flow.closedAt, end);
    if (!withinWindow || pastClosedEnd) StartAfresh(flow);
  }
  if (flow.rangeCount == 0) {
    flow.ranges[0] = Range{begin, end};
    flow.rangeCount = 1;
    fresh->pieces[0] = NewBytes::Piece{0, length};
    fresh->count = 1;
  } else {
    const std::uint32_t base = flow.ranges[flow.rangeCount - 1].end - kWindow;
    TakeNewBytes(flow, base, begin, end, fresh);
    Remember(flow, base, begin, end);
  }
  if (flags & kTcpFin) Close(flow, end);
  if (flags & kTcpRst) CloseConnection(key, now);
}

void FlowTracker::Observe(const PacketKey& key, std::uint32_t sequence, std::uint8_t flags,
                          std::uint32_t now) {
  if (flags & kTcpRst) {
    CloseConnection(key, now);
    return;
  }
  if ((flags & (kTcpSyn | kTcpFin)) == 0) return;
  const std::uint32_t index = Find(key, now);
  if (index == kNone) return;
  Touch(index, now);
  Flow& flow = flows[index];
  if ((flags & kTcpSyn) &&
      (!flow.knowsInitialSequence || flow.initialSequence != sequence)) {
    StartAfresh(flow);
    flow.knowsInitialSequence = true;
    flow.initialSequence = sequence;
  }
  if (flags & kTcpFin) Close(flow, sequence);
}

void FlowTracker::StartAfresh(Flow& flow) {
  flow.rangeCount = 0;
  flow.closed = false;
  flow.knowsInitialSequence = false;
}

void FlowTracker::Close(Flow& flow, std::uint32_t streamEnd) {
  if (flow.rangeCount == 0) return;  // nothing forwarded that a new connection could repeat
  const std::uint32_t front = flow.ranges[flow.rangeCount - 1].end;
  flow.closedAt = Before(streamEnd, front) ? front : streamEnd;
  flow.closed = true;
}

// An RST, from either end, ends the connection in both directions.
void FlowTracker::CloseConnection(const PacketKey& key, std::uint32_t now) {
  for (const PacketKey& direction : {key, Reversed(key)}) {
    const std::uint32_t index = Find(direction, now);
    if (index == kNone || flows[index].rangeCount == 0) continue;
    Flow& flow = flows[index];
    Close(flow, flow.ranges[flow.rangeCount - 1].end);
  }
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

std::uint32_t& FlowTracker::BucketOf(const PacketKey& key) {
  return buckets[Hash(key) & bucketMask];
}

std::uint32_t FlowTracker::Find(const PacketKey& key, std::uint32_t now) {
  for (std::uint32_t index = BucketOf(key); index != kNone; index = flows[index].nextInBucket) {
    if (!SameKey(flows[index].key, key)) continue;
    // Capture time may step back (merged captures): only a real pause counts.
    if (std::int64_t{now} - flows[index].lastSeen > idleSeconds) {
      Remove(index);
      return kNone;
    }
    return index;
  }
  return kNone;
}

std::uint32_t FlowTracker::Insert(const PacketKey& key, std::uint32_t now) {
  if (freeList == kNone) MakeRoom();
  const std::uint32_t index = freeList;
  Flow& flow = flows[index];
  freeList = flow.nextInBucket;
  flow.key = key;
  flow.lastSeen = now;
  flow.seenAgain = false;
  StartAfresh(flow);
  std::uint32_t& bucket = BucketOf(key);
  flow.nextInBucket = bucket;
  bucket = index;
  return index;
}

// The table is full: the sweep passes flows seen again (and takes that mark
// from them) and removes the first that was not.
void FlowTracker::MakeRoom() {
  for (;;) {
    Flow& flow = flows[sweep];
    const std::uint32_t index = sweep;
    sweep = sweep + 1 == flows.size() ? 0 : sweep + 1;
    if (!flow.seenAgain) {
      Remove(index);
      return;
    }
    flow.seenAgain = false;
  }
}

void FlowTracker::Remove(std::uint32_t index) {
  std::uint32_t* link = &BucketOf(flows[index].key);
  while (*link != index) link = &flows[*link].nextInBucket;
  *link = flows[index].nextInBucket;
  flows[index].nextInBucket = freeList;
  freeList = index;
}

void FlowTracker::Touch(std::uint32_t index, std::uint32_t now) {
  flows[index].lastSeen = now;
  flows[index].seenAgain = true;
}

}  // namespace tillwire
