// What a mirror port carries, by conversation: the survey's count of every
// IPv4 TCP and UDP frame, matched by a terminal or not.
//
// A TCP conversation is a connection's four-tuple, with its client and server
// side: the side that sent a SYN (without ACK) is the client; until one is
// seen, the side with the higher port (on equal ports, the side first seen
// sending). A UDP conversation is an address and port pair, its client chosen
// the same way. Its payload bytes are counted as the engine forwards them:
// TCP through a flow tracker of its own, so a retransmitted or doubled byte
// counts once; UDP as it comes.
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
#include "capture/secret_mask.h"
#include "capture/terminal_matcher.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tillwire {

// Whether a payload byte counts as text: printable ASCII, tab, CR or LF.
bool IsTextByte(unsigned char byte);

// The first line of a byte stream that shows a visible character, as the
// survey prints it. Lines end at CR or LF; blanks at a line's start and end
// are left out, a tab is shown as a blank and every byte other than
// printable ASCII as a dot. A line is shown cut at kMaxLength characters,
// with its secrets masked (capture/secret_mask.h).
//
// Take only copies bytes (it runs for every frame); the masking is done by
// Text, once for each line printed. It masks the line read past the cut
// (kReadLength characters), then cuts: a card number that begins before the
// cut is masked as a whole, and no digit of it past its first 6 shows.
class FirstLine {
 public:
  static constexpr std::size_t kMaxLength = 40;
  // What is read of a line: the shown characters and, after them, room for
  // the longest card number (secret_mask.h) that begins at the last shown
  // character, so that it is masked as a whole.
  static constexpr std::size_t kReadLength = kMaxLength - 1 + kLongestCardText;

  // Reads the stream's next bytes; nothing once the line is complete.
  void Take(const unsigned char* data, std::size_t length);
  // The line, or the part of it read so far, masked and cut at kMaxLength;
  // empty while none has shown a visible character.
  std::string Text() const;

 private:
  char line[kReadLength] = {};
  std::uint8_t length = 0;
  bool visible = false;  // the line so far holds a visible (non-blank) character
  bool complete = false;
};

// One conversation's counts.
struct Conversation {
  bool tcp;
  PacketKey toServer;           // a packet from the client to the server
  bool clientSentSyn;           // the client is known by its SYN
  std::uint64_t frames;         // every frame, with or without payload
  std::uint64_t payloadBytes;   // both directions, TCP bytes once
  std::uint64_t bytesToServer;  // of them, sent by the client
  std::uint64_t textBytes;      // of them, text (IsTextByte)
  // The terminal (its index in the table) that takes the client's packets,
  // and the one that takes the server's, if any.
  std::optional<std::size_t> terminalToServer;
  std::optional<std::size_t> terminalToClient;
  FirstLine firstLine;  // of the payload in capture order, both directions

  // The share of text in the payload, in whole percent rounded down (0
  // without payload).
  int TextPercent() const;
};

class ConversationTable {
 public:
  // A few minutes of a busy shop's mirror port: every connection of a
  // thousand busy terminals, as the run's flow tracker holds them. About
  // 2.6 MiB of conversations and 6 MiB for the flow tracker, which has room
  // for both directions of each.
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
  void Direct(Conversation& conversation, const PacketKey& toServer) const;
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
