#include "source/event_queue_wait.h"

#include <boost/thread/thread.hpp>

#include <algorithm>
#include <thread>

namespace tillwire {

bool ServeUntil(boost::asio::io_context& eventQueue, std::chrono::steady_clock::time_point deadline,
                const bool* done) {
  for (;;) {
    if (done != nullptr && *done) return true;
    boost::this_thread::interruption_point();
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    const auto stepEnd = std::min(deadline, now + kStopCheck);
    // A queue that ran out of work returns at once: the step is waited out
    // without it rather than spun.
    if (eventQueue.run_one_until(stepEnd) == 0 && eventQueue.stopped()) {
      std::this_thread::sleep_until(stepEnd);
    }
  }
}

}  // namespace tillwire
