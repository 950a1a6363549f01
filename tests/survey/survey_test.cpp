// The survey end to end: the program run from its own directory as
// "tillwire -survey capture.pcap", as an installer runs it; its exit status,
// console and log are checked.
#include "outcome/exit_codes.h"
#include "support/capture_writer.h"
#include "support/frame_builder.h"
#include "support/log_watch.h"
#include "support/program_run.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tillwire;

namespace {

const char kShop[] = R"(<Tillwire><Network SniffAdapterAddress="192.168.10.2">
    <NVR Address="127.0.0.1"/>
    <Terminal DstAddress="192.168.10.40" DstPort="9100" NvrPort="47002"/>
    <Terminal SrcAddress="192.168.10.31" NvrPort="47001"/>
    <Terminal SrcAddress="10.9.9.9" NvrPort="47003"/>
    <Terminal DstAddress="192.168.10.45" DstPort="9100" NvrPort="47005"/>
  </Network></Tillwire>)";

// Lines as the console file holds them.
std::string ConsoleText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + kFileLineEnd;
  return text;
}

// A shop's mirror port: a till's receipt with a retransmission, an order
// tablet's UDP tickets, a new bar till that no terminal takes, the office's
// web traffic and an ARP request.
void WriteShopCapture(const std::string& path) {
  CaptureWriter capture(path);
  FrameFields syn = FieldsBetween(0xC0A80A1F, 49152, 0xC0A80A28, 9100, "");
  syn.tcpSequence = 999;
  syn.tcpFlags = 0x02;
  capture.Write(BuildFrame(syn));
  FrameFields receipt = FieldsBetween(0xC0A80A1F, 49152, 0xC0A80A28, 9100, "RECEIPT 1042\n");
  receipt.tcpSequence = 1000;
  capture.Write(BuildFrame(receipt));
  capture.Write(BuildFrame(receipt));  // retransmitted
  FrameFields total = FieldsBetween(0xC0A80A1F, 49152, 0xC0A80A28, 9100, "TOTAL 12.50\n");
  total.tcpSequence = 1013;
  capture.Write(BuildFrame(total));
  capture.Write(BuildFrame(FieldsBetween(0xC0A80A28, 9100, 0xC0A80A1F, 49152,
                                   std::string("\x14\0\0\x0f", 4))));
  capture.Write(BuildFrame(FieldsBetween(0xC0A80A3C, 50001, 0xC0A80A2D, 9100, "ORDER 57\n", 17)));
  capture.Write(BuildFrame(FieldsBetween(0xC0A80A3C, 50001, 0xC0A80A2D, 9100, "2 x Porridge\n", 17)));
  capture.Write(BuildFrame(FieldsBetween(0xC0A80A22, 55120, 0xC0A80A2B, 9100, "BAR RECEIPT\n")));
  capture.Write(BuildFrame(FieldsBetween(0xC0A80A14, 50211, 0xC0A80A05, 80, "GET / HTTP/1.1\r\n")));
  capture.Write(ArpFrame());
}

class SurveyTest : public testing::Test {
 protected:
  SurveyTest() : run(TILLWIRE_PROGRAM) {}
  int Survey(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"-survey"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    run.Start(all);
    return run.Wait(std::chrono::seconds(30));
  }
  ProgramDirectoryFixture run;
};

// Rows by payload, TCP bytes counted once, each row's terminal by key order,
// the terminals that take nothing, and the line for the new till, numbered
// after the highest NvrPort; the log and Tillwire.xml are left alone.
TEST_F(SurveyTest, ReportsConversationsTerminalsAndSuggestions) {
  run.WriteConfiguration(kShop);
  const std::string capture = run.Path() + "shop.pcap";
  WriteShopCapture(capture);
  EXPECT_EQ(Survey({capture}), 0);
  EXPECT_EQ(run.StandardOutput(), ConsoleText({
      "Surveying file://" + capture,
      "10 frames: 9 in 4 conversations, 1 not TCP or UDP over IPv4. Not taken: 1 not IPv4, 0 "
      "fragmented, 0 truncated, 0 not TCP/UDP.",
      "",
      "    Client                Server                 Frames      Bytes Service",
      "  Text  First printable line                     NvrPort Terminal",
      "        Taken for",
      "TCP 192.168.10.31:49152   192.168.10.40:9100          5         29 raw printing",
      "   86%  RECEIPT 1042                               47001 192.168.10.31:::",
      "        receipts",
      "UDP 192.168.10.60:50001   192.168.10.45:9100          2         22 raw printing",
      "  100%  ORDER 57                                   47005 ::192.168.10.45:9100",
      "        receipts; client by its text lines",
      "TCP 192.168.10.20:50211   192.168.10.5:80             1         16 HTTP",
      "  100%  GET / HTTP/1.1                                 -",
      "        text; no SYN, client by its text lines",
      "TCP 192.168.10.34:55120   192.168.10.43:9100          1         12 raw printing",
      "  100%  BAR RECEIPT                                    -",
      "        receipts; no SYN, client by its text lines",
      "",
      "Terminals that take no payload here:",
      "      47003 10.9.9.9:::",
      "      47002 ::192.168.10.40:9100",
      "",
      "Receipts that no terminal takes; Terminal lines for Tillwire.xml:",
      R"(  <Terminal SrcAddress="192.168.10.34" DstAddress="192.168.10.43" DstPort="9100" NvrPort="47006"/>)",
      "      line break 0A; encoding ASCII; control codes: none; widest line 11",
      "      start and end lines: 1 receipt seen, 2 needed",
  }));
  EXPECT_EQ(run.LogTexts(), std::vector<std::string>());
  EXPECT_EQ(ReadFile(run.Path() + "Tillwire.xml"), kShop);
}

// A terminal whose filter can never match takes nothing, and the list of
// such terminals says why.
TEST_F(SurveyTest, NamesTheFiltersThatCanNeverMatch) {
  run.WriteConfiguration(R"(<Tillwire><Network><NVR Address="127.0.0.1"/>
    <Terminal SrcAddress="192.168.10.031" NvrPort="47001"/>
    <Terminal SrcAddress="192.168.10.60" SrcPort="050001" DstPort=" 9100" NvrPort="47005"/>
  </Network></Tillwire>)");
  const std::string capture = run.Path() + "shop.pcap";
  WriteShopCapture(capture);
  EXPECT_EQ(Survey({capture}), 0);
  const std::string idle = ConsoleText({
      "Terminals that take no payload here:",
      R"(      47001 192.168.10.031::: (SrcAddress "192.168.10.031" can never match))",
      R"(      47005 192.168.10.60:050001:: 9100 (SrcPort "050001", DstPort " 9100" can never )"
      "match)",
  });
  EXPECT_NE(run.StandardOutput().find(idle), std::string::npos) << run.StandardOutput();
}

// Without Tillwire.xml a capture file is still surveyed: no terminal column,
// no port numbers; the 50 conversations with the most bytes unless -all.
TEST_F(SurveyTest, SurveysACaptureWithoutTillwireXml) {
  const std::string capture = run.Path() + "many.pcap";
  {
    CaptureWriter writer(capture);
    for (std::uint16_t i = 0; i < 52; ++i) {
      writer.Write(BuildFrame(FieldsBetween(0xC0A80A22, static_cast<std::uint16_t>(55120 + i), 0xC0A80A2B, 9100,
                                      "LINE " + std::string(100 - i, 'x') + "\n",
                                      static_cast<std::uint8_t>(i == 0 ? 6 : 17))));
    }
  }
  struct Case {
    std::vector<std::string> arguments;
    std::size_t rows;
  };
  for (const Case& c : {Case{{capture}, 50}, Case{{capture, "-ALL"}, 52}, Case{{"/all", capture}, 52}}) {
    SCOPED_TRACE(c.arguments.size() == 1 ? "top 50" : c.arguments[1]);
    ASSERT_EQ(Survey(c.arguments), 0);
    const std::string console = run.StandardOutput();
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = console.find(kFileLineEnd, start)) != std::string::npos;
         start = end + std::string(kFileLineEnd).size()) {
      lines.push_back(console.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 6 + 3 * c.rows + (c.rows == 50 ? 1 : 0) + 6) << console;
    EXPECT_EQ(lines[4], "  Text  First printable line");
    EXPECT_EQ(lines[7], "  100%  LINE " + std::string(35, 'x'));
    // 105 characters: wider than a receipt.
    EXPECT_EQ(lines[8], "        text; no SYN, client by the printer's port");
    if (c.rows == 50) {
      EXPECT_EQ(lines[156], "2 more conversations not shown; add -all to list every one.");
    }
    // The conversations whose lines fit a receipt, 64 characters at most.
    EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()),
              (std::vector<std::string>{
                  "Receipts that no terminal takes; Terminal lines for Tillwire.xml:",
                  R"(  <Terminal SrcAddress="192.168.10.34" DstAddress="192.168.10.43" DstPort="9100" NvrPort="?"/>)",
                  "      line break 0A; encoding ASCII; control codes: none; widest line 64",
                  "      start line: none shared by most; end line: none shared by most; of 11 receipts",
                  R"(Replace NvrPort="?" with a free port for that terminal's NVR.)"}));
  }
}

// The report shows payload text with its secrets masked: a card number on a
// receipt, a password in a web request's address, an FTP password.
TEST_F(SurveyTest, MasksCardNumbersAndPasswordsInTheReport) {
  const std::string capture = run.Path() + "secrets.pcap";
  {
    CaptureWriter writer(capture);
    writer.Write(BuildFrame(
        FieldsBetween(0xC0A80A1F, 49152, 0xC0A80A28, 9100, "VISA 4111 1111 1111 1111\n")));
    writer.Write(BuildFrame(FieldsBetween(0xC0A80A14, 50211, 0xC0A80A05, 80,
                                          "GET /login?user=alice&pass=hunter2 HTTP/1.1\r\n")));
    writer.Write(
        BuildFrame(FieldsBetween(0xC0A80A14, 50212, 0xC0A80A05, 21, "PASS Sup3rS3cret\r\n")));
  }
  ASSERT_EQ(Survey({capture}), 0);
  const std::string console = run.StandardOutput();
  const std::string end = kFileLineEnd;
  for (const std::string& rows : {
           "TCP 192.168.10.20:50211   192.168.10.5:80             1         45 HTTP" + end +
               "  100%  GET /login?user=alice&pass=*** HTTP/" + end,
           "TCP 192.168.10.31:49152   192.168.10.40:9100          1         25 raw printing" + end +
               "  100%  VISA 4111 11** **** 1111" + end,
           "TCP 192.168.10.20:50212   192.168.10.5:21             1         18 FTP" + end +
               "  100%  PASS ***" + end,
       }) {
    EXPECT_NE(console.find(end + rows), std::string::npos) << rows << console;
  }
  for (const char* secret : {"hunter2", "Sup3rS3cret", "1111 1111 1111"}) {
    EXPECT_EQ(console.find(secret), std::string::npos) << secret;
  }
}

// A survey that saw more conversations than its table keeps (16,384) says
// so rather than giving the table's size as their number; the frames and
// bytes of those not kept are counted together in a row of their own.
TEST_F(SurveyTest, AFullTableSaysMoreConversationsWereSeen) {
  const std::uint32_t kCapacity = 16384;
  struct Case {
    std::uint32_t conversations;
    std::string summary;
    std::string othersRow;  // empty: none
  };
  const Case cases[] = {
      {kCapacity,
       "16384 frames: 16384 in 16384 conversations, 0 not TCP or UDP over IPv4. Not taken: 0 "
       "not IPv4, 0 fragmented, 0 truncated, 0 not TCP/UDP.",
       ""},
      {kCapacity + 2,
       "16386 frames: 16386 in more than 16384 conversations, 0 not TCP or UDP over IPv4. Not "
       "taken: 0 not IPv4, 0 fragmented, 0 truncated, 0 not TCP/UDP.",
       "    other conversations (table full)                  2         10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conversations);
    const std::string capture = run.Path() + "busy.pcap";
    {
      // Each UDP datagram between a till port and a printer of its own.
      CaptureWriter writer(capture);
      for (std::uint32_t i = 0; i < c.conversations; ++i) {
        writer.Write(BuildFrame(FieldsBetween(0x0A000000u + i, 50000, 0x0B000000u + i, 9100,
                                              "LINE\n", 17)));
      }
    }
    ASSERT_EQ(Survey({capture}), 0);
    const std::string console = run.StandardOutput();
    EXPECT_NE(console.find(kFileLineEnd + c.summary + kFileLineEnd), std::string::npos)
        << console.substr(0, 300);
    const std::string others = "other conversations (table full)";
    if (c.othersRow.empty()) {
      EXPECT_EQ(console.find(others), std::string::npos);
    } else {
      EXPECT_NE(console.find(kFileLineEnd + c.othersRow + kFileLineEnd), std::string::npos)
          << console.substr(console.find(others) - 10, 200);
    }
  }
}

// The summary tells why the frames outside any conversation were not taken:
// another protocol than IPv4 (ARP, IPv6), a later fragment of a packet, a
// frame cut short by the capture, and IPv4 carrying neither TCP nor UDP.
TEST_F(SurveyTest, SummaryCountsTheFramesNotTakenByReason) {
  const std::string capture = run.Path() + "mixed.pcap";
  {
    CaptureWriter writer(capture);
    FrameFields receipt = FieldsBetween(0xC0A80A3C, 50001, 0xC0A80A2D, 9100, "ORDER 57\n", 17);
    writer.Write(BuildFrame(receipt));
    writer.Write(ArpFrame());
    FrameFields ipv6 = receipt;
    ipv6.etherType = 0x86DD;
    writer.Write(BuildFrame(ipv6));
    FrameFields fragment = receipt;
    fragment.fragment = 185;
    writer.Write(BuildFrame(fragment));
    std::vector<unsigned char> cut = BuildFrame(receipt);
    cut.resize(14 + 20 + 2);  // the ports cut in half
    writer.Write(cut);
    FrameFields icmp = receipt;
    icmp.protocol = 1;
    writer.Write(BuildFrame(icmp));
    writer.Write(BuildFrame(icmp));
  }
  ASSERT_EQ(Survey({capture}), 0);
  const std::string console = run.StandardOutput();
  const std::string summary =
      "7 frames: 1 in 1 conversation, 6 not TCP or UDP over IPv4. Not taken: 2 not IPv4, 1 "
      "fragmented, 1 truncated, 2 not TCP/UDP.";
  EXPECT_NE(console.find(kFileLineEnd + summary + kFileLineEnd), std::string::npos) << console;
}

// What keeps a survey from starting ends it as it ends a run, with the same
// lines and exit codes; the lines go to the console only, so that the
// service's log never shows a failed start without a run.
TEST_F(SurveyTest, FailsToStartAsARunDoes) {
  const std::string link = run.Path() + "wifi.pcap";
  { CaptureWriter writer(link, DLT_IEEE802_11); }
  const std::string missing = run.Path() + "missing.pcap";
  struct Case {
    const char* configuration;  // none when null
    std::vector<std::string> arguments;
    int exitCode;
    std::string firstLine;
  };
  const Case cases[] = {
      {kShop, {link}, kUnsupportedLinkTypeResult,
       "Unsupported link type 105 (IEEE802_11): Tillwire reads Ethernet, Linux cooked (v1 and v2), "
       "raw IPv4 and BSD loopback captures. Exiting."},
      {kShop, {missing}, kExitCaptureNotOpened, "Unable to open the file: file://" + missing},
      {nullptr, {}, kExitConfigurationNotLoaded, "Failed to load Tillwire.xml. Exiting."},
      {"<Tillwire>", {link}, kExitConfigurationNotLoaded, "Failed to load Tillwire.xml. Exiting."},
#ifndef _WIN32
      // (Under Wine the capture library lists no adapter at all, which ends
      // the run before the adapter address is looked at.)
      {R"(<T><Network><Terminal SrcAddress="1.2.3.4" NvrPort="1"/></Network></T>)", {"5"},
       kExitNoCaptureDevice,
       "No SniffAdapterAddress in the last Network element of Tillwire.xml: cannot choose the "
       "adapter to listen on. Exiting."},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firstLine);
    ProgramDirectoryFixture program(TILLWIRE_PROGRAM);
    if (c.configuration != nullptr) program.WriteConfiguration(c.configuration);
    std::vector<std::string> arguments = {"-survey"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    program.Start(arguments);
    EXPECT_EQ(program.Wait(std::chrono::seconds(30)), ExitStatus(c.exitCode));
    EXPECT_TRUE(program.LogTexts().empty());
    EXPECT_EQ(program.StandardOutput().rfind(c.firstLine + kFileLineEnd, 0), 0u)
        << program.StandardOutput();
  }
}

// Arguments the survey cannot take: the reason and the usage, status 1.
TEST_F(SurveyTest, RefusesArgumentsItCannotTake) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"0"}, "A survey lasts 1 to 86400 seconds, not 0."},
      {{"86401"}, "A survey lasts 1 to 86400 seconds, not 86401."},
      {{"99999999999999999999"}, "A survey lasts 1 to 86400 seconds, not 99999999999999999999."},
      {{"20s"}, "A survey lasts 1 to 86400 seconds, not 20s."},
      {{"1.5"}, "A survey lasts 1 to 86400 seconds, not 1.5."},
      {{"-5"}, "A survey lasts 1 to 86400 seconds, not -5."},
      {{"10", "a.pcap"}, "The survey takes one capture file or one number of seconds."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Survey(c.first), 1);
    const std::string console = run.StandardOutput();
    EXPECT_EQ(console.rfind(c.second + kFileLineEnd + kFileLineEnd + "Service management options:", 0), 0u)
        << console;
    EXPECT_NE(console.find("  -survey [<pcapfilename> | <seconds>] [-all]"), std::string::npos);
  }
}

}  // namespace
