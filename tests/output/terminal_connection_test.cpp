#include "output/terminal_connection.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <memory>
#include <vector>

#ifndef _WIN32
#include <sys/socket.h>
#endif

using namespace tillwire;

namespace {

TEST(NvrPortNumber, ReadsThePortAsAtoiAndKeepsSixteenBits) {
  const std::pair<const char*, unsigned short> cases[] = {
      {"5001", 5001},
      {"70000", 4464},
      {"abc", 0},
      {"", 0},
      {" 42x", 42},
      {"+80", 80},
      {"-1", 65535},
      {"05001", 5001},
      {"65536", 0},
      {"99999999999999999999", 65535},
      {"-99999999999999999999", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(NvrPortNumber(c.first), c.second) << c.first;
}

class TerminalConnectionTest : public testing::Test {
 protected:
  std::unique_ptr<TerminalConnection> Listen(const std::string& nvrAddress,
                                             const std::string& nvrPort) {
    return std::unique_ptr<TerminalConnection>(
        new TerminalConnection(eventQueue, nvrAddress, nvrPort, rejectionLines));
  }
  static unsigned short PortOf(const TerminalConnection& terminal) {
    return terminal.ListeningEndpoint().port();
  }
  bool PollUntil(const std::function<bool()>& done) {
    return tillwire::PollUntil(eventQueue, done);
  }

  LogWatch watch;
  boost::asio::io_service eventQueue;
  RejectionQuota rejectionLines{eventQueue};
};

TEST_F(TerminalConnectionTest, AdmitsItsOwnNvrOnly) {
  const std::string port = std::to_string(FreePort());
  auto terminal = Listen("127.0.0.1", port);
  ASSERT_EQ(std::to_string(PortOf(*terminal)), port);

  NvrClient stranger(eventQueue, PortOf(*terminal), "127.0.0.2");
  ASSERT_TRUE(PollUntil([&] { return stranger.Closed(); }));
  NvrClient nvr(eventQueue, PortOf(*terminal));
  ASSERT_TRUE(PollUntil([&] { return nvr.Connected(); }));
  // While the NVR is connected, strangers are still refused at once.
  NvrClient strangerAgain(eventQueue, PortOf(*terminal), "127.0.0.2");
  NvrClient another(eventQueue, PortOf(*terminal), "127.0.0.3");
  EXPECT_TRUE(PollUntil([&] { return strangerAgain.Closed() && another.Closed(); }));
  EXPECT_FALSE(nvr.Closed());

  EXPECT_EQ(watch.Texts(), (std::vector<std::string>{
                               "Creating terminal connection: 127.0.0.1:" + port,
                               "Rejected connection from address: 127.0.0.2 on port " + port,
                               "Accepted connection from NVR address: 127.0.0.1 Port: " + port,
                               "Rejected connection from address: 127.0.0.3 on port " + port,
                           }));
}

// Strangers from many addresses: each terminal logs a few of them one by one
// and counts the rest, and keeps serving its NVR.
TEST_F(TerminalConnectionTest, AStrangerFloodCostsAFewLinesPerTerminal) {
  auto first = Listen("127.0.0.1", "0first");
  auto second = Listen("127.0.0.1", "0second");
  const int strangers = 600;
  const int batch = 100;
  for (int n = 0; n < strangers; n += batch) {
    std::vector<std::unique_ptr<NvrClient>> clients;
    for (int k = n; k < n + batch; ++k) {
      const std::string address =
          "127.1." + std::to_string(k / 200) + "." + std::to_string(k % 200 + 1);
      clients.emplace_back(new NvrClient(eventQueue, PortOf(*first), address));
      clients.emplace_back(new NvrClient(eventQueue, PortOf(*second), address));
    }
    ASSERT_TRUE(PollUntil([&] {
      return std::all_of(clients.begin(), clients.end(), [](const auto& c) { return c->Closed(); });
    }));
  }
  NvrClient nvr(eventQueue, PortOf(*first));
  ASSERT_TRUE(
      PollUntil([&] { return first->Send(reinterpret_cast<const unsigned char*>(""), 0); }));
  first.reset();
  second.reset();

  const RejectionLimits limits;
  for (const std::string port : {"0first", "0second"}) {
    SCOPED_TRACE(port);
    std::vector<std::string> rejections;
    for (const std::string& text : watch.Texts()) {
      if (text.rfind("Rejected connection", 0) == 0 && text.size() > port.size() &&
          text.compare(text.size() - port.size() - 1, std::string::npos, " " + port) == 0) {
        rejections.push_back(text);
      }
    }
    ASSERT_EQ(rejections.size(), static_cast<std::size_t>(limits.linesPerPeriod) + 1);
    EXPECT_EQ(rejections.front(), "Rejected connection from address: 127.1.0.1 on port " + port);
    EXPECT_EQ(rejections.back(), "Rejected connections not logged one by one: " +
                                     std::to_string(strangers - limits.linesPerPeriod) +
                                     " on port " + port);
  }
}

#ifndef _WIN32
// Holds every descriptor the process may still open, under a lowered limit,
// until released.
class DescriptorExhaustion {
 public:
  DescriptorExhaustion() {
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit lowered = saved;
    lowered.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 512);
    setrlimit(RLIMIT_NOFILE, &lowered);
    for (int held = open("/dev/null", O_RDONLY); held >= 0; held = open("/dev/null", O_RDONLY)) {
      descriptors.push_back(held);
    }
  }
  ~DescriptorExhaustion() { Release(); }
  void Release() {
    for (int held : descriptors) close(held);
    descriptors.clear();
    setrlimit(RLIMIT_NOFILE, &saved);
  }

 private:
  rlimit saved;
  std::vector<int> descriptors;
};

// Out of descriptors, accepting fails; the terminal keeps trying and takes its
// NVR once descriptors are free again, with one line for the whole episode.
TEST_F(TerminalConnectionTest, AcceptsAgainOnceDescriptorsAreFree) {
  auto terminal = Listen("127.0.0.1", "0");
  const auto admitted = [&] {
    return terminal->Send(reinterpret_cast<const unsigned char*>(""), 0);
  };
  // The NVR's socket is opened first; the accept is tried only when polled.
  NvrClient nvr(eventQueue, PortOf(*terminal));
  DescriptorExhaustion exhaustion;
  // Several pauses' worth of failed tries.
  EXPECT_FALSE(tillwire::PollUntil(eventQueue, admitted, 3 * AcceptRetry::kPause));
  exhaustion.Release();
  ASSERT_TRUE(PollUntil(admitted));

  EXPECT_EQ(watch.Texts(),
            (std::vector<std::string>{
                "Creating terminal connection: 127.0.0.1:0",
                "Terminal port 0 Accept failed for now, retrying: " +
                    boost::system::error_code(EMFILE, boost::system::system_category()).message(),
                "Accepted connection from NVR address: 127.0.0.1 Port: 0",
            }));
}
#endif

TEST_F(TerminalConnectionTest, RefusesAStrangerEveryTimeAndLogsItOncePerTerminal) {
  auto first = Listen("127.0.0.1", "abc");
  auto second = Listen("127.0.0.1", "0");
  ASSERT_NE(PortOf(*first), 0);
  for (int attempt = 0; attempt < 10; ++attempt) {
    NvrClient toFirst(eventQueue, PortOf(*first), "127.0.0.2");
    NvrClient toSecond(eventQueue, PortOf(*second), "127.0.0.2");
    ASSERT_TRUE(PollUntil([&] { return toFirst.Closed() && toSecond.Closed(); }));
    EXPECT_EQ(toFirst.Received(), "");
  }
  NvrClient nvr(eventQueue, PortOf(*first));
  ASSERT_TRUE(PollUntil([&] { return nvr.Connected(); }));

  const std::string firstPort = std::to_string(PortOf(*first));
  const std::string secondPort = std::to_string(PortOf(*second));
  EXPECT_EQ(watch.Texts(), (std::vector<std::string>{
                               "Creating terminal connection: 127.0.0.1:abc",
                               "Creating terminal connection: 127.0.0.1:0",
                               "Rejected connection from address: 127.0.0.2 on port abc",
                               "Rejected connection from address: 127.0.0.2 on port 0",
                               "Accepted connection from NVR address: 127.0.0.1 Port: abc",
                           }));
}

TEST_F(TerminalConnectionTest, EmptyNvrAddressRejectsEveryone) {
  auto terminal = Listen("", "0");
  NvrClient client(eventQueue, PortOf(*terminal));
  ASSERT_TRUE(PollUntil([&] { return client.Closed(); }));
  EXPECT_EQ(watch.Texts(), (std::vector<std::string>{
                               "Creating terminal connection: :0",
                               "Rejected connection from address: 127.0.0.1 on port 0",
                           }));
}

TEST_F(TerminalConnectionTest, PortInUseFailsOneTerminalOnly) {
  const unsigned short port = FreePort();
  boost::asio::ip::tcp::acceptor occupant(
      eventQueue, boost::asio::ip::tcp::endpoint(boost::asio::ip::tcp::v4(), port));
  auto blocked = Listen("127.0.0.1", std::to_string(port));
  auto working = Listen("127.0.0.1", "0");
  EXPECT_EQ(PortOf(*blocked), 0);

  NvrClient nvr(eventQueue, PortOf(*working));
  ASSERT_TRUE(PollUntil([&] { return nvr.Connected(); }));
  const std::vector<std::string> texts = watch.Texts();
  ASSERT_EQ(texts.size(), 4u);
  const std::string failure = "Acceptor bind failed: Port " + std::to_string(port) + " Error: ";
  EXPECT_EQ(texts[1].substr(0, failure.size()), failure);
  EXPECT_GT(texts[1].size(), failure.size());
  EXPECT_EQ(texts[3], "Accepted connection from NVR address: 127.0.0.1 Port: 0");
}

// Another program cannot take a terminal's NVR connections by binding its
// port: the listener is exclusive on Windows, where SO_REUSEADDR would let a
// second socket bind the port; elsewhere address reuse, which never does,
// stays on.
TEST_F(TerminalConnectionTest, ListenerOwnsItsPort) {
  auto terminal = Listen("127.0.0.1", "0");
#ifdef _WIN32
  const int option = SO_EXCLUSIVEADDRUSE;
  int size = sizeof(int);
#else
  const int option = SO_REUSEADDR;
  socklen_t size = sizeof(int);
#endif
  int value = 0;
  ASSERT_EQ(getsockopt(terminal->ListenerHandle(), SOL_SOCKET, option,
                       reinterpret_cast<char*>(&value), &size),
            0);
  EXPECT_NE(value, 0);

  boost::asio::ip::tcp::acceptor intruder(eventQueue, boost::asio::ip::tcp::v4());
  intruder.set_option(boost::asio::socket_base::reuse_address(true));
  boost::system::error_code error;
  intruder.bind(boost::asio::ip::tcp::endpoint(boost::asio::ip::tcp::v4(), PortOf(*terminal)),
                error);
  EXPECT_TRUE(error);
}

}  // namespace

namespace {

class SendTest : public TerminalConnectionTest {
 protected:
  void SetUp() override {
    port = std::to_string(FreePort());
    terminal = Listen("127.0.0.1", port);
  }
  std::unique_ptr<NvrClient> Connect(bool readAtOnce = true) {
    std::unique_ptr<NvrClient> nvr(
        new NvrClient(eventQueue, PortOf(*terminal), "127.0.0.1", readAtOnce));
    const LogWatch accepted;
    EXPECT_TRUE(PollUntil([&] { return !accepted.Texts().empty(); }));
    return nvr;
  }
  bool Send(const std::string& bytes) {
    return terminal->Send(reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  }
  std::size_t Count(const std::string& prefix) const {
    std::size_t count = 0;
    for (const std::string& text : watch.Texts()) count += text.rfind(prefix, 0) == 0;
    return count;
  }

  std::unique_ptr<TerminalConnection> terminal;
  std::string port;
};

TEST_F(SendTest, WithoutAnNvrEveryPayloadIsDroppedSilently) {
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(Send("dropped"));
  auto nvr = Connect();
  EXPECT_TRUE(Send("first"));
  ASSERT_TRUE(PollUntil([&] { return nvr->Received().size() == 5; }));
  EXPECT_EQ(nvr->Received(), "first");
  EXPECT_EQ(watch.Texts().size(), 2u) << "creation and acceptance only";
}

TEST_F(SendTest, PayloadsArriveUnchangedAndInOrder) {
  auto nvr = Connect();
  std::string large(70000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + i / 256);
  const std::string lineEnds("\r\n\0\n\r", 5);

  EXPECT_TRUE(Send("abc"));
  EXPECT_TRUE(Send("de"));
  EXPECT_TRUE(Send("f"));
  EXPECT_EQ(terminal->WaitingBytes(), 6u) << "payloads gather until the event queue is served";
  EXPECT_TRUE(terminal->Send(reinterpret_cast<const unsigned char*>("ignored"), 0));
  EXPECT_TRUE(terminal->Send(reinterpret_cast<const unsigned char*>("ignored"), -5));
  EXPECT_TRUE(Send(lineEnds));
  EXPECT_TRUE(Send(large.substr(0, 65535)));
  EXPECT_TRUE(Send(large));  // cut to its first 65535 bytes

  const std::string expected =
      "abcdef" + lineEnds + large.substr(0, 65535) + large.substr(0, 65535);
  ASSERT_TRUE(PollUntil([&] { return nvr->Received().size() >= expected.size(); }));
  EXPECT_TRUE(nvr->Received() == expected);
}

TEST_F(SendTest, AResetNvrIsLoggedOnceAndAcceptedAgain) {
  auto nvr = Connect();
  nvr->Reset();
  const std::string failure = "Terminal port 127.0.0.1:" + port + " Write failed: ";
  ASSERT_TRUE(PollUntil([&] {
    Send("lost");
    return Count(failure) > 0;
  }));
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(Send("lost while waiting"));

  auto again = Connect();
  EXPECT_TRUE(Send("fresh"));
  ASSERT_TRUE(PollUntil([&] { return again->Received().size() >= 5; }));
  EXPECT_EQ(again->Received(), "fresh");
  EXPECT_EQ(Count(failure), 1u);
  EXPECT_EQ(Count("Accepted connection from NVR address: 127.0.0.1 Port: " + port), 2u);
}

// An NVR that stops reading costs bounded memory and one log line; when it
// reads again it gets whole payloads in their order, with none changed.
TEST_F(SendTest, ASlowNvrLosesWholePayloadsOnly) {
  auto nvr = Connect(false);
  const int payloads = 400;
  const std::size_t size = 50000;
  const auto payload = [size](int n) {
    std::string bytes(size, static_cast<char>('A' + n % 26));
    bytes.replace(0, 8, std::to_string(10000000 + n));
    return bytes;
  };
  for (int n = 0; n < payloads; ++n) {
    EXPECT_TRUE(Send(payload(n)));
    eventQueue.poll();
    eventQueue.restart();
  }
  EXPECT_EQ(Count("Terminal port 127.0.0.1:" + port +
                  " NVR is not keeping up: dropping payloads until it catches up"),
            1u);

  nvr->StartReading();
  std::size_t lastSize = 0;
  // Drained when the stream stops growing for a while; then sending resumes.
  while (tillwire::PollUntil(
      eventQueue, [&] { return nvr->Received().size() != lastSize; },
      std::chrono::milliseconds(500))) {
    lastSize = nvr->Received().size();
  }
  EXPECT_TRUE(Send(payload(payloads)));
  ASSERT_TRUE(PollUntil([&] { return nvr->Received().size() == lastSize + size; }));
  const std::string& received = nvr->Received();
  ASSERT_EQ(received.size() % size, 0u);
  ASSERT_LT(received.size(), payloads * size) << "some payloads were dropped";
  int previous = -1;
  for (std::size_t offset = 0; offset < received.size(); offset += size) {
    const int n = std::stoi(received.substr(offset, 8)) - 10000000;
    ASSERT_GT(n, previous);
    ASSERT_EQ(received.compare(offset, size, payload(n)), 0) << "payload " << n;
    previous = n;
  }
  EXPECT_EQ(previous, payloads);
}

// An NVR that restarted connects again while its old connection still looks
// alive: the new connection replaces it at once and starts at the beginning
// of a payload; what was under way to the old one is not sent to the new one.
TEST_F(SendTest, TheNvrsNewConnectionReplacesTheOldOne) {
  auto old = Connect(false);
  const std::string payload(50000, 'o');
  // Until the system's buffers are full and payloads wait behind a write.
  for (int n = 0; n < 400; ++n) {
    EXPECT_TRUE(Send(payload));
    eventQueue.poll();
    eventQueue.restart();
    if (terminal->WaitingBytes() > 0) break;
  }
  ASSERT_GT(terminal->WaitingBytes(), 0u);

  auto fresh = Connect();
  EXPECT_TRUE(Send("fresh"));
  ASSERT_TRUE(PollUntil([&] { return fresh->Received().size() >= 5; }));
  EXPECT_EQ(fresh->Received(), "fresh");
  old->StartReading();
  ASSERT_TRUE(PollUntil([&] { return old->Closed(); })) << "the old connection is still open";
  EXPECT_EQ(old->Received().find("fresh"), std::string::npos);

  EXPECT_EQ(Count("Terminal port 127.0.0.1:" + port +
                  " NVR connected again: closing its previous connection"),
            1u);
  EXPECT_EQ(Count("Accepted connection from NVR address: 127.0.0.1 Port: " + port), 2u);
  EXPECT_EQ(Count("Terminal port 127.0.0.1:" + port + " Write failed: "), 0u);
}

TEST_F(SendTest, OneTerminalsFailureLeavesTheOthersAlone) {
  auto other = Listen("127.0.0.1", "0");
  NvrClient otherNvr(eventQueue, PortOf(*other));
  auto nvr = Connect();
  ASSERT_TRUE(PollUntil([&] { return otherNvr.Connected(); }));
  nvr->Reset();
  std::string expected;
  ASSERT_TRUE(PollUntil([&] {
    Send("to the reset NVR");
    const std::string next = std::to_string(expected.size()) + ";";
    expected += next;
    other->Send(reinterpret_cast<const unsigned char*>(next.data()), static_cast<int>(next.size()));
    return Count("Terminal port 127.0.0.1:" + port + " Write failed: ") > 0;
  }));
  ASSERT_TRUE(PollUntil([&] { return otherNvr.Received().size() == expected.size(); }));
  EXPECT_EQ(otherNvr.Received(), expected);
  EXPECT_FALSE(otherNvr.Closed());
}

}  // namespace
