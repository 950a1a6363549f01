// The fixed table of flows (one direction of one connection each) that the
// flow tracker keeps its streams in: found by their addresses and ports,
// forgotten when idle, and made room for when full.
//
// Storage is fixed when the table is made: at most maxFlows flows. A flow
// whose stream ended is forgotten when not seen for closedIdleSeconds
// (minutes, like TCP's TIME_WAIT), any other flow when not seen for
// idleSeconds. When the table is full, the flow whose stream ended first
// makes room; only when there is none, an old open flow does: one seen only
// once, or not again since the last sweep over the table (a clock
// approximation of the least recently seen, which costs nothing per
// segment). So short connections that come and go do not push out the idle,
// long-lived connections of printers. Nothing allocates after the table is
// made; for one thread.
#ifndef TILLWIRE_CAPTURE_FLOW_TABLE_H
#define TILLWIRE_CAPTURE_FLOW_TABLE_H

#include "capture/packet_key.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tillwire {

// Stream is what the table keeps of each flow besides its key and its place
// in the table; the first bytes of a Stream share the slot's first cache line.
template <typename Stream>
class FlowTable {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  FlowTable(std::size_t maxFlows, std::uint32_t idleSeconds, std::uint32_t closedIdleSeconds)
      : idleSeconds(idleSeconds),
        closedIdleSeconds(closedIdleSeconds),
        slots(std::max<std::size_t>(maxFlows, 1)) {
    std::size_t bucketCount = 1;
    while (bucketCount < 2 * slots.size()) bucketCount *= 2;
    buckets.assign(bucketCount, kNone);
    bucketMask = static_cast<std::uint32_t>(bucketCount - 1);
    for (std::size_t i = slots.size(); i-- > 0;) {
      slots[i].nextInBucket = freeList;
      freeList = static_cast<std::uint32_t>(i);
    }
  }

  // The flow's index, or kNone; a flow idle too long at time now (seconds)
  // is forgotten first.
  std::uint32_t Find(const PacketKey& key, std::uint32_t now) {
    for (std::uint32_t index = BucketOf(key); index != kNone; index = slots[index].nextInBucket) {
      if (slots[index].key != key) continue;
      // Capture time may step back (merged captures): only a real pause counts.
      const std::uint32_t limit = slots[index].ended ? closedIdleSeconds : idleSeconds;
      if (std::int64_t{now} - slots[index].lastSeen > limit) {
        Remove(index);
        return kNone;
      }
      return index;
    }
    return kNone;
  }

  // A new flow for a key that Find does not know, seen at time now; its
  // stream is as the flow that held the slot before left it, for the caller
  // to start afresh. Makes room when the table is full.
  std::uint32_t Insert(const PacketKey& key, std::uint32_t now) {
    if (freeList == kNone) MakeRoom();
    const std::uint32_t index = freeList;
    Slot& slot = slots[index];
    freeList = slot.nextInBucket;
    slot.key = key;
    slot.lastSeen = now;
    slot.seenAgain = false;
    std::uint32_t& bucket = BucketOf(key);
    slot.nextInBucket = bucket;
    bucket = index;
    return index;
  }

  // The flow was seen (again) at time now.
  void Touch(std::uint32_t index, std::uint32_t now) {
    slots[index].lastSeen = now;
    slots[index].seenAgain = true;
  }

  // Whether the flow's stream ended; an ended flow is forgotten sooner and
  // makes room first, the one that ended first before the others.
  bool Ended(std::uint32_t index) const { return slots[index].ended; }
  void SetEnded(std::uint32_t index, bool ended) {
    if (slots[index].ended == ended) return;
    if (ended) {
      Link(index);
    } else {
      Unlink(index);
    }
    slots[index].ended = ended;
  }

  Stream& operator[](std::uint32_t index) { return slots[index].stream; }
  const Stream& operator[](std::uint32_t index) const { return slots[index].stream; }

 private:
  // What a segment needs (the key and the stream's first part) lies in the
  // first cache line; the links of the ended flows' list lie behind.
  struct alignas(64) Slot {
    PacketKey key;
    std::uint32_t lastSeen;
    std::uint32_t nextInBucket;  // or in the free list
    bool ended;      // on the ended list
    bool seenAgain;  // since it was made or since the last sweep passed it
    Stream stream;
    // The ended list, oldest first.
    std::uint32_t endedBefore;
    std::uint32_t endedAfter;
  };

  static std::uint32_t Hash(const PacketKey& key) {
    const std::uint64_t addresses = (std::uint64_t{key.srcAddress} << 32) | key.dstAddress;
    const std::uint64_t ports = (std::uint64_t{key.srcPort} << 16) | key.dstPort;
    const std::uint64_t mixed =
        addresses * 0x9E3779B97F4A7C15ull ^ (ports + 1) * 0xC2B2AE3D27D4EB4Full;
    return static_cast<std::uint32_t>(mixed >> 32) ^ static_cast<std::uint32_t>(mixed);
  }

  std::uint32_t& BucketOf(const PacketKey& key) { return buckets[Hash(key) & bucketMask]; }

  // The table is full: the flow whose stream ended first goes. With none
  // ended, the sweep passes flows seen again (and takes that mark from them)
  // and removes the first that was not.
  void MakeRoom() {
    if (oldestEnded != kNone) {
      Remove(oldestEnded);
      return;
    }
    for (;;) {
      Slot& slot = slots[sweep];
      const std::uint32_t index = sweep;
      sweep = sweep + 1 == slots.size() ? 0 : sweep + 1;
      if (!slot.seenAgain) {
        Remove(index);
        return;
      }
      slot.seenAgain = false;
    }
  }

  void Remove(std::uint32_t index) {
    std::uint32_t* link = &BucketOf(slots[index].key);
    while (*link != index) link = &slots[*link].nextInBucket;
    *link = slots[index].nextInBucket;
    SetEnded(index, false);
    slots[index].nextInBucket = freeList;
    freeList = index;
  }

  void Link(std::uint32_t index) {
    Slot& slot = slots[index];
    slot.endedBefore = newestEnded;
    slot.endedAfter = kNone;
    (newestEnded != kNone ? slots[newestEnded].endedAfter : oldestEnded) = index;
    newestEnded = index;
  }

  void Unlink(std::uint32_t index) {
    const Slot& slot = slots[index];
    (slot.endedBefore != kNone ? slots[slot.endedBefore].endedAfter : oldestEnded) =
        slot.endedAfter;
    (slot.endedAfter != kNone ? slots[slot.endedAfter].endedBefore : newestEnded) =
        slot.endedBefore;
  }

  const std::uint32_t idleSeconds;
  const std::uint32_t closedIdleSeconds;
  std::vector<Slot> slots;
  std::vector<std::uint32_t> buckets;
  std::uint32_t bucketMask;
  std::uint32_t freeList = kNone;
  std::uint32_t sweep = 0;  // the next flow the sweep looks at
  std::uint32_t oldestEnded = kNone;
  std::uint32_t newestEnded = kNone;
};

}  // namespace tillwire

#endif
