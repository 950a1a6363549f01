#include "capture/conversation_table.h"
#include "capture/first_line.h"
#include "capture/link_layer.h"
#include "support/frame_builder.h"
#include "support/terminal_tables.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tillwire;

namespace {

const std::uint32_t kTill = 0xC0A80A1F;     // 192.168.10.31
const std::uint32_t kPrinter = 0xC0A80A28;  // 192.168.10.40

TEST(FirstLine, ShowsTheFirstLineWithAVisibleCharacter) {
  struct Case {
    std::vector<std::string> chunks;
    std::string line;
  };
  const Case cases[] = {
      {{"  HARBOUR STREET DELI  \r\nnext\n"}, "HARBOUR STREET DELI  "},
      {{"\n\n   \r\n\t\nTotal 5.00\n"}, "Total 5.00"},
      {{"HARB", "OUR ", "DELI\nnext"}, "HARBOUR DELI"},
      {{std::string("\x1b@", 2) + "Receipt\x01\n"}, "@Receipt."},
      {{"\x88\x92\x8E\x83\x8E 45.00\r\n"}, "\x88\x92\x8E\x83\x8E 45.00"},
      {{std::string("\x00\x01\x02\n", 4), "abc\n"}, "abc"},
      {{"a\tb\n"}, "a b"},
      {{"still being printed"}, "still being printed"},
      {{std::string(150, 'x') + "\n"}, std::string(FirstLine::kReadLength, 'x')},
      {{std::string("\x14\0\0\x0f", 4), "  x\x01y"}, "x.y"},
      {{"", "   ", "\r\n"}, ""},
  };
  for (const Case& c : cases) {
    FirstLine line;
    for (const std::string& chunk : c.chunks) {
      line.Take(reinterpret_cast<const unsigned char*>(chunk.data()), chunk.size());
    }
    EXPECT_EQ(line.Bytes(), c.line) << testing::PrintToString(c.chunks);
  }
}

// One frame between the till and the printer.
struct Frame {
  bool fromTill;
  std::string payload;
  std::uint32_t sequence = 0;
  std::uint8_t flags = 0x18;
  std::uint8_t protocol = 6;
  std::uint16_t tillPort = 49152;
  std::uint16_t printerPort = 9100;
};

class ConversationTableTest : public testing::Test {
 protected:
  void Add(ConversationTable& table, const Frame& frame) {
    FrameFields fields;
    fields.srcAddress = frame.fromTill ? kTill : kPrinter;
    fields.dstAddress = frame.fromTill ? kPrinter : kTill;
    fields.srcPort = frame.fromTill ? frame.tillPort : frame.printerPort;
    fields.dstPort = frame.fromTill ? frame.printerPort : frame.tillPort;
    fields.protocol = frame.protocol;
    fields.tcpSequence = frame.sequence;
    fields.tcpFlags = frame.flags;
    fields.payload = frame.payload;
    const std::vector<unsigned char> bytes = BuildFrame(fields);
    table.Add(DecodeFrame(bytes.data(), static_cast<std::uint32_t>(bytes.size())), 100);
  }
};

// A retransmission and a doubled mirror frame count as frames, their bytes
// once; the printer's answer belongs to the same conversation.
TEST_F(ConversationTableTest, CountsATcpConnectionsBytesOnceAndBothDirections) {
  ConversationTable table(nullptr);
  Add(table, {true, "", 999, kTcpSyn});
  Add(table, {true, "RECEIPT 1\n", 1000});
  Add(table, {true, "RECEIPT 1\n", 1000});  // doubled
  Add(table, {true, "RECEIPT 1\nTOTAL\n", 1000});  // retransmitted with more
  Add(table, {false, std::string("\x14\0\0\x0f", 4), 5000});
  const std::vector<unsigned char> arp = ArpFrame();
  table.Add(DecodeFrame(arp.data(), static_cast<std::uint32_t>(arp.size())), 100);

  ASSERT_EQ(table.Conversations().size(), 1u);
  const Conversation& c = table.Conversations()[0];
  EXPECT_TRUE(c.tcp);
  EXPECT_EQ(c.toServer.srcAddress, kTill);
  EXPECT_EQ(c.toServer.dstPort, 9100);
  EXPECT_EQ(c.frames, 5u);
  EXPECT_EQ(c.payloadBytes, 20u);
  EXPECT_EQ(c.bytesToServer, 16u);
  EXPECT_EQ(c.clientText.Counts().text, 16u);
  EXPECT_EQ(c.clientText.Counts().lines, 2u);
  EXPECT_EQ(c.serverText.Counts().analysed, 4u);
  EXPECT_EQ(c.firstLine.Bytes(), "RECEIPT 1");
  EXPECT_FALSE(c.terminalToServer);
  EXPECT_EQ(table.Frames(), 6u);
  EXPECT_EQ(table.FramesWithoutConversation(), 1u);
  EXPECT_EQ(table.FrameKinds().Of(FrameKind::kNotIpv4), 1u);
}

// The client is the side that sent the SYN, even when it is seen after the
// data and has the lower port. Without one: the side that sends text lines
// when the other does not, else the side that sends to a printer's port, else
// the side with the higher port, else the first sender.
TEST_F(ConversationTableTest, TheClientIsTheSynsSenderElseByTextPrinterPortOrPort) {
  struct Case {
    std::vector<Frame> frames;
    bool tillIsClient;
    std::uint64_t bytesToServer;
    ClientRule rule;
  };
  const std::string ack("\x06", 1);
  const Case cases[] = {
      {{{false, "status", 5000}, {true, "print", 1000}}, true, 5, ClientRule::kPrinterPort},
      {{{false, "status", 5000, 0x18, 6, 1023, 50000}}, false, 6, ClientRule::kHigherPort},
      {{{false, "status", 5000, 0x18, 6, 1023, 50000}, {true, "", 999, kTcpSyn, 6, 1023, 50000}},
       true, 0, ClientRule::kSyn},
      {{{true, "", 999, kTcpSyn | kTcpAck, 6, 1023, 50000}}, false, 0, ClientRule::kHigherPort},
      {{{true, "datagram", 0, 0, 17, 60000, 9100}, {false, "ok", 0, 0, 17, 60000, 9100}}, true, 8,
       ClientRule::kPrinterPort},
      {{{true, "q", 0, 0, 17, 123, 123}, {false, "r", 0, 0, 17, 123, 123}}, true, 1,
       ClientRule::kFirstSender},
      // A till on a low port, its connection older than the capture: its
      // receipt lines tell it, however the ports lie.
      {{{false, ack, 5000, 0x18, 6, 1042, 6001},
        {true, "RECEIPT 1\nTOTAL 5.00\n", 1000, 0x18, 6, 1042, 6001}},
       true, 21, ClientRule::kTextLines},
      {{{true, "RECEIPT 1\n", 1000, 0x18, 6, 1042, 9100}, {false, ack, 5000, 0x18, 6, 1042, 9100}},
       true, 10, ClientRule::kTextLines},
      // A SYN outweighs the text.
      {{{false, "", 999, kTcpSyn, 6, 1042, 6001}, {true, "RECEIPT 1\n", 1000, 0x18, 6, 1042, 6001}},
       false, 0, ClientRule::kSyn},
  };
  for (const Case& c : cases) {
    ConversationTable table(nullptr);
    for (const Frame& frame : c.frames) Add(table, frame);
    table.SettleClients();
    ASSERT_EQ(table.Conversations().size(), 1u);
    const Conversation& conversation = table.Conversations()[0];
    EXPECT_EQ(conversation.toServer.srcAddress, c.tillIsClient ? kTill : kPrinter)
        << c.frames[0].payload << " " << c.frames.size();
    EXPECT_EQ(conversation.bytesToServer, c.bytesToServer) << c.frames.size();
    EXPECT_EQ(conversation.clientRule, c.rule) << c.frames[0].payload << " " << c.frames.size();
    EXPECT_EQ(conversation.clientText.Counts().analysed, c.bytesToServer) << c.frames.size();
  }
}

// TCP and UDP on the same addresses and ports are two conversations; once the
// table is full, further conversations are counted together.
TEST_F(ConversationTableTest, ConversationsBeyondTheCapacityAreCountedAsOthers) {
  ConversationTable table(nullptr, 2);
  Add(table, {true, "tcp", 1});
  Add(table, {true, "udp", 0, 0, 17});
  Add(table, {true, "third", 1, 0x18, 6, 49153});
  Add(table, {true, "third", 1, 0x18, 6, 49153});  // its TCP bytes still once
  Add(table, {false, "fourth", 0, 0, 17, 49154});
  Add(table, {false, "udp", 0, 0, 17});

  ASSERT_EQ(table.Conversations().size(), 2u);
  EXPECT_TRUE(table.Conversations()[0].tcp);
  EXPECT_FALSE(table.Conversations()[1].tcp);
  EXPECT_EQ(table.Conversations()[1].frames, 2u);
  EXPECT_EQ(table.Others().frames, 3u);
  EXPECT_EQ(table.Others().payloadBytes, 11u);
}

// Each direction's terminal is the matcher's answer, the first in key
// order: "192.168.10.31:::" before "::192.168.10.40:9100".
TEST_F(ConversationTableTest, EachDirectionGoesToTheFirstTerminalInKeyOrder) {
  const Tables tables = TablesOf({RecordOf({"", "192.168.10.40", "", "9100"}, "47002"),
                                  RecordOf({"192.168.10.31", "", "", ""}, "47001"),
                                  RecordOf({"192.168.10.40", "", "9100", ""}, "47003")});
  const TerminalMatcher matcher(tables.terminalTable);
  ConversationTable table(&matcher);
  Add(table, {true, "print", 1});
  Add(table, {true, "print", 1, 0x18, 6, 49152, 515});
  const std::vector<Conversation>& conversations = table.Conversations();
  ASSERT_EQ(conversations.size(), 2u);
  EXPECT_EQ(conversations[0].terminalToServer,
            IndexOf(tables.terminalTable, {"192.168.10.31", "", "", ""}));
  EXPECT_EQ(conversations[0].terminalToClient,
            IndexOf(tables.terminalTable, {"192.168.10.40", "", "9100", ""}));
  EXPECT_EQ(conversations[1].terminalToServer,
            IndexOf(tables.terminalTable, {"192.168.10.31", "", "", ""}));
  EXPECT_FALSE(conversations[1].terminalToClient);
}

}  // namespace
