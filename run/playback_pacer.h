// Keeps a playback from outrunning the NVRs.
//
// A capture file is replayed as fast as it can be read, much faster than an
// NVR may read; a terminal whose NVR falls 1 MiB behind drops payloads. In
// playback nothing is live, so rather than lose bytes the replay waits while
// an NVR has more than half of that waiting, and at the end of the file waits
// until every NVR has been written all that is under way to it, for as long
// as the NVR makes progress: any byte its system acknowledges counts. An NVR
// that takes nothing for kPatience is not waited for again in the run: a
// stuck NVR stalls the playback once, for kPatience, and never costs the
// other NVRs their bytes.
#ifndef TILLWIRE_RUN_PLAYBACK_PACER_H
#define TILLWIRE_RUN_PLAYBACK_PACER_H

#include "output/terminal_connections.h"

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <cstdint>
#include <vector>

namespace tillwire {

class PlaybackPacer {
 public:
  // How long an NVR may take nothing before it is not waited for any more.
  //
  // What an NVR has taken shows at this end only when its system acknowledges
  // bytes, and a receiver short of buffer space opens its window again only
  // once a good part of it is free: an NVR that reads 20 KB a second with the
  // systems' default buffers shows its reading every 5 to 6.5 seconds, one
  // that reads 10 KB a second every 10 to 13 seconds (Linux, on loopback and
  // over a 1500-byte link alike). So the patience covers NVRs that read at
  // least about 5 KB a second; a slower one may be given up, and a stuck one
  // stalls the playback once, for this long.
  static constexpr std::chrono::seconds kPatience{30};

  // Follows every terminal's connection; they must outlive the pacer.
  PlaybackPacer(boost::asio::io_context& eventQueue, const TerminalConnections& connections);

  // Serve the event queue in steps of a millisecond (ServeUntil) until no NVR
  // that is still waited for is far behind (CatchUp), or has a write under
  // way or waiting (Drain). Both raise boost::thread_interrupted when the
  // thread is interrupted meanwhile.
  void CatchUp();
  void Drain();

 private:
  // Whether a connection is behind in the sense of one wait.
  using Behind = bool (*)(const TerminalConnection& connection);

  struct Follower {
    const TerminalConnection* connection;
    std::uint64_t lastTaken;
    std::chrono::steady_clock::time_point lastProgress;
    bool givenUp;
  };

  // Serves the event queue while a follower still waited for is behind.
  void WaitWhile(Behind behind);
  // Updates each follower's progress; true while one is still behind.
  bool AnyBehind(Behind behind,
                 std::chrono::steady_clock::time_point now);

  boost::asio::io_context& eventQueue;
  std::vector<Follower> followers;
};

}  // namespace tillwire

#endif
