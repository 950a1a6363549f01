// The NVR listener where the system lets a test run the process out of
// descriptors (POSIX resource limits).
#include "output/nvr_listener_fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

using namespace tillwire;

namespace {

// Holds every descriptor the process may still open, under a lowered limit,
// until released.
class DescriptorExhaustion {
 public:
  DescriptorExhaustion() {
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit lowered = saved;
    lowered.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 512);
    setrlimit(RLIMIT_NOFILE, &lowered);
    for (int held = open("/dev/null", O_RDONLY); held >= 0; held = open("/dev/null", O_RDONLY)) {
      descriptors.push_back(held);
    }
  }
  ~DescriptorExhaustion() { Release(); }
  void Release() {
    for (int held : descriptors) close(held);
    descriptors.clear();
    setrlimit(RLIMIT_NOFILE, &saved);
  }

 private:
  rlimit saved;
  std::vector<int> descriptors;
};

// Out of descriptors, accepting fails; the terminal keeps trying and takes its
// NVR once descriptors are free again, with one line for the whole episode.
TEST_F(NvrListenerTest, AcceptsAgainOnceDescriptorsAreFree) {
  auto listener = Listen("127.0.0.1", "0");
  const auto admitted = [&] { return Admitted(*listener); };
  // The NVR's socket is opened first; the accept is tried only when polled.
  NvrClient nvr(eventQueue, PortOf(*listener));
  DescriptorExhaustion exhaustion;
  // Several pauses' worth of failed tries.
  EXPECT_FALSE(tillwire::PollUntil(eventQueue, admitted, 3 * AcceptRetry::kPause));
  exhaustion.Release();
  ASSERT_TRUE(PollUntil(admitted));

  EXPECT_EQ(watch.Texts(),
            (std::vector<std::string>{
                "Creating terminal connection: 127.0.0.1:0",
                "Terminal port 0 Accept failed for now, retrying: " +
                    boost::system::error_code(EMFILE, boost::system::system_category()).message(),
                "Accepted connection from NVR address: 127.0.0.1 Port: 0",
            }));
}

}  // namespace
