#include "source/frame_reader.h"

#include "source/event_queue_wait.h"

#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/thread/thread.hpp>

#include <memory>

namespace tillwire {

// The handle's descriptor on the event queue, with at most one wait for it
// pending. The descriptor stays the capture handle's: it is released, never
// closed, when the watch ends.
struct FrameReader::Watch {
  Watch(boost::asio::io_context& eventQueue, int descriptor) : handle(eventQueue, descriptor) {}
  ~Watch() { handle.release(); }

  boost::asio::posix::stream_descriptor handle;
  bool waiting = false;
  bool readable = false;
};

FrameReader::FrameReader(boost::asio::io_context& eventQueue, pcap_t* captureHandle)
    : eventQueue(eventQueue), captureHandle(captureHandle) {}

FrameReader::~FrameReader() = default;

ReadResult FrameReader::NoFrame(int result) {
  if (result == PCAP_ERROR_BREAK) return ReadResult::kEndOfFile;
  if (result != 0) {
    // A pipe's read that a stop request cut short (OpenCaptureFile) is that
    // stop, not a damaged file.
    if (result == PCAP_ERROR) boost::this_thread::interruption_point();
    return ReadResult::kError;
  }
  if (!watch) watch = std::make_unique<Watch>(eventQueue, pcap_get_selectable_fd(captureHandle));
  Watch& current = *watch;
  current.readable = false;
  if (!current.waiting) {
    current.waiting = true;
    // A wait cancelled by Follow may complete after its watch is gone, so
    // only a wait that was not cancelled touches it.
    current.handle.async_wait(boost::asio::posix::descriptor_base::wait_read,
                              [&current](const boost::system::error_code& error) {
                                if (error == boost::asio::error::operation_aborted) return;
                                current.waiting = false;
                                current.readable = true;
                              });
  }
  // The handlers that become ready meanwhile run as they come.
  ServeUntil(eventQueue, std::chrono::steady_clock::now() + kQuietWait, &current.readable);
  return ReadResult::kNoFrameYet;
}

void FrameReader::Follow(pcap_t* reopenedHandle) {
  watch.reset();
  captureHandle = reopenedHandle;
}

}  // namespace tillwire
