#include "output/terminal_connection.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

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

}  // namespace
