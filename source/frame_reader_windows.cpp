#include "source/frame_reader.h"

namespace tillwire {

// WinPcap and Npcap give no descriptor to watch: their reads wait up to the
// read time-out themselves.
struct FrameReader::Watch {};

FrameReader::FrameReader(boost::asio::io_context& eventQueue, pcap_t* captureHandle)
    : eventQueue(eventQueue), captureHandle(captureHandle) {}

FrameReader::~FrameReader() = default;

int FrameReader::Next(pcap_pkthdr** header, const unsigned char** frame) {
  return pcap_next_ex(captureHandle, header, frame);
}

void FrameReader::Follow(pcap_t* reopenedHandle) { captureHandle = reopenedHandle; }

}  // namespace tillwire
