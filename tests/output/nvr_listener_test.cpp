// The NVR listener: binding, admission of the terminal's own NVR, refusal of
// strangers within the rejection lines' bounds (accept retries, which need
// the process out of descriptors, in nvr_listener_posix_test.cpp).
#include "output/nvr_listener_fixture.h"
#include "support/socket_settings.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

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

TEST_F(NvrListenerTest, AdmitsItsOwnNvrOnly) {
  const std::string port = std::to_string(FreePort());
  auto listener = Listen("127.0.0.1", port);
  ASSERT_EQ(std::to_string(PortOf(*listener)), port);

  NvrClient stranger(eventQueue, PortOf(*listener), "127.0.0.2");
  ASSERT_TRUE(PollUntil([&] { return stranger.Closed(); }));
  NvrClient nvr(eventQueue, PortOf(*listener));
  ASSERT_TRUE(PollUntil([&] { return nvr.Connected(); }));
  // While the NVR is connected, strangers are still refused at once.
  NvrClient strangerAgain(eventQueue, PortOf(*listener), "127.0.0.2");
  NvrClient another(eventQueue, PortOf(*listener), "127.0.0.3");
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
TEST_F(NvrListenerTest, AStrangerFloodCostsAFewLinesPerTerminal) {
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
  ASSERT_TRUE(PollUntil([&] { return Admitted(*first); }));
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

TEST_F(NvrListenerTest, RefusesAStrangerEveryTimeAndLogsItOncePerTerminal) {
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

TEST_F(NvrListenerTest, EmptyNvrAddressRejectsEveryone) {
  auto listener = Listen("", "0");
  NvrClient client(eventQueue, PortOf(*listener));
  ASSERT_TRUE(PollUntil([&] { return client.Closed(); }));
  EXPECT_EQ(watch.Texts(), (std::vector<std::string>{
                               "Creating terminal connection: :0",
                               "Rejected connection from address: 127.0.0.1 on port 0",
                           }));
}

TEST_F(NvrListenerTest, PortInUseFailsOneTerminalOnly) {
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
TEST_F(NvrListenerTest, ListenerOwnsItsPort) {
  auto listener = Listen("127.0.0.1", "0");
  EXPECT_TRUE(HoldsPortAlone(listener->Handle()));

  boost::asio::ip::tcp::acceptor intruder(eventQueue, boost::asio::ip::tcp::v4());
  intruder.set_option(boost::asio::socket_base::reuse_address(true));
  boost::system::error_code error;
  intruder.bind(boost::asio::ip::tcp::endpoint(boost::asio::ip::tcp::v4(), PortOf(*listener)),
                error);
  EXPECT_TRUE(error);
}

}  // namespace
