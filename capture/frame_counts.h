// Decoded frames counted by their kind: the TCP and UDP frames the frame
// path takes, and those it does not take by reason (not IPv4, a later
// fragment, truncated, not TCP or UDP), so that a summary can say why
// traffic was not seen.
//
// A fixed array indexed by the kind: counting a frame is one increment,
// without a branch, and allocates, blocks and logs nothing. For one thread.
#ifndef TILLWIRE_CAPTURE_FRAME_COUNTS_H
#define TILLWIRE_CAPTURE_FRAME_COUNTS_H

#include "capture/ipv4_decoder.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace tillwire {

class FrameCounts {
 public:
  void Add(FrameKind kind) { ++counts[static_cast<std::size_t>(kind)]; }

  std::uint64_t Of(FrameKind kind) const { return counts[static_cast<std::size_t>(kind)]; }
  // Every frame counted.
  std::uint64_t All() const {
    std::uint64_t all = 0;
    for (const std::uint64_t count : counts) all += count;
    return all;
  }
  // The frames not taken, whatever the reason.
  std::uint64_t NotTaken() const {
    return All() - Of(FrameKind::kPayload) - Of(FrameKind::kNoPayload);
  }

  // The frames counted since earlier, a copy of these counts made before.
  FrameCounts Since(const FrameCounts& earlier) const {
    FrameCounts since;
    for (std::size_t kind = 0; kind < kFrameKinds; ++kind) {
      since.counts[kind] = counts[kind] - earlier.counts[kind];
    }
    return since;
  }

 private:
  std::array<std::uint64_t, kFrameKinds> counts{};
};

}  // namespace tillwire

#endif
