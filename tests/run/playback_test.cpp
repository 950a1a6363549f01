// Playback end to end: the program run from its own directory as
// "tillwire -f capture.pcap", with NVRs connecting on loopback during its
// wait; what a user sees is checked: exit status, console and log.
#include "capture/link_layer.h"
#include "config/configuration.h"
#include "report/terminal_names.h"
#include "run/engine.h"
#include "run/run_texts.h"
#include "source/source_texts.h"
#include "support/capture_writer.h"
#include "support/frame_builder.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"
#include "support/program_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

using namespace tillwire;

namespace {

// What the console shows for a playback of the file (in text mode, so with
// the platform's line ends).
std::string PlaybackConsole(const std::string& capture) {
  return std::string("Running in command line file playback mode") + kFileLineEnd +
         "Playing back file " + capture + kFileLineEnd;
}

class PlaybackTest : public testing::Test {
 protected:
  PlaybackTest() : run(TILLWIRE_PROGRAM) {}

  // Connects to a terminal's port as soon as the program listens there.
  std::unique_ptr<NvrClient> ConnectNvr(unsigned short port) {
    std::unique_ptr<NvrClient> nvr = ConnectWhenListening(eventQueue, port);
    if (!nvr->Connected()) ADD_FAILURE() << "nothing listens on port " << port;
    return nvr;
  }

  ProgramDirectoryFixture run;
  boost::asio::io_context eventQueue;
};

TEST_F(PlaybackTest, NvrsReceiveExactlyTheirTerminalsBytes) {
  const std::string portA = std::to_string(FreePort());
  const std::string portB = std::to_string(FreePort());
  const std::string portC = std::to_string(FreePort());
  run.WriteConfiguration(R"(<Tillwire><Network SniffAdapterAddress="192.168.10.2">
      <NVR Address="127.0.0.1"/>
      <Terminal SrcAddress="192.168.10.31" NvrPort=")" + portA + R"("/>
      <Terminal DstAddress="192.168.10.40" DstPort="9100" NvrPort=")" + portB + R"("/>
      <Terminal SrcAddress="192.168.10.33" NvrPort=")" + portC + R"("/>
    </Network></Tillwire>)");

  std::string expectedA, expectedB;
  {
    CaptureWriter capture(run.Path() + "capture.pcap");
    std::uint32_t sequence = 0xFFFFF000u;  // wraps past 2^32 on the way
    for (int i = 0; i < 200; ++i) {
      FrameFields fromPos1;  // 192.168.10.31 -> 192.168.10.40:9100: A wins over B
      fromPos1.payload = "POS1 receipt line " + std::to_string(i) + "\r\n";
      fromPos1.tcpSequence = sequence;
      sequence += static_cast<std::uint32_t>(fromPos1.payload.size());
      capture.Write(BuildFrame(fromPos1));
      capture.Write(BuildFrame(fromPos1));  // a mirror that shows every frame twice
      expectedA += fromPos1.payload;

      FrameFields toPrinter;  // tagged UDP from another till to the printer: B
      toPrinter.vlanId = 20;
      toPrinter.protocol = 17;
      toPrinter.srcAddress = 0xC0A80A32;
      toPrinter.payload = std::string("\x1b@\0", 3) + std::to_string(i) + "\n";
      toPrinter.padTo = 60;
      capture.Write(BuildFrame(toPrinter));
      expectedB += toPrinter.payload;

      FrameFields unconnected = fromPos1;  // C has no NVR: dropped
      unconnected.srcAddress = 0xC0A80A21;
      capture.Write(BuildFrame(unconnected));

      FrameFields reply = fromPos1;  // the printer's answer matches nobody
      std::swap(reply.srcAddress, reply.dstAddress);
      reply.srcAddress = 0xC0A80A28;
      reply.dstAddress = 0xC0A80A63;
      capture.Write(BuildFrame(reply));

      FrameFields ack = fromPos1;
      ack.payload.clear();
      capture.Write(BuildFrame(ack));
      capture.Write(ArpFrame());
    }
  }
  const std::string capturePath = run.Path() + "capture.pcap";
  run.Start({"-f", capturePath});

  auto nvrA = ConnectNvr(static_cast<unsigned short>(std::stoi(portA)));
  ASSERT_TRUE(PollUntil(eventQueue, [&] {
    return run.Logged("Accepted connection from NVR address: 127.0.0.1 Port: " + portA);
  }));
  auto nvrB = ConnectNvr(static_cast<unsigned short>(std::stoi(portB)));
  ASSERT_TRUE(PollUntil(
      eventQueue, [&] { return nvrA->Closed() && nvrB->Closed(); }, std::chrono::seconds(30)));
  EXPECT_EQ(run.Wait(std::chrono::seconds(10)), 0);
  // C takes the unconnected copies of A's stream: as many bytes as A.
  const std::string end = kFileLineEnd;
  EXPECT_EQ(run.StandardOutput(),
            PlaybackConsole(capturePath) + "Playback report:" + end +
                "  terminal 192.168.10.31::: (NvrPort " + portA + "): NVR connected; " +
                GroupedCount(expectedA.size()) + " bytes matched, " +
                GroupedCount(expectedA.size()) + " handed to the NVR" + end +
                "  terminal 192.168.10.33::: (NvrPort " + portC + "): no NVR connected; " +
                GroupedCount(expectedA.size()) + " bytes matched, 0 handed to the NVR, " +
                GroupedCount(expectedA.size()) + " not delivered: " +
                GroupedCount(expectedA.size()) + " no NVR connected" + end +
                "  terminal ::192.168.10.40:9100 (NvrPort " + portB + "): NVR connected; " +
                GroupedCount(expectedB.size()) + " bytes matched, " +
                GroupedCount(expectedB.size()) + " handed to the NVR" + end);

  EXPECT_TRUE(nvrA->Received() == expectedA) << nvrA->Received().size() << " bytes";
  EXPECT_TRUE(nvrB->Received() == expectedB) << nvrB->Received().size() << " bytes";
  EXPECT_EQ(run.LogTexts(), (std::vector<std::string>{
                                text::StartBannerLine(),
                                "Playing from file://" + capturePath,
                                "Creating terminal connection: 127.0.0.1:" + portA,
                                "Creating terminal connection: 127.0.0.1:" + portB,
                                "Creating terminal connection: 127.0.0.1:" + portC,
                                "Accepted connection from NVR address: 127.0.0.1 Port: " + portA,
                                "Accepted connection from NVR address: 127.0.0.1 Port: " + portB,
                                "EOF: ",
                                "Exiting.",
                            }));
}

// Connections of one till to its printer, one after another on the same
// ports, as weak sequence number generators and a mirror make them: the same
// initial sequence number again, after a whole close, after a close seen by
// half (the printer's FIN missed, the till's FIN missed, the printer's FIN on
// status bytes that no terminal takes) and after none (a till that
// rebooted); a connection whose SYN the mirror missed, inside the stream of
// the one before; a copy of a SYN behind the data, and a SYN reordered
// behind the second segment; an RST outside the printer's window. Every byte
// of every connection reaches the NVR once.
TEST_F(PlaybackTest, ReusedPortsAndStrayControlSegmentsLoseAndRepeatNothing) {
  const std::string port = std::to_string(FreePort());
  run.WriteConfiguration(R"(<T><Network><NVR Address="127.0.0.1"/>
      <Terminal SrcAddress="192.168.10.31" NvrPort=")" + port + R"("/></Network></T>)");
  const std::uint8_t kAck = 0x10, kSyn = 0x02, kFin = 0x11, kRst = 0x04;
  std::string expected;
  {
    CaptureWriter capture(run.Path() + "reuse.pcap");
    // A frame of the till's (or the printer's) side of the connection on till port.
    auto frame = [&](std::uint16_t tillPort, std::uint32_t sequence, std::uint32_t ack,
                     std::uint8_t flags, const std::string& payload, bool fromPrinter = false) {
      FrameFields fields;
      fields.srcPort = tillPort;
      if (fromPrinter) {
        std::swap(fields.srcAddress, fields.dstAddress);
        std::swap(fields.srcPort, fields.dstPort);
      }
      fields.tcpSequence = sequence;
      fields.tcpAcknowledgment = ack;
      fields.tcpFlags = flags;
      fields.payload = payload;
      capture.Write(BuildFrame(fields));
    };
    // The bytes of a connection, told apart from those of the others.
    auto text = [](const std::string& name, std::size_t length) {
      std::string bytes;
      while (bytes.size() < length) bytes += name + " " + std::to_string(bytes.size()) + "\n";
      return bytes.substr(0, length);
    };
    // Stream bytes sent in segments of 1,000 from sequence number first.
    auto segments = [&](std::uint16_t tillPort, std::uint32_t first, std::uint32_t ack,
                    const std::string& bytes) {
      for (std::size_t at = 0; at < bytes.size(); at += 1000) {
        frame(tillPort, first + static_cast<std::uint32_t>(at), ack, kAck, bytes.substr(at, 1000));
      }
    };
    // A connection opened and its bytes sent; returns the end of its stream.
    auto open = [&](std::uint16_t tillPort, std::uint32_t isn, std::uint32_t printerIsn,
                    const std::string& bytes) {
      frame(tillPort, isn, 0, kSyn, "");
      frame(tillPort, printerIsn, isn + 1, kSyn | kAck, "", true);
      segments(tillPort, isn + 1, printerIsn + 1, bytes);
      expected += bytes;
      return isn + 1 + static_cast<std::uint32_t>(bytes.size());
    };
    // A whole connection, SYN to a FIN from each side.
    auto connection = [&](std::uint16_t tillPort, std::uint32_t isn, std::uint32_t printerIsn,
                          const std::string& bytes) {
      const std::uint32_t end = open(tillPort, isn, printerIsn, bytes);
      frame(tillPort, end, printerIsn + 1, kFin, "");
      frame(tillPort, printerIsn + 1, end + 1, kFin, "", true);
    };

    for (int i = 0; i < 3; ++i) {  // the same initial sequence number each time
      connection(40001, 1000, 7000000u * (i + 1), text("same start " + std::to_string(i), 3000));
    }
    connection(40002, 2000, 90000, text("before", 10000));
    const std::string inside = text("SYN missed", 5000);  // inside the stream before
    segments(40002, 2101, 0x5EED0001u, inside);
    expected += inside;

    const std::string late = text("late SYN", 3000);
    segments(40003, 3001, 300001, late.substr(0, 1000));
    frame(40003, 3000, 0, kSyn, "");  // the mirror's copy of the SYN, late
    segments(40003, 4001, 300001, late.substr(1000));
    segments(40003, 3001, 300001, late);  // retransmitted
    expected += late;

    const std::string reordered = text("SYN reordered", 3000);
    segments(40005, 5001 + 1000, 500001, reordered.substr(1000, 1000));  // the second segment
    frame(40005, 5000, 0, kSyn, "");
    segments(40005, 5001, 500001, reordered);  // the first, and all retransmitted
    expected += reordered.substr(1000, 1000) + reordered.substr(0, 1000) + reordered.substr(2000);

    // The same initial sequence number again after half a close, or none:
    // the printer's new initial sequence number tells.
    const std::uint32_t tillEnd = open(40006, 6000, 600000, text("printer's FIN missed", 2500));
    frame(40006, tillEnd, 600001, kFin, "");
    open(40006, 6000, 6600000, text("after the printer's FIN missed", 2500));
    const std::uint32_t printerEnd = open(40007, 7000, 700000, text("till's FIN missed", 2500));
    frame(40007, 700001, printerEnd + 1, kFin, "", true);
    open(40007, 7000, 7700000, text("after the till's FIN missed", 2500));
    open(40008, 8000, 800000, text("before the reboot", 2500));
    open(40008, 8000, 8800000, text("after the reboot", 2500));

    // The printer's FIN on its last status bytes, which no terminal takes,
    // closes the connection: a SYN with the same number then starts afresh.
    const std::uint32_t statusEnd = open(40009, 9000, 900000, text("status FIN", 2500));
    frame(40009, 900001, statusEnd, kFin | 0x08, std::string("\x10\x04\x12", 3), true);
    frame(40009, statusEnd, 900005, kFin, "");
    frame(40009, 9000, 0, kSyn, "");
    const std::string afterStatus = text("after the status FIN", 2500);
    segments(40009, 9001, 0x5EED0009u, afterStatus);
    expected += afterStatus;

    const std::string reset = text("stray RST", 3000);
    segments(40004, 4001, 400001, reset.substr(0, 2000));
    frame(40004, 400001 + 0x20000000u, 0, kRst, "", true);  // far outside the printer's window
    segments(40004, 4001, 400001, reset);  // retransmitted, with more
    expected += reset;
  }

  run.Start({"-f", run.Path() + "reuse.pcap"});
  auto nvr = ConnectNvr(static_cast<unsigned short>(std::stoi(port)));
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return nvr->Closed(); }, std::chrono::seconds(30)));
  EXPECT_EQ(run.Wait(std::chrono::seconds(10)), 0);
  EXPECT_TRUE(nvr->Received() == expected)
      << nvr->Received().size() << " of " << expected.size() << " bytes";
}

// What "tcpdump -i any" records: Linux cooked frames.
TEST_F(PlaybackTest, ForwardsFromALinuxCookedCapture) {
  const std::string port = std::to_string(FreePort());
  run.WriteConfiguration(R"(<T><Network><NVR Address="127.0.0.1"/>
      <Terminal SrcAddress="192.168.10.31" NvrPort=")" + port + R"("/></Network></T>)");
  std::string expected;
  {
    CaptureWriter capture(run.Path() + "any.pcap", DLT_LINUX_SLL);
    for (int i = 0; i < 100; ++i) {
      FrameFields line;
      line.payload = "POS1 receipt line " + std::to_string(i) + "\r\n";
      line.tcpSequence = static_cast<std::uint32_t>(expected.size());
      capture.Write(Relink(BuildFrame(line), DLT_LINUX_SLL));
      expected += line.payload;
      FrameFields ipv6 = line;
      ipv6.etherType = 0x86DD;
      capture.Write(Relink(BuildFrame(ipv6), DLT_LINUX_SLL));
    }
  }
  run.Start({"-f", run.Path() + "any.pcap"});
  auto nvr = ConnectNvr(static_cast<unsigned short>(std::stoi(port)));
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return nvr->Closed(); }, std::chrono::seconds(30)));
  EXPECT_EQ(run.Wait(std::chrono::seconds(10)), 0);
  EXPECT_EQ(nvr->Received(), expected);
}

// A filter that no printed value can equal is named at the start, after the
// source's line, and in the report; it still matches by its text, so the
// till's bytes go to the next terminal in key order.
TEST_F(PlaybackTest, AFilterThatCanNeverMatchIsNamed) {
  const std::string portA = std::to_string(FreePort());
  const std::string portB = std::to_string(FreePort());
  run.WriteConfiguration(R"(<T><Network><NVR Address="127.0.0.1"/>
      <Terminal SrcAddress="192.168.10.031" NvrPort=")" + portA + R"("/>
      <Terminal DstAddress="192.168.10.40" DstPort="9100" NvrPort=")" + portB + R"("/>
    </Network></T>)");
  const std::string capturePath = run.Path() + "capture.pcap";
  FrameFields receipt;
  receipt.payload = "POS1 receipt\r\n";
  CaptureWriter(capturePath).Write(BuildFrame(receipt));
  run.Start({"-f", capturePath});
  EXPECT_EQ(run.Wait(std::chrono::seconds(30)), 0);
  const std::string end = kFileLineEnd;
  EXPECT_EQ(run.StandardOutput(),
            PlaybackConsole(capturePath) + "Playback report:" + end +
                "  terminal 192.168.10.031::: (NvrPort " + portA +
                "): no NVR connected; 0 bytes matched, 0 handed to the NVR (SrcAddress "
                "\"192.168.10.031\" can never match)" + end +
                "  terminal ::192.168.10.40:9100 (NvrPort " + portB +
                "): no NVR connected; 14 bytes matched, 0 handed to the NVR, 14 not delivered: "
                "14 no NVR connected" + end);
  EXPECT_EQ(run.LogTexts(),
            (std::vector<std::string>{
                text::StartBannerLine(),
                "Playing from file://" + capturePath,
                "Filter never matches: terminal 192.168.10.031::: (NvrPort " + portA +
                    ") SrcAddress \"192.168.10.031\": an address is written as packets show "
                    "it, four numbers 0-255 separated by dots, without leading zeros or blanks, "
                    "such as 172.30.5.21",
                "Creating terminal connection: 127.0.0.1:" + portA,
                "Creating terminal connection: 127.0.0.1:" + portB,
                "EOF: ",
                "Exiting.",
            }));
}

// A run that cannot start ends the process with its code; one without a
// terminal, or with a capture it cannot decode, ends in order, and fails.
TEST_F(PlaybackTest, FatalStartsEndTheProcessWithTheirCode) {
  struct Case {
    const char* name;
    const char* configuration;  // null: no Tillwire.xml
    bool captureExists;
    int exitCode;
    std::vector<std::string> afterBanner;  // "%s" stands for the capture source text
    int dataLinkType = DLT_EN10MB;
  };
  const char* valid = R"(<T><Network><Terminal SrcAddress="10.0.0.1" NvrPort="0"/></Network></T>)";
  const Case cases[] = {
      {"no configuration", nullptr, true, -1,
       {"Failed to load Tillwire.xml. Exiting.", std::strerror(ENOENT)}},
      {"no root element", "<?xml version=\"1.0\"?>", true, -2,
       {"Failed to get config root element. Exiting."}},
      {"no capture file", valid, false, -1, {"Unable to open the file: %s"}},
      {"no terminal", "<T><Network><Terminal NvrPort=\"0\"/></Network></T>", true,
       kNoTerminalsResult,
       {"Playing from %s", text::kInvalidTerminal, "No terminals were configured correctly. Exiting."}},
      {"802.11 capture", valid, true, kUnsupportedLinkTypeResult,
       {"Playing from %s",
        "Unsupported link type 105 (IEEE802_11): Tillwire reads Ethernet, Linux cooked (v1 and "
        "v2), raw IPv4 and BSD loopback captures. Exiting."},
       DLT_IEEE802_11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramDirectoryFixture fatal(TILLWIRE_PROGRAM);
    if (c.configuration) fatal.WriteConfiguration(c.configuration);
    const std::string capture = fatal.Path() + "capture.pcap";
    if (c.captureExists) CaptureWriter{capture, c.dataLinkType};
    const std::string source = "file://" + capture;
    fatal.Start({"-f", capture});
    EXPECT_EQ(fatal.Wait(std::chrono::seconds(30)), ExitStatus(c.exitCode));
    EXPECT_EQ(fatal.StandardOutput(), PlaybackConsole(capture));

    std::vector<std::string> expected{text::StartBannerLine()};
    for (std::string line : c.afterBanner) {
      const std::size_t at = line.find("%s");
      if (at != std::string::npos) line.replace(at, 2, source);
      expected.push_back(line);
    }
    std::vector<std::string> texts = fatal.LogTexts();
    if (!c.captureExists && texts.size() == expected.size() + 1) {
      texts.pop_back();  // the library's own text, as a line of its own
    }
    EXPECT_EQ(texts, expected);
  }
}

// A capture file of twenty receipt lines for one terminal, damaged in the
// eleventh record by damage (given the file's bytes and where that record
// starts); returns the payloads of the ten records before it.
std::string WriteDamagedCapture(const std::string& path,
                                const std::function<void(std::string&, std::size_t)>& damage) {
  const int kRecords = 20;
  const int kDamaged = 10;
  const std::size_t kFileHeader = 24;
  const std::size_t kRecordHeader = 16;
  std::string before;
  std::size_t damagedRecord = kFileHeader;
  {
    CaptureWriter capture(path);
    for (int i = 0; i < kRecords; ++i) {
      FrameFields line;
      line.payload = "POS1 receipt line " + std::to_string(i) + "\r\n";
      line.tcpSequence = static_cast<std::uint32_t>(1000 * i);
      const std::vector<unsigned char> frame = BuildFrame(line);
      capture.Write(frame);
      if (i < kDamaged) {
        before += line.payload;
        damagedRecord += kRecordHeader + frame.size();
      }
    }
  }
  std::string bytes = ReadFile(path);
  damage(bytes, damagedRecord);
  WriteFile(path, bytes);
  return before;
}

// The error that libpcap itself reports for the file: the first read that
// fails.
std::string LibraryReadError(const std::string& path) {
  char errorText[PCAP_ERRBUF_SIZE] = "";
  pcap_t* handle = pcap_open_offline(path.c_str(), errorText);
  if (handle == nullptr) return errorText;
  pcap_pkthdr* header = nullptr;
  const unsigned char* frame = nullptr;
  int result = 1;
  while (result == 1) result = pcap_next_ex(handle, &header, &frame);
  const std::string error = result == -1 ? pcap_geterr(handle) : "(no read error)";
  pcap_close(handle);
  return error;
}

// A damaged capture file is not a success: the NVR receives what came before
// the damage, the library's read error is logged, and the run exits with a
// code of its own. Both files play at once (each playback waits ten seconds
// for its NVRs).
TEST_F(PlaybackTest, ADamagedCaptureDeliversWhatCameBeforeAndFails) {
  struct Case {
    const char* name;
    std::function<void(std::string&, std::size_t)> damage;
  };
  const Case cases[] = {
      {"cut in the middle of a record",
       [](std::string& bytes, std::size_t record) { bytes.resize(record + 16 + 30); }},
      {"a record length past any frame",
       [](std::string& bytes, std::size_t record) {
         const std::uint32_t length = 0x00FFFFFF;  // the captured length, host order
         bytes.replace(record + 8, sizeof length, reinterpret_cast<const char*>(&length),
                       sizeof length);
       }},
  };
  struct Playback {
    std::unique_ptr<ProgramDirectoryFixture> program;
    std::string capture, port, expected;
    std::unique_ptr<NvrClient> nvr;
  };
  std::vector<Playback> playbacks;
  for (const Case& c : cases) {
    Playback playback{std::make_unique<ProgramDirectoryFixture>(TILLWIRE_PROGRAM), "",
                      std::to_string(FreePort()), "", nullptr};
    playback.capture = playback.program->Path() + "damaged.pcap";
    playback.program->WriteConfiguration(R"(<T><Network><NVR Address="127.0.0.1"/>
        <Terminal SrcAddress="192.168.10.31" NvrPort=")" + playback.port + R"("/></Network></T>)");
    playback.expected = WriteDamagedCapture(playback.capture, c.damage);
    playback.program->Start({"-f", playback.capture});
    // Connected before the next program starts: under Wine, a program that
    // binds its port while another one starts up was seen to be refused it.
    playback.nvr = ConnectNvr(static_cast<unsigned short>(std::stoi(playback.port)));
    playbacks.push_back(std::move(playback));
  }
  ASSERT_TRUE(PollUntil(
      eventQueue,
      [&] {
        return std::all_of(playbacks.begin(), playbacks.end(),
                           [](const Playback& p) { return p.nvr->Closed(); });
      },
      std::chrono::seconds(30)));
  for (std::size_t i = 0; i < playbacks.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    Playback& playback = playbacks[i];
    EXPECT_EQ(playback.program->Wait(std::chrono::seconds(10)), ExitStatus(kDamagedCaptureResult));
    EXPECT_EQ(playback.nvr->Received(), playback.expected);
    EXPECT_EQ(playback.program->LogTexts(),
              (std::vector<std::string>{
                  text::StartBannerLine(),
                  "Playing from file://" + playback.capture,
                  "Creating terminal connection: 127.0.0.1:" + playback.port,
                  "Accepted connection from NVR address: 127.0.0.1 Port: " + playback.port,
                  text::ReadErrorLine(LibraryReadError(playback.capture)),
                  "Exiting.",
              }));
  }
}

}  // namespace
