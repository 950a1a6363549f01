// Keeps a playback from outrunning the NVRs.
//
// A capture file is replayed as fast as it can be read, much faster than an
// NVR may read; a terminal whose NVR falls 1 MiB behind drops payloads. In
// playback nothing is live, so rather than lose bytes the replay waits while
// an NVR has more than half of that waiting, for as long as it makes
// progress. An NVR that takes nothing for five seconds is not waited for
// again in the run: a stuck NVR never stalls the playback for long, nor costs
// the other NVRs their bytes.
#ifndef TILLWIRE_CAPTURE_PLAYBACK_PACER_H
#define TILLWIRE_CAPTURE_PLAYBACK_PACER_H

#include "config/terminal.h"

#include <boost/asio/io_service.hpp>

#include <chrono>
#include <cstddef>
#include <vector>

class PlaybackPacer {
 public:
  PlaybackPacer(boost::asio::io_service& eventQueue, const TerminalTable& terminalTable);

  // Serves the event queue until no NVR that is still waited for is far behind.
  void CatchUp();

 private:
  struct Follower {
    const TerminalConnection* connection;
    std::size_t lastWaiting;
    std::chrono::steady_clock::time_point lastProgress;
    bool givenUp;
  };

  // Updates each follower's progress; true while one is still far behind.
  bool AnyFarBehind(std::chrono::steady_clock::time_point now);

  boost::asio::io_service& eventQueue;
  std::vector<Follower> followers;
};

#endif
