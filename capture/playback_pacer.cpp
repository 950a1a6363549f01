#include "capture/playback_pacer.h"

#include <thread>

namespace {

const std::size_t kFarBehind = TerminalConnection::kMaxWaiting / 2;
const std::chrono::seconds kPatience(5);
const std::chrono::milliseconds kStep(1);

}  // namespace

PlaybackPacer::PlaybackPacer(boost::asio::io_service& eventQueue,
                             const TerminalTable& terminalTable)
    : eventQueue(eventQueue) {
  for (const auto& entry : terminalTable) {
    if (const TerminalConnection* connection = entry.second->nvrConnection.get()) {
      followers.push_back(Follower{connection, 0, {}, false});
    }
  }
}

bool PlaybackPacer::AnyFarBehind(std::chrono::steady_clock::time_point now) {
  bool farBehind = false;
  for (Follower& follower : followers) {
    if (follower.givenUp) continue;
    const std::size_t waiting = follower.connection->WaitingBytes();
    if (waiting <= kFarBehind) {
      follower.lastWaiting = 0;
      continue;
    }
    if (follower.lastWaiting == 0 || waiting < follower.lastWaiting) {
      follower.lastProgress = now;
    } else if (now - follower.lastProgress > kPatience) {
      follower.givenUp = true;
      continue;
    }
    follower.lastWaiting = waiting;
    farBehind = true;
  }
  return farBehind;
}

void PlaybackPacer::CatchUp() {
  while (AnyFarBehind(std::chrono::steady_clock::now())) {
    std::this_thread::sleep_for(kStep);
    eventQueue.poll();
  }
}
