#include "survey/survey_rules.h"

#include "support/terminal_tables.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace tillwire;

namespace {

const std::uint32_t kTill = 0xC0A80A1F;     // 192.168.10.31
const std::uint32_t kPrinter = 0xC0A80A28;  // 192.168.10.40

// A conversation from the till to the server's port, the till sending
// toServer and the server toClient, as the survey reads it.
Surveyed Sent(std::uint16_t port, const std::string& toServer, const std::string& toClient,
              std::vector<std::unique_ptr<Conversation>>& kept) {
  kept.push_back(std::make_unique<Conversation>());
  Conversation& conversation = *kept.back();
  conversation.tcp = true;
  conversation.toServer = PacketKey{kTill, kPrinter, 50000, port};
  conversation.payloadBytes = toServer.size() + toClient.size();
  conversation.bytesToServer = toServer.size();
  const auto bytes = [](const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
  };
  conversation.clientText.Take(bytes(toServer), toServer.size(), conversation.firstLine);
  conversation.serverText.Take(bytes(toClient), toClient.size(), conversation.firstLine);
  return Surveyed{&conversation, ReadConversation(conversation)};
}

const char kReceipt[] = "HARBOUR STREET DELI\nTOTAL 12.50\n";

// Receipts are judged by what the client sends, whatever the port, but not
// at a well-known service's port; a terminal that takes them already, or a
// server that sent most, leaves them be.
TEST(SurveyRules, ReceiptsAreTextLinesThatAClientSendsAndNoTerminalTakes) {
  std::vector<std::unique_ptr<Conversation>> kept;
  struct Case {
    Surveyed surveyed;
    bool receipts;
  };
  Surveyed taken = Sent(9100, kReceipt, "", kept);
  kept.back()->terminalToServer = 0;
  const std::string status("\x14\0\0\x0f", 4);
  const Case cases[] = {
      {Sent(9100, kReceipt, status, kept), true},
      {Sent(6001, kReceipt, "", kept), true},                      // any port
      {Sent(80, "GET / HTTP/1.1\r\nHost: x\r\n", "", kept), false},  // a service's text
      {Sent(9100, std::string(40, '\x01') + "x\n", "", kept), false},  // binary
      {Sent(9100, "HI\n", std::string(100, 'r'), kept), false},     // the server sent most
      {Sent(9100, "", "", kept), false},                           // no payload
      {Sent(9100, "\x1B%-12345X@PJL JOB\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\r\n", "", kept),
       false},  // an office job
      {taken, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LooksLikeUntakenReceipts(c.surveyed), c.receipts)
        << c.surveyed.conversation->toServer.dstPort << " "
        << c.surveyed.conversation->bytesToServer;
  }
}

// One line per till, printer and port, numbered after the highest NvrPort
// configured; without a table, or past port 65535, no number.
TEST(SurveyRules, SuggestsOneTerminalPerPrinterPortNumberedAfterTheHighest) {
  std::vector<std::unique_ptr<Conversation>> kept;
  const Surveyed first = Sent(9100, kReceipt, "", kept);
  const Surveyed web = Sent(80, kReceipt, "", kept);
  const Surveyed sameAgain = Sent(9100, kReceipt, "", kept);
  kept.back()->toServer.srcPort = 50001;
  const Surveyed lpd = Sent(515, kReceipt, "", kept);
  const std::vector<Surveyed> conversations = {first, web, sameAgain, lpd};
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
