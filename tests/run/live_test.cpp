// Live capture on real adapters: loopback, and a veth pair into a network
// namespace that the test creates. Needs root; skipped otherwise.
#include "capture/capture_filter.h"
#include "platform/program_directory.h"
#include "run/engine.h"
#include "run/run_texts.h"
#include "source/capture_source.h"
#include "source/drop_report.h"
#include "source/source_texts.h"
#include "support/log_watch.h"
#include "support/metric_samples.h"
#include "support/network_namespace.h"
#include "support/nvr_client.h"
#include "support/temp_directory.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/write.hpp>
#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace tillwire;

namespace {

void WriteProgramConfiguration(const std::string& xml) {
  WriteFile(ProgramDirectory() + "Tillwire.xml", xml);
}

// The "Listening on" line that a run logs for the near end of a veth pair.
std::string ListeningLine(const NetworkNamespace& veth) {
  return text::ListeningOnLine(
      text::AdapterSource(veth.LocalLink(), veth.LocalAddress().to_string()));
}

// Tillwire.xml for a terminal behind the far end of a veth pair (UDP to port
// 9100), captured on the near end, whose NVR connects on loopback; the
// metrics file goes to metricsDirectory.
void WriteVethConfiguration(const NetworkNamespace& veth, unsigned short nvrPort,
                            const std::string& metricsDirectory) {
  WriteProgramConfiguration(R"(<T><Network SniffAdapterAddress=")" +
                            veth.LocalAddress().to_string() +
                            R"("><NVR Address="127.0.0.1"/><Terminal SrcAddress=")" +
                            veth.RemoteAddress().to_string() + R"(" DstPort="9100" NvrPort=")" +
                            std::to_string(nvrPort) + R"("/></Network><Metrics TextfileDirectory=")" +
                            metricsDirectory + R"("/></T>)");
}

bool Contains(const std::vector<std::string>& texts, const std::string& prefix) {
  return std::any_of(texts.begin(), texts.end(),
                     [&](const std::string& text) { return text.rfind(prefix, 0) == 0; });
}

void SendUdp(const std::string& address, unsigned short port, const std::string& payload) {
  boost::asio::io_context service;
  boost::asio::ip::udp::socket socket(service, boost::asio::ip::udp::v4());
  socket.send_to(boost::asio::buffer(payload),
                 boost::asio::ip::udp::endpoint(
                     boost::asio::ip::address::from_string(address), port));
}

// The engine on a thread of its own, as the service runs it.
class LiveTest : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "live capture needs root";
  }
  void TearDown() override {
    if (engine.joinable()) Stop();
  }
  void Start() {
    engine = boost::thread([] { RunEngine(""); });
  }
  // Interrupts the engine as the service's stop does; returns how long it took.
  std::chrono::milliseconds Stop() {
    const auto begin = std::chrono::steady_clock::now();
    engine.interrupt();
    engine.join();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - begin);
  }
  bool LogContains(const std::string& prefix) {
    return PollUntil(eventQueue, [&] { return Contains(watch.Texts(), prefix); });
  }
  // Starts a live run on the near end of veth with one terminal behind its far
  // end, and connects that terminal's NVR on loopback. Null, with the failure
  // recorded, when the pair, the adapter or the NVR did not come up.
  std::unique_ptr<NvrClient> StartWithVethTerminal(const NetworkNamespace& veth) {
    EXPECT_TRUE(veth.Ready()) << veth.SetUpCommand();
    if (!veth.Ready()) return nullptr;
    const unsigned short nvrPort = FreePort();
    WriteVethConfiguration(veth, nvrPort, textfile.Path());
    Start();
    if (!LogContains(ListeningLine(veth))) {
      ADD_FAILURE() << "no \"" << ListeningLine(veth) << "\"";
      return nullptr;
    }
    // The adapter is open before the terminals' ports are.
    std::unique_ptr<NvrClient> nvr = ConnectWhenListening(eventQueue, nvrPort);
    if (!LogContains("Accepted connection from NVR address: 127.0.0.1")) {
      ADD_FAILURE() << "the NVR was not accepted";
      return nullptr;
    }
    return nvr;
  }
  // Sends datagrams until the NVR has received them all, in order.
  void ForwardUntilReceived(NvrClient& nvr, const std::function<void(int)>& send, int count) {
    std::string expected;
    for (int i = 0; i < count; ++i) expected += "datagram " + std::to_string(i) + "\n";
    for (int i = 0; i < count; ++i) send(i);
    ASSERT_TRUE(PollUntil(eventQueue, [&] { return nvr.Received().size() >= expected.size(); }))
        << nvr.Received();
    EXPECT_EQ(nvr.Received(), expected);
  }

  LogWatch watch;
  TempDirectory textfile;  // the metrics file's directory
  boost::asio::io_context eventQueue;
  boost::thread engine;
};

TEST_F(LiveTest, ForwardsLoopbackTrafficAndStopsPromptly) {
  const unsigned short printerPort = FreePort();
  const unsigned short nvrPort = FreePort();
  WriteProgramConfiguration(R"(<T><Network SniffAdapterAddress="127.0.0.1"><NVR Address="127.0.0.1"/>
      <Terminal DstAddress="127.0.0.1" DstPort=")" + std::to_string(printerPort) +
                            R"(" NvrPort=")" + std::to_string(nvrPort) + R"("/></Network></T>)");
  Start();
  ASSERT_TRUE(LogContains("Creating terminal connection: "));
  const std::unique_ptr<NvrClient> nvr = ConnectWhenListening(eventQueue, nvrPort);
  ASSERT_TRUE(LogContains("Accepted connection from NVR address: 127.0.0.1"));
  ForwardUntilReceived(
      *nvr,
      [&](int i) { SendUdp("127.0.0.1", printerPort, "datagram " + std::to_string(i) + "\n"); },
      50);

  // The network is quiet now: the stop must not wait for traffic.
  EXPECT_LT(Stop().count(), 1000);
  EXPECT_TRUE(PollUntil(eventQueue, [&] { return nvr->Closed(); }));
  NvrClient late(eventQueue, nvrPort);
  EXPECT_TRUE(PollUntil(eventQueue, [&] { return late.Closed(); })) << "still listening";
  EXPECT_FALSE(late.Connected());

  const std::vector<std::string> texts = watch.Texts();
  ASSERT_GE(texts.size(), 5u);
  EXPECT_EQ(texts[0], text::StartBannerLine());
  EXPECT_EQ(texts[1].rfind(text::ListeningOnLine(""), 0), 0u) << texts[1];
  EXPECT_EQ(texts[1].substr(texts[1].size() - 10), " 127.0.0.1");
  EXPECT_EQ(std::vector<std::string>(texts.end() - 2, texts.end()),
            (std::vector<std::string>{"Received stop signal from SCM", "Exiting."}));
}

// The longest frame that a capture of loopback for a TCP connection to port
// shows within a few seconds, read from a capture of the test's own.
class LongestFrame {
 public:
  explicit LongestFrame(unsigned short port) : handle(pcap_create("lo", errorText)) {
    if (handle == nullptr) return;
    pcap_set_snaplen(handle, 128);  // lengths only
    pcap_set_timeout(handle, 10);
    pcap_set_buffer_size(handle, 32 * 1024 * 1024);
    bpf_program program;
    const std::string filter = "tcp dst port " + std::to_string(port);
    if (pcap_activate(handle) < 0 || pcap_setnonblock(handle, 1, errorText) != 0 ||
        pcap_compile(handle, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
      Close();
      return;
    }
    if (pcap_setfilter(handle, &program) != 0) Close();
    pcap_freecode(&program);
  }
  ~LongestFrame() { Close(); }
  bool Open() const { return handle != nullptr; }
  // Reads what the capture holds until a frame longer than length is seen
  // or a few seconds have passed; the longest frame seen.
  std::uint32_t Above(std::uint32_t length) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (longest <= length && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{pcap_get_selectable_fd(handle), POLLIN, 0};
      poll(&ready, 1, 50);
      pcap_dispatch(handle, -1, &LongestFrame::Take, reinterpret_cast<u_char*>(this));
    }
    return longest;
  }

 private:
  static void Take(u_char* self, const pcap_pkthdr* header, const u_char*) {
    auto* frames = reinterpret_cast<LongestFrame*>(self);
    frames->longest = std::max(frames->longest, header->len);
  }
  void Close() {
    if (handle != nullptr) pcap_close(handle);
    handle = nullptr;
  }
  char errorText[PCAP_ERRBUF_SIZE] = "";
  pcap_t* handle;
  std::uint32_t longest = 0;
};

// Loopback's MTU is 65,536, so a TCP segment's frame there is up to 65,549
// bytes: a 4 MiB transfer between two sockets of the test, matched by a
// terminal, reaches the NVR whole, every byte once. The data goes in parts
// that the NVR takes before the next is sent, within the 1 MiB that may wait
// for an NVR.
TEST_F(LiveTest, ForwardsFramesLongerThan64KiBWhole) {
  ASSERT_EQ(ReadFile("/sys/class/net/lo/mtu"), "65536\n");
  boost::asio::io_context sockets;
  boost::asio::ip::tcp::acceptor printer(
      sockets, boost::asio::ip::tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
  const unsigned short printerPort = printer.local_endpoint().port();
  const unsigned short nvrPort = FreePort();
  WriteProgramConfiguration(R"(<T><Network SniffAdapterAddress="127.0.0.1"><NVR Address="127.0.0.1"/>
      <Terminal DstAddress="127.0.0.1" DstPort=")" + std::to_string(printerPort) +
                            R"(" NvrPort=")" + std::to_string(nvrPort) + R"("/></Network></T>)");
  LongestFrame frames(printerPort);
  ASSERT_TRUE(frames.Open());
  Start();
  ASSERT_TRUE(LogContains("Creating terminal connection: "));
  const std::unique_ptr<NvrClient> nvr = ConnectWhenListening(eventQueue, nvrPort);
  ASSERT_TRUE(LogContains("Accepted connection from NVR address: 127.0.0.1"));

  std::string data(4 << 20, ' ');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('!' + i % 89);
  boost::asio::ip::tcp::socket till(sockets);
  till.connect(printer.local_endpoint());
  boost::asio::ip::tcp::socket received(sockets);
  printer.accept(received);
  std::thread reader([&] {
    boost::system::error_code error;
    std::vector<char> buffer(1 << 20);
    while (!error) received.read_some(boost::asio::buffer(buffer), error);
  });
  const std::size_t part = 512 * 1024;
  bool taken = true;
  for (std::size_t sent = 0; taken && sent < data.size(); sent += part) {
    boost::asio::write(till, boost::asio::buffer(data.data() + sent, part));
    taken = PollUntil(eventQueue, [&] { return nvr->Received().size() >= sent + part; });
  }
  till.shutdown(boost::asio::ip::tcp::socket::shutdown_both);
  reader.join();
  EXPECT_TRUE(taken && nvr->Received() == data) << nvr->Received().size() << " bytes";
  EXPECT_GT(frames.Above(65536), 65536u) << "no frame above 65,536 bytes: nothing shown";
}

// Before any frame has arrived: the capture must not wait for one.
TEST_F(LiveTest, StopsOnANetworkWithoutTraffic) {
  WriteProgramConfiguration(R"(<T><Network SniffAdapterAddress="127.0.0.1">
      <Terminal SrcAddress="10.9.9.9" NvrPort="0"/></Network></T>)");
  Start();
  ASSERT_TRUE(LogContains("Creating terminal connection: "));
  EXPECT_LT(Stop().count(), 1000);
  EXPECT_EQ(watch.Texts().back(), "Exiting.");
}

// A host in a network namespace of its own sends to this machine over a veth
// pair; the engine listens promiscuously on this end.
TEST_F(LiveTest, ForwardsTrafficSeenOnAVethPair) {
  const NetworkNamespace veth("twlive", 201);
  const std::unique_ptr<NvrClient> nvr = StartWithVethTerminal(veth);
  ASSERT_TRUE(nvr);
  ForwardUntilReceived(
      *nvr,
      [&](int i) {
        ASSERT_EQ(veth.Run("bash -c 'printf \"datagram " + std::to_string(i) +
                           "\\n\" > /dev/udp/" + veth.LocalAddress().to_string() + "/9100'"),
                  0);
      },
      10);
  EXPECT_LT(Stop().count(), 1000);
  EXPECT_FALSE(Contains(watch.Texts(), text::FilterNotSetLine(""))) << "the prefilter was set";
}

// A capture that is not read while a burst arrives loses frames: the report
// gives their number once, and nothing while nothing is lost.
TEST(DropReportTest, ReportsFramesDroppedSinceTheLastLook) {
  if (geteuid() != 0) GTEST_SKIP() << "live capture needs root";
  const NetworkNamespace veth("tw12d", 203);
  ASSERT_TRUE(veth.Ready()) << veth.SetUpCommand();
  char errorText[PCAP_ERRBUF_SIZE];
  pcap_t* handle = pcap_create(veth.LocalLink().c_str(), errorText);
  ASSERT_NE(handle, nullptr) << errorText;
  pcap_set_snaplen(handle, 2048);
  pcap_set_buffer_size(handle, 64 * 1024);
  ASSERT_GE(pcap_activate(handle), 0) << pcap_geterr(handle);
  LogWatch watch;
  DropReport report(handle, std::chrono::steady_clock::duration::zero());

  report.Check(std::chrono::steady_clock::now());
  EXPECT_EQ(watch.Texts(), std::vector<std::string>()) << "nothing dropped yet";
  ASSERT_EQ(veth.Run("bash -c 'for i in $(seq 5000); do printf x > /dev/udp/" +
                     veth.LocalAddress().to_string() + "/9; done'"),
            0);
  report.Check(std::chrono::steady_clock::now());
  report.Check(std::chrono::steady_clock::now());
  pcap_close(handle);

  const std::vector<std::string> texts = watch.Texts();
  ASSERT_EQ(texts.size(), 1u);
  unsigned long inInterval = 0;
  unsigned long total = 0;
  char rest[64] = "";
  ASSERT_EQ(std::sscanf(texts[0].c_str(),
                        "Capture dropped %lu frames in the last minute, %lu since the capture %63s",
                        &inInterval, &total, rest),
            3)
      << texts[0];
  EXPECT_GT(inInterval, 0u);
  EXPECT_EQ(total, inInterval);
  EXPECT_STREQ(rest, "started");
}

// Sends a datagram from the namespace's end of the pair to this machine's.
void SendFromFarEnd(const NetworkNamespace& veth, const std::string& payload,
                    unsigned short port) {
  const std::string send = "bash -c 'printf \"" + payload + "\" > /dev/udp/" +
                           veth.LocalAddress().to_string() + "/" + std::to_string(port) + "'";
  EXPECT_EQ(veth.Run(send), 0) << send;
}

std::size_t CountStartingWith(const std::vector<std::string>& texts, const std::string& prefix) {
  return std::count_if(texts.begin(), texts.end(),
                       [&](const std::string& text) { return text.rfind(prefix, 0) == 0; });
}

// The adapter is deleted under a live run and created again: one line for the
// whole episode of read errors, the adapter found again by its address, the
// NVR's connection kept throughout, and a stop during an episode still prompt.
TEST_F(LiveTest, FindsARemovedAdapterAgain) {
  const NetworkNamespace veth("tw11b", 202);
  const std::string listening = ListeningLine(veth);
  const std::unique_ptr<NvrClient> nvr = StartWithVethTerminal(veth);
  ASSERT_TRUE(nvr);
  SendFromFarEnd(veth, "before\n", 9100);
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return nvr->Received() == "before\n"; }));

  ASSERT_TRUE(veth.RemoveLink());
  ASSERT_TRUE(LogContains(text::ReadErrorLine("")));
  // The metrics file, written every 15 seconds, says so meanwhile.
  const std::string metrics = textfile.Path() + "tillwire.prom";
  const auto value = [&metrics](const char* name, const MetricLabels& labels = {}) {
    return SampleValue(ReadFile(metrics), name, labels).value_or(-1);
  };
  const MetricLabels terminal{{"terminal", veth.RemoteAddress().to_string() + ":::9100"}};
  const std::chrono::seconds writes(40);
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return value("tillwire_capturing") == 0; }, writes))
      << ReadFile(metrics);
  const double framesBefore = value("tillwire_capture_frames_total");
  EXPECT_GE(framesBefore, 1);
  EXPECT_EQ(value("tillwire_terminal_forwarded_bytes_total", terminal), 7);
  EXPECT_EQ(value("tillwire_adapter_reopens_total"), 0);
  ASSERT_TRUE(veth.CreateLink());
  // Looked for every few seconds; a slow machine (a sanitizer build under
  // load) takes a while to bring the pair back.
  const std::chrono::seconds patience(30);
  ASSERT_TRUE(PollUntil(eventQueue, [&] {
    return CountStartingWith(watch.Texts(), listening) == 2;
  }, patience)) << "the adapter was not found again";
  // Its packets are forwarded to the NVR connection that stayed up.
  ASSERT_TRUE(PollUntil(eventQueue, [&] {
    SendFromFarEnd(veth, "after\n", 9100);
    return nvr->Received().find("after\n") != std::string::npos;
  }, patience));
  EXPECT_FALSE(nvr->Closed());
  EXPECT_EQ(CountStartingWith(watch.Texts(), text::ReadErrorLine("")), 1u);
  // Counted on from where they were, across the adapter's new handle.
  ASSERT_TRUE(PollUntil(eventQueue, [&] {
    return value("tillwire_capturing") == 1 &&
           value("tillwire_terminal_forwarded_bytes_total", terminal) ==
               static_cast<double>(nvr->Received().size());
  }, writes)) << ReadFile(metrics);
  EXPECT_EQ(value("tillwire_adapter_reopens_total"), 1);
  EXPECT_GT(value("tillwire_capture_frames_total"), framesBefore);
  EXPECT_EQ(value("tillwire_terminal_nvr_connected", terminal), 1);

  ASSERT_TRUE(veth.RemoveLink());
  ASSERT_TRUE(PollUntil(eventQueue, [&] {
    return CountStartingWith(watch.Texts(), text::ReadErrorLine("")) == 2;
  }));
  EXPECT_LT(Stop().count(), 1000);
  EXPECT_EQ(watch.Texts().back(), "Exiting.");
}

// A live run without an adapter to choose does not start: it logs its banner
// and hands back the failure, its line and kExitNoCaptureDevice, for the
// program's entry to log and end the process with.
TEST(LiveCapture, NoAdapterToChooseFailsToStartWithMinusThree) {
  const std::pair<const char*, const char*> cases[] = {
      {R"(<T><Network SniffAdapterAddress="203.0.113.77"><Terminal SrcAddress="1.2.3.4" NvrPort="0"/></Network></T>)",
       text::kMatchingInterfaceNotFound},
      {R"(<T><Network SniffAdapterAddress="127.000.0.1"><Terminal SrcAddress="1.2.3.4" NvrPort="0"/></Network></T>)",
       text::kMatchingInterfaceNotFound},
      {R"(<T><Network SniffAdapterAddress="127.0.0.1"/><Network><Terminal SrcAddress="1.2.3.4" NvrPort="0"/></Network></T>)",
       text::kNoAdapterAddress},
      {R"(<T><Network SniffAdapterAddress=""><Terminal SrcAddress="1.2.3.4" NvrPort="0"/></Network></T>)",
       text::kNoAdapterAddress},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    WriteProgramConfiguration(c.first);
    LogWatch watch;
    const OrStartFailure<int> outcome = RunEngine("");
    const StartFailure* failure = std::get_if<StartFailure>(&outcome);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->exitCode, kExitNoCaptureDevice);
    EXPECT_EQ(ExitStatus(failure->exitCode), 253);
    EXPECT_EQ(failure->lines, std::vector<std::string>{c.second});
    EXPECT_EQ(failure->shown, FailureShown::kLog);
    EXPECT_EQ(watch.Texts(), std::vector<std::string>{text::StartBannerLine()});
  }
}

}  // namespace
