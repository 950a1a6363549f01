#include "source/frame_reader.h"

namespace tillwire {

// WinPcap and Npcap give no descriptor to watch: their reads wait up to the
// read time-out themselves.
struct FrameReader::Watch {};

FrameReader::FrameReader(boost::asio::io_context& eventQueue, pcap_t* captureHandle)
    : eventQueue(eventQueue), captureHandle(captureHandle) {}

FrameReader::~FrameReader() = default;

ReadResult FrameReader::NoFrame(int result) {
  if (result == 0) return ReadResult::kNoFrameYet;
  return result == PCAP_ERROR_BREAK ? ReadResult::kEndOfFile : ReadResult::kError;
}

void FrameReader::Follow(pcap_t* reopenedHandle) { captureHandle = reopenedHandle; }

}  // namespace tillwire
