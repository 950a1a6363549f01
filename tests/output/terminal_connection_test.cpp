#include "output/terminal_connection.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#ifndef _WIN32
#include <sys/socket.h>
#endif

namespace {

TEST(NvrPortNumber, ReadsThePortAsAtoiAndKeepsSixteenBits) {
  const std::pair<const char*, unsigned short> cases[] = {
      {"5001", 5001}, {"70000", 4464}, {"abc", 0},        {"", 0},
      {" 42x", 42},   {"+80", 80},     {"-1", 65535},     {"05001", 5001},
      {"65536", 0},   {"99999999999999999999", 65535},    {"-99999999999999999999", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(NvrPortNumber(c.first), c.second) << c.first;
}

class TerminalConnectionTest : public testing::Test {
 protected:
  std::unique_ptr<TerminalConnection> Listen(const std::string& nvrAddress,
                                             const std::string& nvrPort) {
    return std::unique_ptr<TerminalConnection>(
        new TerminalConnection(eventQueue, nvrAddress, nvrPort));
  }
  static unsigned short PortOf(const TerminalConnection& terminal) {
    return terminal.ListeningEndpoint().port();
  }
  bool PollUntil(const std::function<bool()>& done) { return ::PollUntil(eventQueue, done); }

  LogWatch watch;
  boost::asio::io_service eventQueue;
};

TEST_F(TerminalConnectionTest, AdmitsItsOwnNvrOnly) {
  const std::string port = std::to_string(FreePort());
  auto terminal = Listen("127.0.0.1", port);
  ASSERT_EQ(std::to_string(PortOf(*terminal)), port);

  NvrClient stranger(eventQueue, PortOf(*terminal), "127.0.0.2");
  ASSERT_TRUE(PollUntil([&] { return stranger.Closed(); }));
  NvrClient nvr(eventQueue, PortOf(*terminal));
  ASSERT_TRUE(PollUntil([&] { return nvr.Connected(); }));
  // While the NVR is connected, nobody else is accepted or refused.
  NvrClient second(eventQueue, PortOf(*terminal));
  NvrClient strangerAgain(eventQueue, PortOf(*terminal), "127.0.0.2");
  // They complete their handshake in the listen queue and wait there.
  EXPECT_TRUE(PollUntil([&] { return second.Connected() && strangerAgain.Connected(); }));
  EXPECT_FALSE(::PollUntil(
      eventQueue, [&] { return nvr.Closed() || second.Closed() || strangerAgain.Closed(); },
      std::chrono::milliseconds(300)));

  EXPECT_EQ(watch.Texts(), (std::vector<std::string>{
                               "Creating terminal connection: 127.0.0.1:" + port,
                               "Rejected connection from address: 127.0.0.2 on port " + port,
                               "Accepted connection from NVR address: 127.0.0.1 Port: " + port,
                           }));
}

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
  EXPECT_TRUE(terminal->Send(reinterpret_cast<const unsigned char*>("ignored"), 0));
  EXPECT_TRUE(terminal->Send(reinterpret_cast<const unsigned char*>("ignored"), -5));
  EXPECT_TRUE(Send(lineEnds));
  EXPECT_TRUE(Send(large.substr(0, 65535)));
  EXPECT_TRUE(Send(large));  // cut to its first 65535 bytes

  const std::string expected = "abcdef" + lineEnds + large.substr(0, 65535) + large.substr(0, 65535);
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
  while (::PollUntil(eventQueue, [&] { return nvr->Received().size() != lastSize; },
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
