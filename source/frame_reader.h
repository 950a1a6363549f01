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

#include "capture/link_layer.h"

#include <boost/asio/io_context.hpp>
#include <pcap.h>

#include <chrono>
#include <cstdint>
#include <memory>

namespace tillwire {

// What a read found.
enum class ReadResult {
  kFrame,       // a frame
  kNoFrameYet,  // no frame yet (live capture): the read waited as long as it may
  kError,       // a read error; the handle's error text says why
  kEndOfFile,   // the end of a capture file
};

// A frame as read: its captured bytes, valid until the next read of the
// handle, their number, the whole seconds of its capture time, and the link
// layer it is decoded by (the capture session's).
struct CapturedFrame {
  const unsigned char* bytes = nullptr;
  std::uint32_t capturedLength = 0;
  std::uint32_t seconds = 0;
  LinkLayer link = LinkLayer::kEthernet;
};

class FrameReader {
 public:
  // The longest a read waits for a frame while nothing happens, so that the
  // engine looks for a stop request and its periodic work at this pace.
  static constexpr std::chrono::milliseconds kQuietWait{100};

  FrameReader(boost::asio::io_context& eventQueue, pcap_t* captureHandle);
  ~FrameReader();
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;

  // Reads the next frame with pcap_next_ex, into frame when there is one
  // (its link is left as it is). A live read that finds no frame answers
  // kNoFrameYet once frames may have arrived (Linux, running the event
  // queue's handlers meanwhile) or the read time-out has passed (Windows),
  // and at the latest after kQuietWait, also on a network without any
  // traffic. Raises boost::thread_interrupted on a stop request while it
  // waits (Linux), also in the wait for a pipe's bytes (OpenCaptureFile).
  // A frame is taken here, inline; the rest is the system's (NoFrame).
  ReadResult Next(CapturedFrame& frame) {
    pcap_pkthdr* header = nullptr;
    const unsigned char* data = nullptr;
    const int result = pcap_next_ex(captureHandle, &header, &data);
    if (result != 1) return NoFrame(result);
    frame.bytes = data;
    frame.capturedLength = header->caplen;
    frame.seconds = static_cast<std::uint32_t>(header->ts.tv_sec);
    return ReadResult::kFrame;
  }

  // Stops watching the handle and goes on with the handle of an adapter
  // opened again; called before the old handle is closed.
  void Follow(pcap_t* reopenedHandle);

 private:
  // What a read that found no frame answers, by pcap_next_ex's result: 0
  // (none yet: a live handle, whose frames it waits for first), -2 (the end
  // of the file), -1 or another error.
  ReadResult NoFrame(int result);

  // The platform's watch on the handle, made at the first read that finds
  // no frame (a capture file never needs one).
  struct Watch;

  boost::asio::io_context& eventQueue;
  pcap_t* captureHandle;
  std::unique_ptr<Watch> watch;
};

}  // namespace tillwire

#endif
