// What became of a terminal's payload bytes in a run: the account that the
// playback report and the service's health lines read.
#ifndef TILLWIRE_OUTPUT_DELIVERY_COUNTS_H
#define TILLWIRE_OUTPUT_DELIVERY_COUNTS_H

#include <cstdint>

namespace tillwire {

// What NVR sessions did with the payloads handed to them.
struct SessionCounts {
  std::uint64_t written = 0;          // bytes written to the NVR's connection
  std::uint64_t droppedBytes = 0;     // dropped: the NVR was not keeping up
  std::uint64_t droppedPayloads = 0;  // the payloads those bytes belonged to

  SessionCounts& operator+=(const SessionCounts& other) {
    written += other.written;
    droppedBytes += other.droppedBytes;
    droppedPayloads += other.droppedPayloads;
    return *this;
  }
};

// A terminal's bytes: every byte matched is written, dropped for one of the
// reasons counted, or neither: still under way, or cut off when its NVR's
// connection ended (Unsettled).
struct DeliveryCounts {
  std::uint64_t matched = 0;      // payload bytes handed to the terminal
  std::uint64_t noNvr = 0;        // not sent: no NVR was connected
  std::uint64_t portNotOpen = 0;  // not sent: the NvrPort could not be opened
  SessionCounts sessions;         // written, and dropped for an NVR not keeping up

  std::uint64_t Unsettled() const {
    return matched - noNvr - portNotOpen - sessions.written - sessions.droppedBytes;
  }
};

}  // namespace tillwire

#endif
