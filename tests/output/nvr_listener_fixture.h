// The NVR listener's tests: listeners made on an event queue of their own,
// and the log's lines written since the test began.
#ifndef TILLWIRE_TESTS_OUTPUT_NVR_LISTENER_FIXTURE_H
#define TILLWIRE_TESTS_OUTPUT_NVR_LISTENER_FIXTURE_H

#include "output/nvr_listener.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace tillwire {

class NvrListenerTest : public testing::Test {
 protected:
  std::unique_ptr<NvrListener> Listen(const std::string& nvrAddress, const std::string& nvrPort) {
    return std::unique_ptr<NvrListener>(
        new NvrListener(eventQueue, nvrAddress, nvrPort, rejectionLines));
  }
  static unsigned short PortOf(const NvrListener& listener) {
    return listener.ListeningEndpoint().port();
  }
  // Whether the listener has admitted its NVR, whose session is open.
  static bool Admitted(const NvrListener& listener) {
    return listener.Session() != nullptr && listener.Session()->Open();
  }
  bool PollUntil(const std::function<bool()>& done) {
    return tillwire::PollUntil(eventQueue, done);
  }

  LogWatch watch;
  boost::asio::io_context eventQueue;
  RejectionQuota rejectionLines{eventQueue};
};

}  // namespace tillwire

#endif
