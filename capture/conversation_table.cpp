#include "capture/conversation_table.h"

#include "capture/printer_ports.h"

#include <utility>

namespace tillwire {

namespace {

// The same for both directions of a conversation.
std::uint64_t Hash(const PacketKey& key, bool tcp) {
  const std::uint64_t mixed = (static_cast<std::uint64_t>(key.srcAddress ^ key.dstAddress) << 17) ^
                              (static_cast<std::uint64_t>(key.srcPort ^ key.dstPort) << 1) ^
                              (tcp ? 1u : 0u);
  return (mixed * 0x9E3779B97F4A7C15ull) >> 32;
}

bool IsSynWithoutAck(const DecodedFrame& frame) {
  return frame.tcp && (frame.tcpHeader.flags & (kTcpSyn | kTcpAck)) == kTcpSyn;
}

// How a conversation is directed from its first frame, which this sender
// sent: whether the sender is the client, and by which rule.
std::pair<bool, ClientRule> FirstDirection(const DecodedFrame& frame) {
  const PacketKey& key = frame.key;
  if (IsSynWithoutAck(frame)) return {true, ClientRule::kSyn};
  const bool toPrinter = IsPrinterPort(key.dstPort);
  if (toPrinter != IsPrinterPort(key.srcPort)) return {toPrinter, ClientRule::kPrinterPort};
  if (key.srcPort != key.dstPort) return {key.srcPort > key.dstPort, ClientRule::kHigherPort};
  return {true, ClientRule::kFirstSender};
}

bool SendsTextLines(const PayloadText& text) {
  return Judge(text, true).kind == PayloadKind::kReceipts;
}

}  // namespace

ConversationTable::ConversationTable(const TerminalMatcher* matcher, std::size_t capacity)
    : matcher(matcher), capacity(capacity), flows(2 * capacity) {
  conversations.reserve(capacity);
  std::size_t slotCount = 1;
  while (slotCount < capacity * 2) slotCount *= 2;
  slots.assign(slotCount, kEmpty);
  slotMask = static_cast<std::uint32_t>(slotCount - 1);
}

void ConversationTable::Add(const DecodedFrame& frame, std::uint32_t seconds) {
  kinds.Add(frame.kind);
  if (!IsTcpOrUdp(frame.kind)) return;
  const std::uint32_t index = FindOrMake(frame);
  Conversation* conversation = index == kEmpty ? nullptr : &conversations[index];
  if (conversation == nullptr) {
    ++others.frames;
  } else {
    ++conversation->frames;
    // A late copy of the SYN still tells which side is the client.
    if (IsSynWithoutAck(frame) && conversation->clientRule != ClientRule::kSyn) {
      Direct(*conversation, frame.key, ClientRule::kSyn);
    }
  }
  if (frame.kind == FrameKind::kNoPayload) {
    NewBytes none;
    if (frame.tcp) flows.Admit(frame.key, frame.tcpHeader, 0, seconds, &none);
    return;
  }
  const bool fromClient =
      conversation != nullptr && frame.key == conversation->toServer;
  if (!frame.tcp) {
    if (conversation == nullptr) {
      others.payloadBytes += static_cast<std::uint32_t>(frame.payloadLength);
    } else {
      CountPayload(*conversation, fromClient, frame.payload,
                   static_cast<std::uint32_t>(frame.payloadLength));
    }
    return;
  }
  NewBytes fresh;
  flows.Admit(frame.key, frame.tcpHeader, static_cast<std::uint32_t>(frame.payloadLength), seconds,
              &fresh);
  for (int i = 0; i < fresh.count; ++i) {
    if (conversation == nullptr) {
      others.payloadBytes += fresh.pieces[i].length;
    } else {
      CountPayload(*conversation, fromClient, frame.payload + fresh.pieces[i].offset,
                   fresh.pieces[i].length);
    }
  }
}

std::uint32_t ConversationTable::FindOrMake(const DecodedFrame& frame) {
  const PacketKey& key = frame.key;
  std::uint32_t slot = static_cast<std::uint32_t>(Hash(key, frame.tcp)) & slotMask;
  for (;; slot = (slot + 1) & slotMask) {
    const std::uint32_t index = slots[slot];
    if (index == kEmpty) break;
    const Conversation& found = conversations[index];
    if (found.tcp == frame.tcp && (found.toServer == key || found.toServer == Reversed(key))) {
      return index;
    }
  }
  if (conversations.size() == capacity) return kEmpty;
  const auto [senderIsClient, rule] = FirstDirection(frame);
  conversations.emplace_back();
  conversations.back().tcp = frame.tcp;
  conversations.back().toServer = key;
  Direct(conversations.back(), senderIsClient ? key : Reversed(key), rule);
  const auto index = static_cast<std::uint32_t>(conversations.size() - 1);
  slots[slot] = index;
  return index;
}

void ConversationTable::SettleClients() {
  for (Conversation& conversation : conversations) {
    if (conversation.clientRule == ClientRule::kSyn) continue;
    const bool client = SendsTextLines(conversation.clientText);
    const bool server = SendsTextLines(conversation.serverText);
    if (client == server) continue;
    const PacketKey& key = conversation.toServer;
    Direct(conversation, client ? key : Reversed(key), ClientRule::kTextLines);
  }
}

void ConversationTable::Direct(Conversation& conversation, const PacketKey& toServer,
                               ClientRule rule) const {
  if (conversation.toServer != toServer) {
    conversation.bytesToServer = conversation.payloadBytes - conversation.bytesToServer;
    std::swap(conversation.clientText, conversation.serverText);
  }
  conversation.toServer = toServer;
  conversation.clientRule = rule;
  if (matcher == nullptr) return;
  conversation.terminalToServer = matcher->FindTerminal(toServer);
  conversation.terminalToClient = matcher->FindTerminal(Reversed(toServer));
}

void ConversationTable::CountPayload(Conversation& conversation, bool fromClient,
                                     const unsigned char* data, std::uint32_t length) {
  conversation.payloadBytes += length;
  if (fromClient) conversation.bytesToServer += length;
  PayloadText& text = fromClient ? conversation.clientText : conversation.serverText;
  text.Take(data, length, conversation.firstLine);
  if (!conversation.tcp) text.EndMessage();
}

}  // namespace tillwire
