#include "capture/conversation_table.h"

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

bool IsVisible(unsigned char byte) { return byte > 0x20 && byte < 0x7F; }

}  // namespace

bool IsTextByte(unsigned char byte) {
  return (byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\r' || byte == '\n';
}

void FirstLine::Take(const unsigned char* data, std::size_t count) {
  for (std::size_t i = 0; i < count && !complete; ++i) {
    const unsigned char byte = data[i];
    if (byte == '\r' || byte == '\n') {
      complete = visible;
      if (!visible) length = 0;
      continue;
    }
    const bool blank = byte == ' ' || byte == '\t';
    if (blank && length == 0) continue;
    line[length++] = blank ? ' ' : IsTextByte(byte) ? static_cast<char>(byte) : '.';
    visible = visible || IsVisible(byte);
    // Forty characters without a visible one: the line starts over.
    if (length == kMaxLength && !visible) length = 0;
    complete = length == kReadLength;
  }
}

std::string FirstLine::Text() const {
  if (!visible) return std::string();
  std::string text = MaskSecrets(std::string_view(line, length), kMaxLength);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

int Conversation::TextPercent() const {
  return payloadBytes == 0 ? 0 : static_cast<int>(textBytes * 100 / payloadBytes);
}

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
    if (IsSynWithoutAck(frame) && !conversation->clientSentSyn) {
      Direct(*conversation, frame.key);
      conversation->clientSentSyn = true;
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
  // Until a SYN says otherwise, the side with the higher port is the client.
  const bool senderIsClient = IsSynWithoutAck(frame) || key.srcPort >= key.dstPort;
  conversations.push_back(Conversation{frame.tcp, {}, IsSynWithoutAck(frame), 0, 0, 0, 0,
                                       std::nullopt, std::nullopt, FirstLine()});
  Direct(conversations.back(), senderIsClient ? key : Reversed(key));
  const auto index = static_cast<std::uint32_t>(conversations.size() - 1);
  slots[slot] = index;
  return index;
}

void ConversationTable::Direct(Conversation& conversation, const PacketKey& toServer) const {
  if (conversation.toServer != toServer) {
    conversation.bytesToServer = conversation.payloadBytes - conversation.bytesToServer;
  }
  conversation.toServer = toServer;
  if (matcher == nullptr) return;
  conversation.terminalToServer = matcher->FindTerminal(toServer);
  conversation.terminalToClient = matcher->FindTerminal(Reversed(toServer));
}

void ConversationTable::CountPayload(Conversation& conversation, bool fromClient,
                                     const unsigned char* data, std::uint32_t length) {
  conversation.payloadBytes += length;
  if (fromClient) conversation.bytesToServer += length;
  for (std::uint32_t i = 0; i < length; ++i) conversation.textBytes += IsTextByte(data[i]) ? 1 : 0;
  conversation.firstLine.Take(data, length);
}

}  // namespace tillwire
