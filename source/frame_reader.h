// The engine's reads of its capture handle, and how it waits for frames.
//
// A busy forwarder should sleep until there is work: frames on the adapter,
// or an NVR to serve (an accept, a finished write, a timer). On Linux a live
// handle is non-blocking and its descriptor is watched on the event queue, so
// one wait covers both and the engine wakes when the kernel hands over a
// block of frames (at the latest one read time-out after the block's first
// frame) or an NVR needs it, and otherwise only a few times a second. On
// Windows, whose capture library gives no descriptor, a read waits in the
// library up to the read time-out, and the engine serves its NVRs between
// reads.
#ifndef TILLWIRE_SOURCE_FRAME_READER_H
#define TILLWIRE_SOURCE_FRAME_READER_H

#include <boost/asio/io_context.hpp>
#include <pcap.h>

#include <chrono>
#include <memory>

namespace tillwire {

class FrameReader {
 public:
  // The longest a read waits for a frame while nothing happens, so that the
  // engine looks for a stop request and its periodic work at this pace.
  static constexpr std::chrono::milliseconds kQuietWait{100};

  FrameReader(boost::asio::io_context& eventQueue, pcap_t* captureHandle);
  ~FrameReader();
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;

  // Reads the next frame as pcap_next_ex does: 1 a frame, 0 none yet, -1 an
  // error, -2 the end of the file. A live read that finds no frame returns 0
  // once frames may have arrived (Linux, running the event queue's handlers
  // meanwhile) or the read time-out has passed (Windows), and at the latest
  // after kQuietWait, also on a network without any traffic. Raises
  // boost::thread_interrupted on a stop request while it waits (Linux),
  // also in the wait for a pipe's bytes (OpenCaptureFile).
  int Next(pcap_pkthdr** header, const unsigned char** frame);

  // Stops watching the handle and goes on with the handle of an adapter
  // opened again; called before the old handle is closed.
  void Follow(pcap_t* reopenedHandle);

 private:
  // The platform's watch on the handle, made at the first read that finds
  // no frame (a capture file never needs one).
  struct Watch;

  boost::asio::io_context& eventQueue;
  pcap_t* captureHandle;
  std::unique_ptr<Watch> watch;
};

}  // namespace tillwire

#endif
