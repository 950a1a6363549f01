// Waiting for something that another thread or process does, with a deadline.
#ifndef TILLWIRE_TESTS_SUPPORT_WAIT_UNTIL_H
#define TILLWIRE_TESTS_SUPPORT_WAIT_UNTIL_H

#include <chrono>
#include <thread>

namespace tillwire {

// Looks at done() every few milliseconds until it holds or the time is up;
// returns done().
template <typename Done>
bool WaitUntil(Done done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace tillwire

#endif
