// The frame path's last room: a decoded frame is matched to its terminal, a
// TCP payload passes flow tracking, and the terminal's new bytes go to a sink.
//
// The sink is any type with
//   void Deliver(std::size_t terminal, const unsigned char* data, int length);
// that takes length (at least 1) new payload bytes of the terminal (its index
// in the terminal table) and copies what it keeps before it returns. The
// run's sink hands them to the terminal's NVR connection
// (TerminalConnections); tests, benchmarks and tools bring their own, so the
// whole path is exercised without a socket. Routing allocates, blocks and
// logs nothing; for one thread.
#ifndef TILLWIRE_CAPTURE_FRAME_ROUTER_H
#define TILLWIRE_CAPTURE_FRAME_ROUTER_H

#include "capture/flow_tracker.h"
#include "capture/frame_counts.h"
#include "capture/link_layer.h"
#include "capture/terminal_matcher.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tillwire {

template <typename Sink>
class FrameRouter {
 public:
  // The matcher, the tracker and the sink must outlive the router.
  FrameRouter(const TerminalMatcher& matcher, FlowTracker& flows, Sink& sink)
      : matcher(matcher), flows(flows), sink(sink) {}

  // Decodes a frame of the link layer and hands its payload to the first
  // terminal that accepts it; no other terminal is tried, even when that
  // one's NVR is not connected. Of a TCP payload only the bytes that the flow
  // tracker has not seen forwarded go. The tracker also learns of every SYN,
  // FIN and RST, with or without payload, taken by a terminal or not: they
  // start and end the connections whose bytes it follows. seconds is the
  // frame's capture time. A frame not taken is counted by its reason
  // (Counts); a TCP or UDP frame costs no count.
  // Returns true for TCP and UDP frames, with or without payload, and false
  // for the rest.
  bool Route(const unsigned char* frame, std::uint32_t capturedLength, std::uint32_t seconds,
             LinkLayer link = LinkLayer::kEthernet) {
    const DecodedFrame decoded = DecodeFrame(frame, capturedLength, link);
    if (!IsTcpOrUdp(decoded.kind)) {
      notTaken.Add(decoded.kind);
      return false;
    }
    const bool control = decoded.tcp && (decoded.tcpHeader.flags & kControl) != 0;
    const bool syn = control && (decoded.tcpHeader.flags & kTcpSyn) != 0;
    // Only a SYN makes a flow, and only of a direction a terminal takes; a
    // segment without payload otherwise needs no terminal.
    if (decoded.kind == FrameKind::kNoPayload && !syn) {
      if (control) flows.Observe(decoded.key, decoded.tcpHeader, 0, seconds);
      return true;
    }
    const std::optional<std::size_t> terminal = matcher.FindTerminal(decoded.key);
    const auto length = static_cast<std::uint32_t>(decoded.payloadLength);
    if (!terminal) {
      if (control) flows.Observe(decoded.key, decoded.tcpHeader, length, seconds);
    } else if (decoded.tcp) {
      DeliverNewBytes(*terminal, decoded, seconds);
    } else {
      sink.Deliver(*terminal, decoded.payload, decoded.payloadLength);
    }
    return true;
  }

  // The frames routed so far that were not taken, by reason.
  const FrameCounts& Counts() const { return notTaken; }

 private:
  static constexpr std::uint8_t kControl = kTcpSyn | kTcpFin | kTcpRst;

  // Hands on the parts of a TCP segment's payload, taken by the terminal,
  // that its flow has not forwarded before.
  void DeliverNewBytes(std::size_t terminal, const DecodedFrame& decoded, std::uint32_t seconds) {
    NewBytes fresh;
    flows.Admit(decoded.key, decoded.tcpHeader,
                static_cast<std::uint32_t>(decoded.payloadLength), seconds, &fresh);
    for (int i = 0; i < fresh.count; ++i) {
      sink.Deliver(terminal, decoded.payload + fresh.pieces[i].offset,
                   static_cast<int>(fresh.pieces[i].length));
    }
  }

  const TerminalMatcher& matcher;
  FlowTracker& flows;
  Sink& sink;
  FrameCounts notTaken;
};

}  // namespace tillwire

#endif
