#include "run/playback_pacer.h"

#include "source/event_queue_wait.h"

#include <algorithm>

namespace tillwire {

namespace {

const std::size_t kFarBehind = TerminalConnection::kMaxWaiting / 2;
const std::chrono::milliseconds kStep(1);

}  // namespace

PlaybackPacer::PlaybackPacer(boost::asio::io_context& eventQueue,
                             const TerminalConnections& connections)
    : eventQueue(eventQueue) {
  for (std::size_t terminal = 0; terminal < connections.Size(); ++terminal) {
    followers.push_back(Follower{&connections[terminal], 0, {}, false});
  }
}

void PlaybackPacer::CatchUp() {
  WaitWhile([](const TerminalConnection& connection) {
    return connection.WaitingBytes() > kFarBehind;
  });
}

void PlaybackPacer::Drain() {
  WaitWhile([](const TerminalConnection& connection) { return connection.Sending(); });
}

void PlaybackPacer::WaitWhile(Behind behind) {
  // Most looks find nobody behind: they cost no system call.
  if (std::none_of(followers.begin(), followers.end(), [behind](const Follower& follower) {
        return !follower.givenUp && behind(*follower.connection);
      })) {
    return;
  }
  // Progress is measured from the start of each wait.
  const auto start = std::chrono::steady_clock::now();
  for (Follower& follower : followers) {
    follower.lastTaken = follower.connection->BytesTaken();
    follower.lastProgress = start;
  }
  // The NVRs are looked at again after each step of serving the queue.
  for (auto now = start; AnyBehind(behind, now); now = std::chrono::steady_clock::now()) {
    ServeUntil(eventQueue, now + kStep);
  }
}

bool PlaybackPacer::AnyBehind(Behind behind,
                              std::chrono::steady_clock::time_point now) {
  bool anyBehind = false;
  for (Follower& follower : followers) {
    if (follower.givenUp || !behind(*follower.connection)) continue;
    const std::uint64_t taken = follower.connection->BytesTaken();
    if (taken != follower.lastTaken) {
      follower.lastTaken = taken;
      follower.lastProgress = now;
    } else if (now - follower.lastProgress > kPatience) {
      follower.givenUp = true;
      continue;
    }
    anyBehind = true;
  }
  return anyBehind;
}

}  // namespace tillwire
