// The survey of a shop's mirror port as an installer uses it: surveyed, its
// suggested Terminal lines pasted into Tillwire.xml, the capture played back;
// each NVR receives exactly its till's bytes. The shop: tills that print
// ESC/POS with a raster logo, plain text on a port of no printer, CP866 and
// GBK, a till on a low port whose connection began before the capture, a
// till's journal over UDP, and an office PC printing PJL, PostScript and PCL
// beside encrypted traffic, which are not suggested.
#include "support/capture_writer.h"
#include "support/frame_builder.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"
#include "support/program_run.h"
#include "support/shop_payloads.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace tillwire;

namespace {

constexpr std::uint32_t kShop = 0xC0A81400;  // 192.168.20.0

// A TCP connection's frames: a SYN from the client (unless it began before
// the capture), the client's payload in segments of up to 1000 bytes, each
// answered by the server's acknowledgement or status bytes.
void WriteConnection(CaptureWriter& capture, std::uint32_t client, std::uint16_t clientPort,
                     std::uint32_t server, std::uint16_t serverPort, const std::string& payload,
                     bool syn = true, const std::string& answer = "") {
  std::uint32_t sequence = 1000;
  if (syn) {
    FrameFields open = FieldsBetween(client, clientPort, server, serverPort, "");
    open.tcpSequence = sequence - 1;
    open.tcpFlags = 0x02;
    capture.Write(BuildFrame(open));
  }
  for (std::size_t at = 0; at < payload.size(); at += 1000) {
    FrameFields segment =
        FieldsBetween(client, clientPort, server, serverPort, payload.substr(at, 1000));
    segment.tcpSequence = sequence;
    sequence += static_cast<std::uint32_t>(segment.payload.size());
    capture.Write(BuildFrame(segment));
    FrameFields reply = FieldsBetween(server, serverPort, client, clientPort, answer);
    reply.tcpSequence = 7000;
    reply.tcpFlags = 0x10;
    capture.Write(BuildFrame(reply));
  }
}

// Writes the shop's capture; answers each till's bytes by its address.
std::map<std::string, std::string> WriteShop(const std::string& path) {
  CaptureWriter capture(path);
  std::map<std::string, std::string> tills;
  const auto till = [&](int host) -> std::string& {
    return tills["192.168.20." + std::to_string(host)];
  };
  for (int n = 1; n <= 2; ++n) {
    WriteConnection(capture, kShop + 11, static_cast<std::uint16_t>(50000 + n), kShop + 40, 9100,
                    EscPosReceiptWithLogo(n), true, std::string("\x14\0\0\x0f", 4));
    till(11) += EscPosReceiptWithLogo(n);
    WriteConnection(capture, kShop + 12, static_cast<std::uint16_t>(51000 + n), kShop + 50, 6001,
                    PlainTextReceipt(n));
    till(12) += PlainTextReceipt(n);
  }
  const std::string cyrillic = Cp866Receipt(1) + Cp866Receipt(2);
  WriteConnection(capture, kShop + 13, 52001, kShop + 41, 9100, cyrillic);
  till(13) = cyrillic;
  const std::string chinese = GbkReceipt(1) + GbkReceipt(2);
  WriteConnection(capture, kShop + 14, 53001, kShop + 42, 9100, chinese);
  till(14) = chinese;
  // The till on port 1042: its connection to a kitchen display on 6002 is
  // older than the capture; the display answers with an acknowledgement byte.
  const std::string french = Utf8Receipt(1) + Utf8Receipt(2);
  WriteConnection(capture, kShop + 15, 1042, kShop + 43, 6002, french, false, "\x06");
  till(15) = french;
  for (int n = 1; n <= 3; ++n) {
    capture.Write(BuildFrame(FieldsBetween(kShop + 16, 40000, kShop + 5, 7000, JournalLine(n), 17)));
    till(16) += JournalLine(n);
  }
  WriteConnection(capture, kShop + 30, 60001, kShop + 60, 9100, PjlPostScriptJob());
  WriteConnection(capture, kShop + 30, 60002, kShop + 61, 9100, PclJob());
  WriteConnection(capture, kShop + 30, 60003, 0x0A000001, 443, TlsLikeRecord(), true,
                  TlsLikeRecord());
  return tills;
}

TEST(ShopSurvey, SuggestedLinesPastedGiveEachNvrItsTillsBytes) {
  ProgramDirectoryFixture run(TILLWIRE_PROGRAM);
  const unsigned short base = FreePort();
  const std::string head = R"(<Tillwire><Network SniffAdapterAddress="192.168.20.2">
    <NVR Address="127.0.0.1"/>
    <Terminal SrcAddress="192.168.20.99" NvrPort=")" + std::to_string(base) + "\"/>\n";
  run.WriteConfiguration(head + "  </Network></Tillwire>");
  const std::string capture = run.Path() + "shop.pcap";
  const std::map<std::string, std::string> tills = WriteShop(capture);

  run.Start({"-survey", capture});
  ASSERT_EQ(run.Wait(std::chrono::seconds(30)), 0);
  const std::string report = run.StandardOutput();
  // Each till once, numbered in the report's order (the most payload first),
  // its NVR text settings under it; none of the office's jobs.
  const std::map<std::string, std::vector<std::string>> expected = {
      {"192.168.20.11",
       {R"(DstAddress="192.168.20.40" DstPort="9100")",
        "      line break 0A; encoding ASCII; control codes: yes (ESC/POS); widest line 24",
        "      start line \"HARBOUR STREET DELI\"; end line \"Thank you, see you soon!\"; of 2 "
        "receipts"}},
      {"192.168.20.12",
       {R"(DstAddress="192.168.20.50" DstPort="6001")",
        "      line break 0D0A; encoding ASCII; control codes: none; widest line 21",
        "      start line \"CORNER BAKERY\"; end line \"*** CUSTOMER COPY ***\"; of 2 receipts"}},
      {"192.168.20.13",
       {R"(DstAddress="192.168.20.41" DstPort="9100")",
        "      line break 0A; encoding CP866; control codes: yes (ESC/POS); widest line 26",
        std::string("      start line \"") + kCp866FirstLine + "\"; end line \"" + kCp866LastLine +
            "\"; of 2 receipts"}},
      {"192.168.20.14",
       {R"(DstAddress="192.168.20.42" DstPort="9100")",
        "      line break 0A; encoding GBK; control codes: yes (ESC/POS); widest line 23",
        std::string("      start line \"") + kGbkFirstLine +
            "\"; end line \"\xE8\xB0\xA2\xE8\xB0\xA2\xE6\x83\xA0\xE9\xA1\xBE\"; of 2 receipts"}},
      {"192.168.20.15",
       {R"(DstAddress="192.168.20.43" DstPort="6002")",
        "      line break 0A; encoding UTF-8; control codes: none; widest line 25",
        "      start and end lines: 1 receipt seen, 2 needed"}},
      {"192.168.20.16",
       {R"(DstAddress="192.168.20.5" DstPort="7000")",
        "      line break 0A; encoding ASCII; control codes: none; widest line 31",
        "      start and end lines: 1 receipt seen, 2 needed"}},
  };
  const std::string heading = "Receipts that no terminal takes; Terminal lines for Tillwire.xml:";
  const std::size_t at = report.find(heading);
  ASSERT_NE(at, std::string::npos) << report;
  const std::string lineEnd = kFileLineEnd;
  std::vector<std::string> lines;
  for (std::size_t start = report.find(lineEnd, at) + lineEnd.size(), end;
       (end = report.find(lineEnd, start)) != std::string::npos; start = end + lineEnd.size()) {
    lines.push_back(report.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 3 * expected.size()) << report;
  // The suggested lines, pasted; each NvrPort's till, by its address.
  std::string pasted;
  std::map<unsigned short, std::string> tillOfPort;
  const std::string srcAddress = "<Terminal SrcAddress=\"";
  for (std::size_t i = 0; i < lines.size(); i += 3) {
    const std::string& element = lines[i];
    const std::size_t address = element.find(srcAddress) + srcAddress.size();
    const std::string till = element.substr(address, element.find('"', address) - address);
    ASSERT_EQ(expected.count(till), 1u) << element;
    const std::vector<std::string>& want = expected.at(till);
    EXPECT_NE(element.find(want[0]), std::string::npos) << element;
    EXPECT_NE(element.find("NvrPort=\"" + std::to_string(base + 1 + i / 3) + "\"/>"),
              std::string::npos) << element;
    EXPECT_EQ(lines[i + 1], want[1]) << till;
    EXPECT_EQ(lines[i + 2], want[2]) << till;
    tillOfPort[static_cast<unsigned short>(base + 1 + i / 3)] = till;
    pasted += element + "\n";
  }
  // The low-port till is the client by its text lines; the rows say what
  // each conversation was taken for, its text readable.
  for (const char* row : {"        receipts, UTF-8; no SYN, client by its text lines",
                          "        office printing (PJL)", "        office printing (PCL)",
                          "        binary", "%  HARBOUR STREET DELI"}) {
    EXPECT_NE(report.find(row), std::string::npos) << row << "\n" << report;
  }
  EXPECT_NE(report.find("%  " + std::string(kCp866FirstLine)), std::string::npos) << report;

  run.WriteConfiguration(head + pasted + "  </Network></Tillwire>");
  // Configured, the tills' settings are listed with -all, as suggested.
  run.Start({"-survey", capture, "-all"});
  ASSERT_EQ(run.Wait(std::chrono::seconds(30)), 0);
  const std::string configured = run.StandardOutput();
  EXPECT_NE(configured.find("No receipts seen that no terminal takes."), std::string::npos);
  for (const auto& [port, till] : tillOfPort) {
    const std::vector<std::string>& want = expected.at(till);
    const std::size_t terminal =
        configured.find(lineEnd + "  " + std::to_string(port) + " " + till + "::");
    ASSERT_NE(terminal, std::string::npos) << port << configured;
    const std::size_t settings = configured.find(lineEnd, terminal + lineEnd.size());
    EXPECT_EQ(configured.substr(settings, 3 * lineEnd.size() + want[1].size() + want[2].size()),
              lineEnd + want[1] + lineEnd + want[2] + lineEnd);
  }

  run.Start({"-f", capture});
  boost::asio::io_context eventQueue;
  std::map<unsigned short, std::unique_ptr<NvrClient>> nvrs;
  for (const auto& [port, till] : tillOfPort) {
    nvrs[port] = ConnectWhenListening(eventQueue, port);
    ASSERT_TRUE(nvrs[port]->Connected()) << "NvrPort " << port;
  }
  ASSERT_TRUE(PollUntil(
      eventQueue,
      [&] {
        for (const auto& entry : nvrs) {
          if (!entry.second->Closed()) return false;
        }
        return true;
      },
      std::chrono::seconds(30)));
  EXPECT_EQ(run.Wait(std::chrono::seconds(10)), 0);
  for (const auto& [port, nvr] : nvrs) {
    const std::string& bytes = tills.at(tillOfPort[port]);
    EXPECT_TRUE(nvr->Received() == bytes)
        << tillOfPort[port] << ": " << nvr->Received().size() << " of " << bytes.size() << " bytes";
  }
}

}  // namespace
