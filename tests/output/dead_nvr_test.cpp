// NVRs that drop off the network without a word, as in a power cut: an NVR in
// a network namespace of the test's own whose link is taken down. Needs root
// (Linux); skipped otherwise.
#include "output/dead_peer_detection.h"
#include "output/terminal_connection.h"
#include "support/log_watch.h"
#include "support/network_namespace.h"
#include "support/nvr_client.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <sstream>

using namespace tillwire;

namespace {

using Clock = std::chrono::steady_clock;

// Whether the system holds an established TCP connection on this local port.
bool Established(unsigned short localPort) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (std::stoul(local.substr(local.find(':') + 1), nullptr, 16) == localPort && state == "01") {
      return true;
    }
  }
  return false;
}

class DeadNvrTest : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
  }
  std::unique_ptr<TerminalConnection> Listen(const NetworkNamespace& nvrHost, const char* port) {
    return std::unique_ptr<TerminalConnection>(
        new TerminalConnection(eventQueue, nvrHost.RemoteAddress().to_string(), port));
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
  boost::asio::io_service eventQueue;
  int receipts = 0;
};

// The comeback: a new connection from the NVR's address is served at once,
// although the old one still looks alive to the system. The dead connections
// of an NVR that stays away are given up after about kDeadPeerTimeout, with
// receipts under way and without.
TEST_F(DeadNvrTest, ANvrThatComesBackIsServedAtOnceAndOneThatDoesNotIsGivenUp) {
  const NetworkNamespace returning("tw11r", 211);
  const NetworkNamespace gone("tw11g", 212);
  auto comesBack = Listen(returning, "0back");
  auto busy = Listen(gone, "0busy");
  auto idle = Listen(gone, "0idle");
  auto returningNvr = Connect(returning, *comesBack);
  auto busyNvr = Connect(gone, *busy);
  auto idleNvr = Connect(gone, *idle);
  ASSERT_TRUE(PollUntil(
      eventQueue, [&] { return Admitted(*comesBack) && Admitted(*busy) && Admitted(*idle); }));
  SendReceipt(*comesBack);
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return !returningNvr->Received().empty(); }));

  // Power off: the links go down, and the returning NVR forgets its connection.
  returning.SetLinkUp(false);
  gone.SetLinkUp(false);
  returningNvr->Reset();
  const auto off = Clock::now();
  // Long enough for the retransmissions to the dead NVRs to space out by seconds.
  const auto outage = std::chrono::seconds(7);
  PollUntil(
      eventQueue,
      [&] {
        SendReceipt(*comesBack);
        SendReceipt(*busy);
        return false;
      },
      outage);

  returning.SetLinkUp(true);
  auto cameBack = Connect(returning, *comesBack);
  const auto back = Clock::now();
  ASSERT_TRUE(PollUntil(eventQueue, [&] {
    SendReceipt(*comesBack);
    SendReceipt(*busy);
    return !cameBack->Received().empty();
  }));
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - back);
  EXPECT_LT(wait.count(), 2000) << "not served at once";
  EXPECT_EQ(cameBack->Received().rfind("receipt ", 0), 0u) << "starts mid-receipt";

  const auto deadline = off + kDeadPeerTimeout + std::chrono::seconds(10);
  const auto remaining = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  };
  ASSERT_TRUE(PollUntil(
      eventQueue,
      [&] {
        SendReceipt(*busy);
        return WriteFailed("0busy");
      },
      remaining()));
  const unsigned short idlePort = idle->ListeningEndpoint().port();
  ASSERT_TRUE(PollUntil(
      eventQueue, [&] { return !Established(idlePort); }, remaining()));
  // Its end is known: the next receipt fails at once, and the terminal waits
  // for its NVR again.
  SendReceipt(*idle);
  ASSERT_TRUE(PollUntil(
      eventQueue, [&] { return WriteFailed("0idle"); }, std::chrono::seconds(2)));
  EXPECT_FALSE(Admitted(*idle));
  EXPECT_FALSE(WriteFailed("0back"));
}

}  // namespace
