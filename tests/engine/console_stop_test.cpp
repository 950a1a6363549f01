// Playbacks stopped from the console: the program run as a child
// of the test, which sends it SIGINT (Ctrl-C) or SIGTERM as a user or a
// service manager does, and checks what it still tells (Linux).
#include "output/nvr_session.h"
#include "support/capture_writer.h"
#include "support/child_process.h"
#include "support/frame_builder.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"
#include "support/temp_directory.h"
#include "support/wait_until.h"

#include <boost/asio/ip/tcp.hpp>
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <regex>

using namespace tillwire;

namespace {

const std::string kBanner = std::string("------ Starting Tillwire version ") + TILLWIRE_VERSION;
const std::vector<std::string> kStopLines{"Received Stop request from Service Control Manager",
                                          "Received stop signal from SCM", "Exiting."};

// Signals the child and waits for its end: its exit status, or -1000 when it
// was killed by the signal or had not ended within limit (it is killed then).
int StopWith(pid_t child, int signal, std::chrono::milliseconds limit) {
  kill(child, signal);
  const int status = WaitForExit(child, limit);
  if (status == -1000 && kill(child, SIGKILL) == 0) waitpid(child, nullptr, 0);
  return status;
}

// The bytes of a number as the playback report groups them ("12,345").
std::uint64_t GroupedNumber(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), ','), text.end());
  return std::stoull(text);
}

// Connects nvr to the port as soon as the program listens there (false when
// it does not within 10 s), as an NVR that leaves what arrives unread in a
// small receive buffer: once the replay has started, it waits for this NVR.
bool ConnectUnreadNvr(boost::asio::ip::tcp::socket& nvr, unsigned short port) {
  return WaitUntil([&nvr, port] {
    boost::system::error_code error;
    nvr.close(error);
    nvr.open(boost::asio::ip::tcp::v4());
    nvr.set_option(boost::asio::socket_base::receive_buffer_size(16384));
    nvr.connect({boost::asio::ip::address_v4::loopback(), port}, error);
    return !error;
  });
}

// A playback stopped in the NVRs' ten seconds, or mid-replay while its NVR
// reads nothing (the replay waits for it), ends as a service stop
// does: the stop lines, "Exiting.", status 0; the report then tells what was
// handed over up to the stop, and the NVR receives just that.
TEST(ConsoleStop, AStoppedPlaybackEndsInOrderWithItsReport) {
  // 24 MB for one terminal: far more than the systems' socket buffers take
  // in while the NVR does not read.
  TempDirectory captures;
  const std::string capture = captures.Path() + "long.pcap";
  std::string expected;
  {
    CaptureWriter writer(capture);
    for (int i = 0; i < 1000; ++i) {
      FrameFields line;
      line.payload = std::string(24000, static_cast<char>('a' + i % 26));
      line.tcpSequence = static_cast<std::uint32_t>(expected.size());
      writer.Write(BuildFrame(line));
      expected += line.payload;
    }
  }
  struct Case {
    const char* name;
    int signal;
    bool midReplay;
  };
  const Case cases[] = {
      {"SIGINT in the NVRs' wait", SIGINT, false},
      {"SIGTERM in the NVRs' wait", SIGTERM, false},
      {"SIGINT mid-replay", SIGINT, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramDirectoryFixture program(TILLWIRE_PROGRAM);
    const std::string port = std::to_string(FreePort());
    program.WriteConfiguration(R"(<T><Network><NVR Address="127.0.0.1"/>
        <Terminal SrcAddress="192.168.10.31" NvrPort=")" + port + R"("/></Network></T>)");
    const pid_t child = StartProgram(program, {"-f", capture});
    const std::string created = "Creating terminal connection: 127.0.0.1:" + port;
    ASSERT_TRUE(WaitForLogText(program, created));
    std::vector<std::string> log{kBanner, "Playing from file://" + capture, created};

    boost::asio::io_service service;
    boost::asio::ip::tcp::socket nvr(service);
    if (c.midReplay) {
      ASSERT_TRUE(ConnectUnreadNvr(nvr, static_cast<unsigned short>(std::stoi(port))));
      pollfd arrived{nvr.native_handle(), POLLIN, 0};
      ASSERT_EQ(poll(&arrived, 1, 30000), 1) << "the replay did not start";
      log.push_back("Accepted connection from NVR address: 127.0.0.1 Port: " + port);
    }
    const auto stop = std::chrono::steady_clock::now();
    EXPECT_EQ(StopWith(child, c.signal, std::chrono::seconds(5)), 0)
        << "-1000: killed by the signal, or still running";
    EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::seconds(5));
    log.insert(log.end(), kStopLines.begin(), kStopLines.end());
    EXPECT_EQ(program.LogTexts(), log) << "no \"EOF: \" line: the replay was under way";

    const std::string console = program.StandardOutput();
    const std::string start = "Running in command line file playback mode\nPlaying back file " +
                              capture + "\nPlayback report:\n  terminal 192.168.10.31::: (NvrPort " +
                              port + "): ";
    ASSERT_EQ(console.rfind(start, 0), 0u) << console;
    const std::string line = console.substr(start.size());
    if (!c.midReplay) {
      EXPECT_EQ(line, "no NVR connected; 0 bytes matched, 0 handed to the NVR\n");
      continue;
    }
    std::smatch counts;
    ASSERT_TRUE(std::regex_match(
        line, counts,
        std::regex("NVR connected; ([0-9,]+) bytes matched, ([0-9,]+) handed to the NVR"
                   "(, ([0-9,]+) not delivered: \\4 NVR connection ended)?\n")))
        << line;
    const std::uint64_t matched = GroupedNumber(counts[1]);
    const std::uint64_t handed = GroupedNumber(counts[2]);
    EXPECT_LT(matched, expected.size());
    EXPECT_GT(handed, 0u);
    EXPECT_EQ(matched - handed, counts[4].matched ? GroupedNumber(counts[4]) : 0u);
    // What the stop found under way is not sent; the NVR reads the rest of
    // what was handed over, and at most the one write then in flight.
    std::string received;
    char buffer[65536];
    boost::system::error_code error;
    while (!error) received.append(buffer, nvr.read_some(boost::asio::buffer(buffer), error));
    EXPECT_GE(received.size(), handed);
    EXPECT_LE(received.size(), handed + NvrSession::kMaxWrite);
    EXPECT_TRUE(expected.compare(0, received.size(), received) == 0) << "not the capture's bytes";
  }
}

}  // namespace
