// The one read loop of a capture, the run's and the survey's: it reads
// frames, hands each one to a consumer, and looks up from reading now and
// then to let a policy do its periodic work and to notice a stop request.
//
// A look costs a clock read and a comparison per frame, and its work (an
// event queue's poll is a system call) is done only every kLookInterval of
// clock time or kLookBytes of captured bytes, whichever comes first, and
// after every read that found no frame or failed, rather than before every
// frame. A stop on a quiet network, or on one that carries only other
// protocols, is still noticed promptly: a read that finds no frame waits at
// most FrameReader::kQuietWait.
//
// The consumer and the policy are template parameters, so that the
// consumer's call inlines into the loop: the frame path allocates, blocks
// and logs nothing of its own. The policy is any type with
//
//   void Serve();
//       the look's first work, before the stop check (the run serves its
//       event queue there);
//   bool Look(std::chrono::steady_clock::time_point now);
//       the look's work after the stop check (now is the look's time);
//       false ends the reading (ReadEnd::kEndedByPolicy);
//   bool ReadFailed(bool episodeStart);
//       after a read error; episodeStart is true for the first error of an
//       episode, which lasts until a read works again (it finds a frame or
//       none yet). True reads on (the run's live capture, once its adapter
//       is back), false ends the reading (ReadEnd::kReadError).
#ifndef TILLWIRE_SOURCE_READ_LOOP_H
#define TILLWIRE_SOURCE_READ_LOOP_H

#include "source/frame_reader.h"

#include <boost/thread/thread.hpp>

#include <chrono>
#include <cstdint>
#include <utility>

namespace tillwire {

// Between two looks: at most this much clock time, and at most this many
// captured bytes read (no NVR falls further behind than this between two
// services of the event queue).
inline constexpr std::chrono::milliseconds kLookInterval{1};
inline constexpr std::uint64_t kLookBytes = 256 * 1024;

// How a reading ended, when no stop request ended it.
enum class ReadEnd {
  kEndOfFile,      // the end of the capture file
  kReadError,      // a read error that the policy did not read on after
  kEndedByPolicy,  // the policy's Look answered false
};

// Reads frames from source (a CaptureSession, or anything with
// ReadResult Next(CapturedFrame&)) until the end of the file, a read error
// that the policy ends it at, or the policy's end; hands each frame to
// consume(const CapturedFrame&). Looks before the first read, then as the
// header says; at every look it calls policy.Serve(), checks for a stop
// request (boost::this_thread::interruption_point) and calls
// policy.Look(now). Raises boost::thread_interrupted on a stop request.
template <typename Source, typename Consumer, typename Policy>
ReadEnd ReadFrames(Source& source, Consumer&& consume, Policy& policy) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point nextLook;
  std::uint64_t bytesSinceLook = 0;
  bool readFailing = false;
  CapturedFrame frame;
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (now >= nextLook || bytesSinceLook >= kLookBytes) {
      policy.Serve();
      boost::this_thread::interruption_point();
      if (!policy.Look(now)) return ReadEnd::kEndedByPolicy;
      nextLook = now + kLookInterval;
      bytesSinceLook = 0;
    }
    const ReadResult result = source.Next(frame);
    if (result == ReadResult::kFrame) {
      readFailing = false;
      consume(std::as_const(frame));
      bytesSinceLook += frame.capturedLength;
      continue;
    }
    if (result == ReadResult::kEndOfFile) return ReadEnd::kEndOfFile;
    if (result == ReadResult::kError) {
      const bool episodeStart = !readFailing;
      readFailing = true;
      if (!policy.ReadFailed(episodeStart)) return ReadEnd::kReadError;
    } else {
      readFailing = false;
    }
    // Looked again at once: a read that found no frame has waited already.
    nextLook = Clock::time_point();
  }
}

}  // namespace tillwire

#endif
