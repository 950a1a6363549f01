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
// behind the highest byte forwarded (no TCP sender retransmits further back).
// Besides the ranges, a flow remembers its initial sequence number once a SYN
// showed it, the last acknowledgment number the direction sent (in segments
// that carry bytes and in its SYN, FIN and accepted RST segments), where its
// own stream ended (its FIN) and where the peer's ended (the reverse
// direction's FIN), as far as those were seen. The connection is
// closed once each side sent a FIN, or on an RST whose sequence number lies in
// its sender's window: from the sender's stream front (the end of the highest
// byte forwarded in that direction) or, when that direction is not tracked,
// from the last acknowledgment the receiver sent, up to kResetWindow further.
// TCP stacks accept no other RST (RFC 5961), so any other RST, an old one or
// a stray, changes nothing. An accepted RST closes both directions.
//
// A flow starts afresh (its bytes all new) on:
// - a segment more than 1 GiB away from the highest byte forwarded, behind or
//   ahead: another connection on the same four-tuple;
// - a SYN with a new initial sequence number; a SYN with the known one, or,
//   while none is known, one just before the first byte remembered (a
//   mirror's late copy of the SYN behind the connection's data), changes
//   nothing but teaches the flow its initial sequence number;
// - once its own stream ended, bytes past that end;
// - once the connection closed, a SYN whatever its sequence number, and data
//   that cannot be a retransmission of the closed stream: a retransmission
//   carries an ACK whose number lies between the last acknowledgment this
//   direction sent (less kLateCopySlack, for a mirror's late copy of an older
//   segment) and the peer's end (or that last acknowledgment, when the RST
//   that closed the connection did not show the peer's end). Acknowledgment
//   numbers only grow within a connection, and a new connection's lie in an
//   unrelated random space, so a new connection is taken for the old one
//   with a chance of about a window in 2^32 however many bytes the old one
//   carried.
//
// Storage is fixed when the tracker is made: at most maxFlows flows, each with
// at most kRangesPerFlow remembered ranges. When a flow would need more, the
// oldest gap is given up (a late fill of it is then taken for a copy). A flow
// whose own stream ended (a FIN, or an accepted RST) is forgotten when not
// seen for closedIdleSeconds (minutes, like TCP's TIME_WAIT), any other flow
// when not seen for idleSeconds. When the table is full, the flow whose own
// stream ended first makes room; only when there is none, an old open flow
// does: one seen only once, or not again since the last sweep over the table
// (a clock approximation of the least recently seen, which costs nothing per
// segment). So short connections that come and go do not push out the idle,
// long-lived connections of printers. A forgotten flow simply starts afresh
// at its next segment. Nothing allocates per segment; for the engine's thread
// only.
#ifndef TILLWIRE_CAPTURE_FLOW_TRACKER_H
#define TILLWIRE_CAPTURE_FLOW_TRACKER_H

#include "capture/packet_key.h"
#include "capture/tcp_header.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tillwire {

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
  // As long as Windows' TIME_WAIT, the longest common one (Linux waits one
  // minute): a closed connection's last retransmissions and the mirror's
  // late copies come within it.
  static constexpr std::uint32_t kDefaultClosedIdleSeconds = 4 * 60;
  // An RST counts when its sequence number lies this far ahead of its
  // sender's stream front at most. Wider than the receive windows of tills,
  // printers and the hosts they talk to (tens of KiB to a few MiB), and than
  // the bytes a busy capture misses, so a real RST is inside; narrow enough
  // that a stray one falls inside with a chance of about 1 in 1,000.
  static constexpr std::uint32_t kResetWindow = 4u << 20;
  // How far behind the last acknowledgment it saw a retransmission of a
  // closed stream may acknowledge: a mirror's late copy of an older segment
  // carries an older acknowledgment.
  static constexpr std::uint32_t kLateCopySlack = 64u << 10;

  explicit FlowTracker(std::size_t maxFlows = kDefaultMaxFlows,
                       std::uint32_t idleSeconds = kDefaultIdleSeconds,
                       std::uint32_t closedIdleSeconds = kDefaultClosedIdleSeconds);

  // A segment with length payload bytes (at most 65535) of a flow whose
  // payload is forwarded, seen at time now (seconds). Fills fresh with the
  // parts not forwarded before and from then on counts them as forwarded.
  void Admit(const PacketKey& flow, const TcpHeader& header, std::uint32_t length,
             std::uint32_t now, NewBytes* fresh);

  // A segment without payload: a SYN, FIN or RST of a connection with a flow
  // being tracked changes what follows; anything else, and any connection
  // without a tracked flow, is left alone.
  void Observe(const PacketKey& flow, const TcpHeader& header, std::uint32_t now);

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  // Bytes [begin, end) in sequence numbers.
  struct Range {
    std::uint32_t begin;
    std::uint32_t end;
  };
  // What a segment needs (the key, the state, the first ranges) lies in the
  // first cache line; the links of the ended flows' list lie behind.
  struct alignas(64) Flow {
    PacketKey key;
    std::uint32_t lastSeen;
    std::uint32_t nextInBucket;  // or in the free list
    std::uint32_t initialSequence;
    std::uint32_t lastAck;    // the last acknowledgment number this direction sent
    std::uint32_t streamEnd;  // own stream ended: the end of its last byte
    std::uint32_t peerEnd;    // peer's stream ended: the number that acknowledges all of it
    bool knowsInitialSequence;
    bool knowsAck;
    bool ended;      // own stream ended (a FIN or an accepted RST); on the ended list
    bool peerEnded;  // the reverse direction's FIN or an accepted RST was seen
    bool closed;     // the connection is closed: both ended, or an accepted RST
    bool seenAgain;  // since it was made or since the last sweep passed it
    std::uint8_t rangeCount;
    // Ascending, disjoint and not touching; the last one ends at the highest
    // byte forwarded. One spare slot for the insertion before a merge.
    Range ranges[kRangesPerFlow + 1];
    // The ended list, oldest first.
    std::uint32_t endedBefore;
    std::uint32_t endedAfter;
  };

  std::uint32_t& BucketOf(const PacketKey& key);
  // The flow's index, or kNone; a flow idle too long is forgotten first.
  std::uint32_t Find(const PacketKey& key, std::uint32_t now);
  std::uint32_t Insert(const PacketKey& key, std::uint32_t now);
  void Remove(std::uint32_t index);
  void MakeRoom();
  void Touch(std::uint32_t index, std::uint32_t now);
  void StartAfresh(std::uint32_t index);
  void TakeSyn(std::uint32_t index, std::uint32_t sequence);
  bool StartsAnotherConnection(const Flow& flow, const TcpHeader& header, std::uint32_t begin,
                               std::uint32_t end) const;
  void EndStream(std::uint32_t index, std::uint32_t streamEnd);
  void EndPeerStream(std::uint32_t index, std::uint32_t peerEnd);
  void Finish(const PacketKey& key, std::uint32_t index, std::uint32_t streamEnd,
              std::uint32_t now);
  bool ResetInWindow(const PacketKey& key, std::uint32_t index, std::uint32_t sequence,
                     std::uint32_t now);
  void CloseConnection(const PacketKey& key, std::uint32_t index, const TcpHeader& header,
                       std::uint32_t streamEnd, std::uint32_t now);
  void Link(std::uint32_t index);
  void Unlink(std::uint32_t index);
  static void LearnAck(Flow& flow, const TcpHeader& header);
  static void TakeNewBytes(const Flow& flow, std::uint32_t base, std::uint32_t begin,
                           std::uint32_t end, NewBytes* fresh);
  static void Remember(Flow& flow, std::uint32_t base, std::uint32_t begin, std::uint32_t end);

  const std::uint32_t idleSeconds;
  const std::uint32_t closedIdleSeconds;
  std::vector<Flow> flows;
  std::vector<std::uint32_t> buckets;
  std::uint32_t bucketMask;
  std::uint32_t freeList = kNone;
  std::uint32_t sweep = 0;  // the next flow the sweep looks at
  std::uint32_t oldestEnded = kNone;
  std::uint32_t newestEnded = kNone;
};

}  // namespace tillwire

#endif
