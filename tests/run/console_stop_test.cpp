// Playbacks and surveys stopped from the console: the program run as a child
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

#include <boost/filesystem.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
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

    boost::asio::io_context service;
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

// Whether the process holds the file open and every one of its threads waits
// for something, rather than runs or is ready to run.
bool WaitsWithFileOpen(pid_t process, const std::string& path) {
  const std::string proc = "/proc/" + std::to_string(process);
  bool holds = false;
  boost::system::error_code error;
  for (boost::filesystem::directory_iterator fd(proc + "/fd", error), end; !error && fd != end;
       fd.increment(error)) {
    holds = holds || boost::filesystem::read_symlink(fd->path(), error).string() == path;
  }
  for (boost::filesystem::directory_iterator task(proc + "/task", error), end;
       holds && !error && task != end; task.increment(error)) {
    const std::string stat = ReadFile(task->path().string() + "/stat");
    const std::size_t name = stat.rfind(')');
    if (name == std::string::npos || stat.compare(name, 3, ") S") != 0) return false;
  }
  return holds && !error;
}

// What the survey of a capture file prints, but for its first line
// ("Surveying ..."), as a survey stopped before the file's end prints it.
std::string StoppedSurveyOf(const std::string& capture) {
  ProgramDirectoryFixture fromFile(TILLWIRE_PROGRAM);
  const pid_t survey = StartProgram(fromFile, {"-survey", capture});
  EXPECT_EQ(WaitForExit(survey, std::chrono::seconds(30)), 0);
  std::string console = fromFile.StandardOutput();
  console.erase(0, console.find('\n') + 1);
  const std::string summaryEnd = "not TCP or UDP over IPv4.";
  const std::size_t at = console.find(summaryEnd);
  if (at != std::string::npos) {
    console.insert(at + summaryEnd.size(), " Stopped before the end of the file.");
  }
  return console;
}

// A survey of a pipe whose writer stays open (a capture tool still running)
// ends within a second of SIGINT or SIGTERM, with the report of what came
// through the pipe: the report of the same frames read from a file, stopped
// before the end; nothing yet, when the writer had not started the capture.
// It logs nothing.
TEST(ConsoleStop, ASurveyOfAPipeEndsPromptlyWithItsReport) {
  TempDirectory files;
  const std::string shop = files.Path() + "shop.pcap";
  {
    CaptureWriter writer(shop);
    FrameFields receipt = FieldsBetween(0xC0A80A1F, 49152, 0xC0A80A28, 9100, "RECEIPT 1042\n");
    writer.Write(BuildFrame(receipt));
    receipt.tcpSequence = 13;
    receipt.payload = "TOTAL 12.50\n";
    writer.Write(BuildFrame(receipt));
    writer.Write(BuildFrame(FieldsBetween(0xC0A80A3C, 50001, 0xC0A80A2D, 9100, "ORDER 57\n", 17)));
    writer.Write(ArpFrame());
  }
  const std::string empty = files.Path() + "empty.pcap";
  CaptureWriter{empty};
  struct Case {
    const char* name;
    int signal;
    std::string written;  // what the writer has written into the pipe
    std::string report;
  };
  const Case cases[] = {
      {"SIGINT after four frames", SIGINT, ReadFile(shop), StoppedSurveyOf(shop)},
      {"SIGTERM after four frames", SIGTERM, ReadFile(shop), StoppedSurveyOf(shop)},
      {"SIGINT before the capture's header", SIGINT, "", StoppedSurveyOf(empty)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramDirectoryFixture program(TILLWIRE_PROGRAM);
    const std::string pipe = program.Path() + "mirror.pcap";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
    const pid_t child = StartProgram(program, {"-survey", pipe});
    // The writer's end, open for the whole survey.
    const int writer = open(pipe.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0) << std::strerror(errno);
    ASSERT_EQ(write(writer, c.written.data(), c.written.size()),
              static_cast<ssize_t>(c.written.size()));
    // Everything taken out of the pipe and counted: the survey waits for more.
    EXPECT_TRUE(WaitUntil([&] {
      int waiting = -1;
      return ioctl(writer, FIONREAD, &waiting) == 0 && waiting == 0 &&
             WaitsWithFileOpen(child, pipe);
    }));

    const auto stop = std::chrono::steady_clock::now();
    EXPECT_EQ(StopWith(child, c.signal, std::chrono::seconds(5)), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::seconds(1));
    close(writer);
    EXPECT_EQ(program.StandardOutput(), "Surveying file://" + pipe + "\n" + c.report);
    EXPECT_EQ(program.LogTexts(), std::vector<std::string>());
  }
}

}  // namespace
