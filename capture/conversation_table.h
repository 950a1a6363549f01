// What a mirror port carries, by conversation: the survey's count of every
// IPv4 TCP and UDP frame, matched by a terminal or not.
//
// A TCP conversation is a connection's four-tuple, with its client and server
// side: the side that sent a SYN (without ACK) is the client. Until one is
// seen, the side that sends a printer's port is the client; else the side
// with the higher port (on equal ports, the side first seen sending). Once the
// capture is read, SettleClients lets the content decide where no SYN did:
// the side that sends text in lines is the client (the till), when the other
// does not. A UDP conversation is an address and port pair, its client chosen
// the same way. Its payload bytes are counted as the engine forwards them:
// TCP through a flow tracker of its own, so a retransmitted or doubled byte
// counts once; UDP as it comes. Each direction's payload is read by a
// PayloadText of its own (capture/payload_text.h).
//
// Storage is fixed when the table is made: at most capacity conversations;
// frames and bytes of any further conversation are counted together in one
// "other" count. Adding a frame allocates, blocks and logs nothing.
#ifndef TILLWIRE_CAPTURE_CONVERSATION_TABLE_H
#define TILLWIRE_CAPTURE_CONVERSATION_TABLE_H

#include "capture/flow_tracker.h"
#include "capture/frame_counts.h"
#include "capture/ipv4_decoder.h"
#include "capture/packet_key.h"
#include "capture/payload_text.h"
#include "capture/terminal_matcher.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tillwire {

// How a conversation's client was told from its server.
enum class ClientRule : std::uint8_t {
  kSyn,          // it sent the SYN
  kTextLines,    // it sends text in lines, the server does not
  kPrinterPort,  // the server's port is a printer's
  kHigherPort,   // its port is the higher
  kFirstSender,  // the ports are equal: it was seen sending first
};

// One conversation's counts.
struct Conversation {
  bool tcp = false;
  PacketKey toServer;               // a packet from the client to the server
  ClientRule clientRule = ClientRule::kHigherPort;
  std::uint64_t frames = 0;         // every frame, with or without payload
  std::uint64_t payloadBytes = 0;   // both directions, TCP bytes once
  std::uint64_t bytesToServer = 0;  // of them, sent by the client
  // The terminal (its index in the table) that takes the client's packets,
  // and the one that takes the server's, if any.
  std::optional<std::size_t> terminalToServer;
  std::optional<std::size_t> terminalToClient;
  FirstLine firstLine;  // of the payload in capture order, both directions
  PayloadText clientText;  // what the client sends
  PayloadText serverText;  // what the server sends
};

class ConversationTable {
 public:
  // A few minutes of a busy shop's mirror port: every connection of a
  // thousand busy terminals, as the run's flow tracker holds them. About
  // 22 MiB of conversations, most of it the reading of their text, and 6 MiB
  // for the flow tracker, which has room for both directions of each.
  static constexpr std::size_t kDefaultCapacity = 16384;

  // Frames and payload bytes of the conversations that did not fit.
  struct Overflow {
    std::uint64_t frames = 0;
    std::uint64_t payloadBytes = 0;
  };

  // Matches each conversation's two directions with matcher when one is
  // given (it must outlive the table); without one no terminal takes
  // anything.
  explicit ConversationTable(const TerminalMatcher* matcher,
                             std::size_t capacity = kDefaultCapacity);

  // Counts one decoded frame captured at seconds.
  void Add(const DecodedFrame& frame, std::uint32_t seconds);
  // Once every frame was added: the conversations that no SYN directed take
  // the side that sends text in lines as their client, when the other side
  // does not (ClientRule::kTextLines).
  void SettleClients();

  // Every frame given to Add, and those of them that belong to no
  // conversation: the frames not taken (no IPv4 TCP or UDP, or cut short
  // before the ports), whose reasons FrameKinds tells.
  std::uint64_t Frames() const { return kinds.All(); }
  std::uint64_t FramesWithoutConversation() const { return kinds.NotTaken(); }
  const FrameCounts& FrameKinds() const { return kinds; }
  // The conversations, in the order they were first seen.
  const std::vector<Conversation>& Conversations() const { return conversations; }
  const Overflow& Others() const { return others; }
  // The most conversations the table keeps; once a frame of a further one
  // has come (Others), more than this many were seen. How many more is not
  // known: a conversation that is not kept cannot be told from one seen
  // before.
  std::size_t Capacity() const { return capacity; }
  bool Matched() const { return matcher != nullptr; }

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

  // The conversation's index, made when there is room; kEmpty otherwise.
  std::uint32_t FindOrMake(const DecodedFrame& frame);
  void Direct(Conversation& conversation, const PacketKey& toServer, ClientRule rule) const;
  void CountPayload(Conversation& conversation, bool fromClient, const unsigned char* data,
                    std::uint32_t length);

  const TerminalMatcher* const matcher;
  const std::size_t capacity;
  std::vector<Conversation> conversations;
  std::vector<std::uint32_t> slots;  // open addressing, twice the capacity or more
  std::uint32_t slotMask;
  FlowTracker flows;
  FrameCounts kinds;
  Overflow others;
};

}  // namespace tillwire

#endif
