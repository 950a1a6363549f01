// The path of a terminal's payloads to its NVR: the sessions' writes, queue
// bound and write failures, and the replacement of a reconnecting NVR's
// connection, through the object that the engine holds per terminal.
#include "output/terminal_connection.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

using namespace tillwire;

namespace {

class SendTest : public testing::Test {
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

  LogWatch watch;
  boost::asio::io_context eventQueue;
  RejectionQuota rejectionLines{eventQueue};
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
