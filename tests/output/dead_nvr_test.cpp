// NVRs that drop off the network without a word, as in a power cut: an NVR in
// a network namespace of the test's own whose link is taken down (needs root,
// skipped otherwise); and the limits after which the system gives up one that
// never comes back (Linux).
#include "output/dead_peer_detection.h"
#include "output/terminal_connection.h"
#include "support/log_watch.h"
#include "support/network_namespace.h"
#include "support/nvr_client.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tillwire;

namespace {

using Clock = std::chrono::steady_clock;

class DeadNvrTest : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
  }
  std::unique_ptr<TerminalConnection> Listen(const NetworkNamespace& nvrHost, const char* port) {
    return std::unique_ptr<TerminalConnection>(
        new TerminalConnection(eventQueue, nvrHost.RemoteAddress().to_string(), port,
                               rejectionLines));
  }
  std::unique_ptr<NvrClient> Connect(const NetworkNamespace& nvrHost,
                                     const TerminalConnection& terminal) {
    std::unique_ptr<NvrClient> nvr(
        new NvrClient(eventQueue, nvrHost.OpenSocket(),
                      {nvrHost.LocalAddress(), terminal.ListeningEndpoint().port()}));
    EXPECT_TRUE(PollUntil(eventQueue, [&] { return nvr->Connected(); }));
    return nvr;
  }
  static bool Admitted(TerminalConnection& terminal) {
    return terminal.Send(reinterpret_cast<const unsigned char*>(""), 0);
  }
  void SendReceipt(TerminalConnection& terminal) {
    const std::string receipt = "receipt " + std::to_string(receipts++) + "\n";
    terminal.Send(reinterpret_cast<const unsigned char*>(receipt.data()),
                  static_cast<int>(receipt.size()));
  }
  bool WriteFailed(const std::string& port) const {
    for (const std::string& text : watch.Texts()) {
      if (text.find(":" + port + " Write failed: ") != std::string::npos) return true;
    }
    return false;
  }

  LogWatch watch;
  boost::asio::io_context eventQueue;
  RejectionQuota rejectionLines{eventQueue};
  int receipts = 0;
};

// The comeback: a new connection from the NVR's address is served at once,
// although the old one still looks alive to the system, and long before the
// old one could be given up as dead.
TEST_F(DeadNvrTest, ANvrThatComesBackIsServedAtOnce) {
  const NetworkNamespace returning("tw11r", 211);
  auto comesBack = Listen(returning, "0back");
  auto returningNvr = Connect(returning, *comesBack);
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return Admitted(*comesBack); }));
  SendReceipt(*comesBack);
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return !returningNvr->Received().empty(); }));

  // Power off: the link goes down, and the NVR forgets its connection.
  returning.SetLinkUp(false);
  returningNvr->Reset();
  // Long enough for the retransmissions to the dead NVR to space out by seconds.
  const auto outage = std::chrono::seconds(7);
  PollUntil(
      eventQueue,
      [&] {
        SendReceipt(*comesBack);
        return false;
      },
      outage);

  returning.SetLinkUp(true);
  auto cameBack = Connect(returning, *comesBack);
  const auto back = Clock::now();
  ASSERT_TRUE(PollUntil(eventQueue, [&] {
    SendReceipt(*comesBack);
    return !cameBack->Received().empty();
  }));
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - back);
  EXPECT_LT(wait.count(), 2000) << "not served at once";
  EXPECT_EQ(cameBack->Received().rfind("receipt ", 0), 0u) << "starts mid-receipt";
  EXPECT_FALSE(WriteFailed("0back"));
}

int TcpOption(int handle, int name) {
  int value = -1;
  socklen_t size = sizeof value;
  EXPECT_EQ(getsockopt(handle, IPPROTO_TCP, name, &value, &size), 0) << "option " << name;
  return value;
}

// A dead NVR that never comes back is given up by the system: the connection
// carries keep-alive, whose probes end an idle connection to a silent peer at
// kDeadPeerTimeout, and a user time-out that ends one whose sent bytes stay
// unacknowledged, or whose window stays shut, as long. Waiting minutes for
// the system to act on them would show the system's TCP rather than ours.
TEST(DeadPeerLimits, TheNvrConnectionGivesUpASilentPeerAfterMinutes) {
  boost::asio::io_context eventQueue;
  RejectionQuota rejectionLines(eventQueue);
  TerminalConnection terminal(eventQueue, "127.0.0.1", "0", rejectionLines);
  NvrClient nvr(eventQueue, terminal.ListeningEndpoint().port());
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return terminal.ConnectionHandle().has_value(); }));
  const int handle = *terminal.ConnectionHandle();

  int keepAlive = 0;
  socklen_t size = sizeof keepAlive;
  ASSERT_EQ(getsockopt(handle, SOL_SOCKET, SO_KEEPALIVE, &keepAlive, &size), 0);
  EXPECT_NE(keepAlive, 0);
  const int idle = TcpOption(handle, TCP_KEEPIDLE);
  const int interval = TcpOption(handle, TCP_KEEPINTVL);
  const int probes = TcpOption(handle, TCP_KEEPCNT);
  EXPECT_EQ(idle, std::chrono::seconds(kKeepAliveIdle).count());
  EXPECT_GT(probes, 1) << "one lost probe must not end a connection";
  EXPECT_EQ(idle + interval * probes, std::chrono::seconds(kDeadPeerTimeout).count());
  EXPECT_EQ(TcpOption(handle, TCP_USER_TIMEOUT),
            std::chrono::milliseconds(kDeadPeerTimeout).count());
}

}  // namespace
