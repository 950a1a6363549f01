// The rejection lines' bounds, with limits small enough to see them work.
#include "output/rejection_log.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"

#include <gtest/gtest.h>

using namespace tillwire;

namespace {

TEST(RejectionLog, LogsFewLinesCountsTheRestAndRemembersBoundedly) {
  LogWatch watch;
  boost::asio::io_service eventQueue;
  const boost::asio::io_service::work keepServing(eventQueue);
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
    RejectionLog log(eventQueue, "5001", RejectionLimits{kRemembered, 2, std::chrono::seconds(1)});
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

}  // namespace
