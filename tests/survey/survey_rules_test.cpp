#include "survey/survey_rules.h"

#include "support/terminal_tables.h"

#include <gtest/gtest.h>

using namespace tillwire;

namespace {

const std::uint32_t kTill = 0xC0A80A1F;     // 192.168.10.31
const std::uint32_t kPrinter = 0xC0A80A28;  // 192.168.10.40

// A conversation from the till to the printer's port with this payload.
Conversation Printing(std::uint16_t port, std::uint64_t toServer, std::uint64_t toClient,
                      std::uint64_t text) {
  Conversation conversation{};
  conversation.tcp = true;
  conversation.toServer = PacketKey{kTill, kPrinter, 50000, port};
  conversation.payloadBytes = toServer + toClient;
  conversation.bytesToServer = toServer;
  conversation.textBytes = text;
  return conversation;
}

TEST(SurveyRules, ReceiptsAreMostlyTextThatAClientSendsToAPrinterOrFromATill) {
  const TerminalTable tills = TableOf({RecordOf({"192.168.10.31", "", "", "80"}, "47001")});
  struct Case {
    Conversation conversation;
    const TerminalTable* terminals;
    bool receipts;
  };
  Conversation taken = Printing(9100, 100, 0, 100);
  taken.terminalToServer = 0;
  const Case cases[] = {
      {Printing(9100, 100, 4, 100), nullptr, true},
      {Printing(515, 100, 0, 75), nullptr, true},
      {Printing(631, 100, 0, 74), nullptr, false},   // not mostly text
      {Printing(9100, 40, 60, 100), nullptr, false}, // the server sent most
      {Printing(9100, 0, 0, 0), nullptr, false},     // no payload
      {Printing(443, 100, 0, 100), nullptr, false},  // neither printer nor till
      {Printing(443, 100, 0, 100), &tills, true},    // from a till
      {taken, nullptr, false},                       // a terminal takes it
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LooksLikeUntakenReceipts(c.conversation, c.terminals), c.receipts)
        << c.conversation.toServer.dstPort << " " << c.conversation.bytesToServer << " "
        << c.conversation.textBytes;
  }
}

// One line per till, printer and port, numbered after the highest NvrPort
// configured; without a table, or past port 65535, no number.
TEST(SurveyRules, SuggestsOneTerminalPerPrinterPortNumberedAfterTheHighest) {
  const Conversation first = Printing(9100, 100, 0, 100);
  Conversation sameAgain = first;
  sameAgain.toServer.srcPort = 50001;
  const Conversation lpd = Printing(515, 100, 0, 100);
  const Conversation web = Printing(80, 100, 0, 100);
  const std::vector<const Conversation*> conversations = {&first, &web, &sameAgain, &lpd};
  const TerminalTable configured = TableOf({RecordOf({"10.0.0.1", "", "", ""}, "47010"),
                                            RecordOf({"10.0.0.2", "", "", ""}, "9"),
                                            RecordOf({"10.0.0.3", "", "", ""}, "bad")});
  const TerminalTable nearTheEnd = TableOf({RecordOf({"10.0.0.1", "", "", ""}, "65535")});
  struct Case {
    const TerminalTable* terminals;
    std::vector<std::string> elements;
  };
  const Case cases[] = {
      {&configured,
       {R"(<Terminal SrcAddress="192.168.10.31" DstAddress="192.168.10.40" DstPort="9100" NvrPort="47011"/>)",
        R"(<Terminal SrcAddress="192.168.10.31" DstAddress="192.168.10.40" DstPort="515" NvrPort="47012"/>)"}},
      {nullptr,
       {R"(<Terminal SrcAddress="192.168.10.31" DstAddress="192.168.10.40" DstPort="9100" NvrPort="?"/>)",
        R"(<Terminal SrcAddress="192.168.10.31" DstAddress="192.168.10.40" DstPort="515" NvrPort="?"/>)"}},
      {&nearTheEnd,
       {R"(<Terminal SrcAddress="192.168.10.31" DstAddress="192.168.10.40" DstPort="9100" NvrPort="?"/>)",
        R"(<Terminal SrcAddress="192.168.10.31" DstAddress="192.168.10.40" DstPort="515" NvrPort="?"/>)"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> elements;
    for (const SuggestedTerminal& suggestion : SuggestTerminals(conversations, c.terminals)) {
      elements.push_back(TerminalElement(suggestion));
    }
    EXPECT_EQ(elements, c.elements);
  }
}

TEST(SurveyRules, LabelsTheWellKnownPortsOfAShop) {
  EXPECT_STREQ(PortLabel(9100), "raw printing");
  EXPECT_STREQ(PortLabel(515), "LPD");
  EXPECT_STREQ(PortLabel(631), "IPP");
  EXPECT_STREQ(PortLabel(443), "HTTPS");
  EXPECT_STREQ(PortLabel(50000), "");
}

}  // namespace
