#include "source/event_queue_wait.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <optional>

namespace tillwire {
namespace {

using Clock = std::chrono::steady_clock;

// The handlers that become ready run during the wait, which lasts until its
// deadline, or ends once the flag a handler sets is true.
TEST(ServeUntil, RunsHandlersUntilTheDeadlineOrUntilDone) {
  boost::asio::io_context eventQueue;
  const auto keepServing = boost::asio::make_work_guard(eventQueue);
  bool done = false;
  boost::asio::steady_timer timer(eventQueue, std::chrono::milliseconds(20));
  timer.async_wait([&done](const boost::system::error_code&) { done = true; });

  const auto begin = Clock::now();
  EXPECT_TRUE(ServeUntil(eventQueue, begin + std::chrono::seconds(5), &done));
  EXPECT_LT(Clock::now() - begin, std::chrono::seconds(1)) << "the flag did not end the wait";

  bool never = false;
  const auto again = Clock::now();
  EXPECT_FALSE(ServeUntil(eventQueue, again + std::chrono::milliseconds(50), &never));
  const auto took = Clock::now() - again;
  EXPECT_GE(took, std::chrono::milliseconds(50));
  EXPECT_LT(took, std::chrono::milliseconds(50) + kStopCheck);
}

// The calling thread's processor time.
std::chrono::nanoseconds ThreadTime() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// A queue that has run out of work (nothing keeps it serving) returns from
// every run at once: the wait sleeps out its steps rather than spinning.
TEST(ServeUntil, WaitsOutAQueueWithoutWorkWithoutSpinning) {
  boost::asio::io_context eventQueue;
  const auto cpuBefore = ThreadTime();
  const auto begin = Clock::now();
  EXPECT_FALSE(ServeUntil(eventQueue, begin + std::chrono::milliseconds(300)));
  EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(300));
  EXPECT_LT(ThreadTime() - cpuBefore, std::chrono::milliseconds(30));
}

// A stop request (boost::thread::interrupt) ends a long wait within kStopCheck
// with boost::thread_interrupted, on an idle queue and on one out of work.
TEST(ServeUntil, EndsWithTheInterruptionSoonAfterAStop) {
  for (const bool withWork : {true, false}) {
    SCOPED_TRACE(withWork ? "idle queue" : "queue out of work");
    std::atomic<bool> interrupted{false};
    std::atomic<bool> waiting{false};
    boost::thread waiter([&] {
      boost::asio::io_context eventQueue;
      std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
          keepServing;
      if (withWork) keepServing.emplace(eventQueue.get_executor());
      waiting = true;
      try {
        ServeUntil(eventQueue, Clock::now() + std::chrono::seconds(30));
      } catch (const boost::thread_interrupted&) {
        interrupted = true;
      }
    });
    while (!waiting) boost::this_thread::yield();
    const auto begin = Clock::now();
    waiter.interrupt();
    waiter.join();
    EXPECT_TRUE(interrupted);
    EXPECT_LT(Clock::now() - begin, kStopCheck * 3);
  }
}

}  // namespace
}  // namespace tillwire
