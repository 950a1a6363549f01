// Helpers of the decoding tests: the fields of a UDP frame, and what a
// decoded frame hands on as its payload.
#ifndef TILLWIRE_TESTS_SUPPORT_DECODING_H
#define TILLWIRE_TESTS_SUPPORT_DECODING_H

#include "capture/link_layer.h"
#include "support/frame_builder.h"

#include <string>

namespace tillwire {

// A UDP frame with the builder's default addresses and ports.
inline FrameFields Udp(const std::string& payload) {
  FrameFields fields;
  fields.protocol = 17;
  fields.payload = payload;
  return fields;
}

// The payload's bytes as text; empty unless the frame was decoded as one.
inline std::string PayloadOf(const DecodedFrame& decoded) {
  if (decoded.kind != FrameKind::kPayload) return std::string();
  return std::string(reinterpret_cast<const char*>(decoded.payload),
                     static_cast<std::size_t>(decoded.payloadLength));
}

}  // namespace tillwire

#endif
