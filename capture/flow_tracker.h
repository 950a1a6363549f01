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
// showed it, the peer's once a SYN/ACK showed it, the first and the last
// acknowledgment number the direction sent (in segments that carry bytes and
// in its SYN, FIN and accepted RST segments), where its own stream ended (its
// FIN) and where the peer's ended (the reverse direction's FIN), as far as
// those were seen. The SYN, FIN and RST segments of the reverse direction
// count whether or not a terminal takes its payload. The connection is closed
// once each side sent a FIN, or on an RST whose sequence number lies in its
// sender's window: from the sender's stream front (the end of the highest
// byte forwarded in that direction; with none, its first byte as its SYN
// showed it) or, when that direction is not tracked, from the last
// acknowledgment the receiver sent (with none, the sender's first byte as
// its SYN/ACK showed it), up to kResetWindow further. TCP stacks accept no
// other RST (RFC 5961), so any other RST, an old one or a stray, changes
// nothing. An accepted RST closes both directions.
//
// A flow is made by the first segment of a forwarded direction that carries
// bytes or a SYN. It starts afresh (its bytes all new) on:
// - a segment more than 1 GiB away from the highest byte forwarded, behind or
//   ahead: another connection on the same four-tuple;
// - a SYN with a new initial sequence number. A SYN with the known one, or,
//   while none is known, one up to kLateCopySlack before the first byte
//   remembered, changes nothing but teaches the flow its initial sequence
//   number: it is the mirror's late copy of the SYN, or the SYN reordered
//   behind the connection's first data, and the bytes between it and the
//   first byte seen are a gap that fills when they come;
// - a SYN/ACK answering it whose initial sequence number lies outside the
//   responder's stream of the connection the flow remembers (from the
//   responder's initial sequence number or, not known, the first
//   acknowledgment the flow sent less kLateCopySlack, up to the last or to
//   the responder's FIN) and not up to kLateCopySlack behind the flow's last
//   acknowledgment (then the flow's latest bytes, shown ahead of the
//   handshake, are the new connection's already): a new handshake, so a new
//   connection in both directions however the old one ended (both FINs seen,
//   one, or none: a till that rebooted and reuses its initial sequence
//   number). The SYN/ACK acknowledges the flow's initial sequence number,
//   which the flow learns;
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
// What a passive observer cannot tell apart keeps an outcome of its own. A
// new connection is taken for the old one, and its bytes that lie within the
// old stream are lost, when the old one was not seen to close and the new one
// reuses both initial sequence numbers or its handshake was missed, and when
// its numbers happen to lie within kLateCopySlack of the old ones (about 1 in
// 65,536). A SYN with a new initial sequence number that the mirror shows
// behind the new connection's first data, while the old one was not seen to
// close, repeats those first bytes. A copy that comes after its flow was
// forgotten is new again (repeated).
//
// Storage is fixed when the tracker is made: the flows live in a FlowTable of
// at most maxFlows flows (see there for when a flow is forgotten and which
// flow makes room; a flow's stream ends with its FIN or an accepted RST),
// each with at most kRangesPerFlow remembered ranges. When a flow would need
// more, the oldest gap is given up (a late fill of it is then taken for a
// copy). A forgotten flow simply starts afresh at its next segment. Nothing
// allocates per segment; for the engine's thread only.
#ifndef TILLWIRE_CAPTURE_FLOW_TRACKER_H
#define TILLWIRE_CAPTURE_FLOW_TRACKER_H

#include "capture/flow_table.h"
#include "capture/packet_key.h"
#include "capture/tcp_header.h"

#include <cstddef>
#include <cstdint>

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
  // How far a mirror's late copy may lie behind what the tracker saw first:
  // a retransmission of a closed stream behind the last acknowledgment seen
  // (a late copy of an older segment carries an older acknowledgment), a SYN
  // behind the first byte seen, a SYN/ACK behind the first acknowledgment
  // seen. A few reordered segments, even merged ones, lie well within it.
  static constexpr std::uint32_t kLateCopySlack = 64u << 10;

  explicit FlowTracker(std::size_t maxFlows = kDefaultMaxFlows,
                       std::uint32_t idleSeconds = kDefaultIdleSeconds,
                       std::uint32_t closedIdleSeconds = kDefaultClosedIdleSeconds);

  // A segment with length payload bytes (at most 65535; 0 for a segment
  // without payload) of a direction whose payload is forwarded, seen at time
  // now (seconds). Fills fresh with the parts not forwarded before and from
  // then on counts them as forwarded. A SYN makes the flow even without
  // payload; any other segment without payload is observed.
  void Admit(const PacketKey& flow, const TcpHeader& header, std::uint32_t length,
             std::uint32_t now, NewBytes* fresh);

  // A segment whose payload (length bytes, perhaps none) is not forwarded: a
  // SYN, FIN or RST changes what follows for the connection's tracked flows;
  // anything else, and a connection without a tracked flow, is left alone.
  void Observe(const PacketKey& flow, const TcpHeader& header, std::uint32_t length,
               std::uint32_t now);

 private:
  // Bytes [begin, end) in sequence numbers.
  struct Range {
    std::uint32_t begin;
    std::uint32_t end;
  };
  // What the tracker knows of one flow's stream; its state and its first
  // range share the table slot's first cache line.
  struct Flow {
    std::uint32_t initialSequence;
    std::uint32_t firstAck;   // the first acknowledgment number this direction sent
    std::uint32_t lastAck;    // the last one
    std::uint32_t streamEnd;  // own stream ended: the end of its last byte
    std::uint32_t peerEnd;    // peer's stream ended: the number that acknowledges all of it
    std::uint32_t peerInitial;  // the peer's initial sequence number
    bool knowsInitialSequence;
    bool knowsAck;
    bool knowsPeerInitial;
    bool peerEnded;  // the reverse direction's FIN or an accepted RST was seen
    bool closed;     // the connection is closed: both ended, or an accepted RST
    std::uint8_t rangeCount;
    // Ascending, disjoint and not touching; the last one ends at the highest
    // byte forwarded. One spare slot for the insertion before a merge.
    Range ranges[kRangesPerFlow + 1];
  };
  static constexpr std::uint32_t kNone = FlowTable<Flow>::kNone;

  void StartAfresh(std::uint32_t index);
  void TakeHandshake(const PacketKey& key, std::uint32_t index, const TcpHeader& header,
                     std::uint32_t now);
  void TakeSyn(std::uint32_t index, std::uint32_t sequence);
  bool AnswersWithNewConnection(const PacketKey& key, const TcpHeader& header, std::uint32_t now);
  void TakeControl(const PacketKey& key, std::uint32_t index, const TcpHeader& header,
                   std::uint32_t end, bool reset, std::uint32_t now);
  bool StartsAnotherConnection(std::uint32_t index, const TcpHeader& header, std::uint32_t begin,
                               std::uint32_t end) const;
  void EndStream(std::uint32_t index, std::uint32_t streamEnd);
  void EndPeerStream(std::uint32_t index, std::uint32_t peerEnd);
  void Finish(const PacketKey& key, std::uint32_t index, std::uint32_t streamEnd,
              std::uint32_t now);
  bool ResetInWindow(const PacketKey& key, std::uint32_t index, std::uint32_t sequence,
                     std::uint32_t now);
  void CloseConnection(const PacketKey& key, std::uint32_t index, const TcpHeader& header,
                       std::uint32_t streamEnd, std::uint32_t now);
  static void LearnAck(Flow& flow, const TcpHeader& header);
  static std::uint32_t PeerFront(const Flow& flow);
  static bool ResponderMayBeTheSame(const Flow& flow, std::uint32_t sequence);
  static void TakeBytes(Flow& flow, std::uint32_t begin, std::uint32_t end, NewBytes* fresh);
  static void TakeNewBytes(const Flow& flow, std::uint32_t base, std::uint32_t begin,
                           std::uint32_t end, NewBytes* fresh);
  static void Remember(Flow& flow, std::uint32_t base, std::uint32_t begin, std::uint32_t end);

  FlowTable<Flow> flows;
};

}  // namespace tillwire

#endif
