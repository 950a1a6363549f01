// Which bytes of a TCP segment have not been forwarded before.
//
// A mirror port shows bytes of a TCP stream more than once: retransmissions
// (the original was lost after the mirror point), every frame twice when the
// mirror copies both directions of both switch ports, keep-alive probes that
// repeat a byte already sent, and zero-window probes whose byte is sent again
// once the receiver's window opens. An NVR must see each byte of a terminal's
// stream once, so the tracker remembers per flow (one direction of one
// connection: source address and port to destination address and port) the
// sequence ranges already forwarded and hands back only the new parts of each
// segment. Bytes after a gap (a frame the capture missed) are new at once, and
// a late segment that fills a remembered gap is new when it arrives.
//
// Sequence numbers are compared in 32-bit modular arithmetic, so a stream
// that wraps past 2^32 is followed. What a flow remembers lies within 1 GiB
// behind the highest byte forwarded (no TCP sender retransmits further back);
// a segment further away than that, behind or ahead, belongs to another
// connection on the same four-tuple and starts the flow afresh, as do a SYN
// with a new initial sequence number and, once a FIN or RST has been seen, a
// segment that carries bytes past the end of the old stream.
//
// Storage is fixed when the tracker is made: at most maxFlows flows, each with
// at most kRangesPerFlow remembered ranges. When a flow would need more, the
// oldest gap is given up (a late fill of it is then taken for a copy). A flow
// not seen for idleSeconds is forgotten; when the table is full, an old flow
// makes room: one seen only once, or not again since the last sweep over the
// table (a clock approximation of the least recently seen, which costs
// nothing per segment). A forgotten flow simply starts afresh at its next
// segment. Nothing allocates per segment; for the engine's thread only.
#ifndef TILLWIRE_CAPTURE_FLOW_TRACKER_H
#define TILLWIRE_CAPTURE_FLOW_TRACKER_H

#include "capture/terminal_matcher.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tillwire {

// TCP header flags that the tracker acts on.
inline constexpr std::uint8_t kTcpFin = 0x01;
inline constexpr std::uint8_t kTcpSyn = 0x02;
inline constexpr std::uint8_t kTcpRst = 0x04;

// The parts of one segment's payload to forward, in payload order.
struct NewBytes {
  static constexpr int kMaxPieces = 17;  // one more than the ranges a flow remembers
  struct Piece {
    std::uint32_t offset;  // from the first payload byte
    std::uint32_t length;  // at least 1
  };
  int count = 0;
  Piece pieces[kMaxPieces];
};

class FlowTracker {
 public:
  static constexpr int kRangesPerFlow = 16;
  // Enough for every connection of a thousand busy terminals.
  static constexpr std::size_t kDefaultMaxFlows = 16384;
  // Longer than the two hours after which common TCP stacks probe an idle
  // connection, so that a keep-alive byte is still known for a copy.
  static constexpr std::uint32_t kDefaultIdleSeconds = 3 * 60 * 60;

  explicit FlowTracker(std::size_t maxFlows = kDefaultMaxFlows,
                       std::uint32_t idleSeconds = kDefaultIdleSeconds);

  // A segment with length payload bytes (at most 65535) of a flow whose
  // payload is forwarded, seen at time now (seconds). Fills fresh with the
  // parts not forwarded before and from then on counts them as forwarded.
  void Admit(const PacketKey& flow, std::uint32_t sequence, std::uint8_t flags,
             std::uint32_t length, std::uint32_t now, NewBytes* fresh);

  // A segment without payload: a SYN, FIN or RST of a flow being tracked
  // changes what follows (an RST ends both directions); anything else, and
  // any flow not tracked, is left alone.
  void Observe(const PacketKey& flow, std::uint32_t sequence, std::uint8_t flags,
               std::uint32_t now);

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  // Bytes [begin, end) in sequence numbers.
  struct Range {
    std::uint32_t begin;
    std::uint32_t end;
  };
  // What a segment needs (the key, the state, the first ranges) lies in the
  // first cache line.
  struct alignas(64) Flow {
    PacketKey key;
    std::uint32_t lastSeen;
    std::uint32_t nextInBucket;  // or in the free list
    std::uint32_t initialSequence;
    std::uint32_t closedAt;  // when closed: the end of the stream that it closed
    bool knowsInitialSequence;
    bool closed;      // a FIN or RST was seen
    bool seenAgain;   // since it was made or since the last sweep passed it
    std::uint8_t rangeCount;
    // Ascending, disjoint and not touching; the last one ends at the highest
    // byte forwarded. One spare slot for the insertion before a merge.
    Range ranges[kRangesPerFlow + 1];
  };

  std::uint32_t& BucketOf(const PacketKey& key);
  // The flow's index, or kNone; a flow idle too long is forgotten first.
  std::uint32_t Find(const PacketKey& key, std::uint32_t now);
  std::uint32_t Insert(const PacketKey& key, std::uint32_t now);
  void Remove(std::uint32_t index);
  void MakeRoom();
  void Touch(std::uint32_t index, std::uint32_t now);
  static void StartAfresh(Flow& flow);
  static void Close(Flow& flow, std::uint32_t streamEnd);
  void CloseConnection(const PacketKey& key, std::uint32_t now);
  static void TakeNewBytes(const Flow& flow, std::uint32_t base, std::uint32_t begin,
                           std::uint32_t end, NewBytes* fresh);
  static void Remember(Flow& flow, std::uint32_t base, std::uint32_t begin, std::uint32_t end);

  const std::uint32_t idleSeconds;
  std::vector<Flow> flows;
  std::vector<std::uint32_t> buckets;
  std::uint32_t bucketMask;
  std::uint32_t freeList = kNone;
  std::uint32_t sweep = 0;  // the next flow the sweep looks at
};

}  // namespace tillwire

#endif
