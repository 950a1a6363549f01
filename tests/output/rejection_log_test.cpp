// The rejection lines' bounds, with limits small enough to see them work.
#include "output/rejection_log.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

using namespace tillwire;

namespace {

TEST(RejectionLog, LogsFewLinesCountsTheRestAndRemembersBoundedly) {
  LogWatch watch;
  boost::asio::io_context eventQueue;
  const auto keepServing = boost::asio::make_work_guard(eventQueue);
  const std::size_t kRemembered = 3;
  std::vector<std::string> expected;
  const auto line = [](const std::string& address) {
    return "Rejected connection from address: " + address + " on port 5001";
  };
  const auto count = [](int refused) {
    return "Rejected connections not logged one by one: " + std::to_string(refused) +
           " on port 5001";
  };
  // Waits for the count that ends the period.
  const auto periodEnds = [&](int refused) {
    expected.push_back(count(refused));
    return PollUntil(eventQueue, [&] { return watch.Texts().size() == expected.size(); });
  };
  {
    RejectionQuota allTerminals(eventQueue);
    RejectionLog log(eventQueue, "5001", allTerminals,
                     RejectionLimits{kRemembered, 2, std::chrono::seconds(1)});
    for (const char* address : {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.3",
                                "10.0.0.1"}) {
      log.Rejected(address);
    }
    expected = {line("10.0.0.1"), line("10.0.0.2")};  // .3, .4, .3 counted; .1 reported before
    ASSERT_TRUE(periodEnds(3));

    // .3 fills the memory; .4 is logged but not remembered.
    for (const char* address : {"10.0.0.3", "10.0.0.4", "10.0.0.5", "10.0.0.4"}) {
      log.Rejected(address);
    }
    expected.push_back(line("10.0.0.3"));
    expected.push_back(line("10.0.0.4"));
    ASSERT_TRUE(periodEnds(2));

    for (const char* address : {"10.0.0.4", "10.0.0.3", "10.0.0.5", "10.0.0.6"}) {
      log.Rejected(address);
    }
    expected.push_back(line("10.0.0.4"));  // again: it was not remembered
    expected.push_back(line("10.0.0.5"));
    EXPECT_EQ(watch.Texts(), expected);
  }
  expected.push_back(count(1));  // .6, counted when the terminal closes
  EXPECT_EQ(watch.Texts(), expected);
}

// What a stretch of the log says about refusals: the lines one by one, and
// the refusals that the count lines report, for one port or for all ports.
struct RejectionTally {
  explicit RejectionTally(const std::vector<std::string>& texts) {
    const std::regex count("Rejected connections not logged one by one: ([0-9]+) on (.*)");
    std::smatch match;
    for (const std::string& text : texts) {
      if (text.rfind("Rejected connection from address: ", 0) == 0) {
        ++lines;
      } else if (std::regex_match(text, match, count)) {
        (match[2] == "all ports" ? countedForAll : countedPerPort) += std::stoi(match[1]);
      } else {
        ADD_FAILURE() << "unexpected line: " << text;
      }
    }
  }
  int lines = 0;
  int countedPerPort = 0;
  int countedForAll = 0;
};

// Strangers at many terminals at once: the rejection lines of all terminals
// together stay within the shared bound in each period, each terminal's
// within its own, and every refusal is either logged or counted.
TEST(RejectionLog, ManyTerminalsShareOneBoundAndEveryRefusalIsLoggedOrCounted) {
  boost::asio::io_context eventQueue;
  const auto keepServing = boost::asio::make_work_guard(eventQueue);
  const int kInAll = 5;
  const int kPerTerminal = 3;
  const int kTerminals = 20;
  const int kStrangers = 4;
  const auto period = std::chrono::seconds(1);
  const LogWatch whole;
  {
    RejectionQuota allTerminals(eventQueue, kInAll, period);
    std::vector<std::unique_ptr<RejectionLog>> logs;
    for (int t = 0; t < kTerminals; ++t) {
      logs.emplace_back(new RejectionLog(eventQueue, std::to_string(5000 + t), allTerminals,
                                         RejectionLimits{1024, kPerTerminal, period}));
    }
    // Floods of strangers new to every terminal: two that last a period each,
    // and one that the end of the run cuts short.
    for (int flood = 0; flood < 3; ++flood) {
      SCOPED_TRACE(flood);
      LogWatch watch;
      for (int t = 0; t < kTerminals; ++t) {
        for (int n = 0; n < kStrangers; ++n) {
          logs[static_cast<std::size_t>(t)]->Rejected("10." + std::to_string(flood) + "." +
                                                      std::to_string(t) + "." +
                                                      std::to_string(n));
        }
      }
      // The first terminal fills its own bound, the second the rest of the
      // shared one.
      EXPECT_EQ(RejectionTally(watch.Texts()).lines, kInAll);
      if (flood == 2) break;
      // The period ends with the counts: the first terminal's own, and one
      // for all ports.
      ASSERT_TRUE(PollUntil(eventQueue, [&] { return watch.Texts().size() == kInAll + 2; }));
      const RejectionTally tally(watch.Texts());
      EXPECT_EQ(tally.countedPerPort, kStrangers - kPerTerminal);
      EXPECT_EQ(tally.countedForAll, kTerminals * kStrangers - kInAll - tally.countedPerPort);
    }
  }
  const RejectionTally tally(whole.Texts());
  EXPECT_EQ(tally.lines, 3 * kInAll);
  EXPECT_EQ(tally.lines + tally.countedPerPort + tally.countedForAll,
            3 * kTerminals * kStrangers);
}

}  // namespace
