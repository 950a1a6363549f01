// The run's one way to wait: serve the event queue (accepts, finished
// writes, timers, the capture descriptor's readiness) until a deadline,
// looking for a stop request meanwhile.
#ifndef TILLWIRE_SOURCE_EVENT_QUEUE_WAIT_H
#define TILLWIRE_SOURCE_EVENT_QUEUE_WAIT_H

#include <boost/asio/io_context.hpp>

#include <chrono>

namespace tillwire {

// The longest a wait goes without looking for a stop request.
inline constexpr std::chrono::milliseconds kStopCheck{100};

// Runs the event queue's handlers as they become ready until deadline, or
// until *done (when given) is true after a handler ran; looks for a stop
// request (boost::this_thread::interruption_point) before each handler and at
// least every kStopCheck, and raises boost::thread_interrupted on one. A
// queue that has run out of work is waited out, not spun on. Returns whether
// *done became true.
bool ServeUntil(boost::asio::io_context& eventQueue, std::chrono::steady_clock::time_point deadline,
                const bool* done = nullptr);

}  // namespace tillwire

#endif
