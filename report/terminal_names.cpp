#include "report/terminal_names.h"

namespace tillwire {

namespace {

struct NotTakenReason {
  FrameKind kind;
  const char* text;
};

// The reasons in the order the texts give them.
const NotTakenReason kNotTakenReasons[] = {
    {FrameKind::kNotIpv4, " not IPv4"},
    {FrameKind::kFragment, " fragmented"},
    {FrameKind::kTruncated, " truncated"},
    {FrameKind::kNotTcpUdp, " not TCP/UDP"},
};
static_assert(sizeof kNotTakenReasons / sizeof kNotTakenReasons[0] ==
                  kFrameKinds - static_cast<std::size_t>(FrameKind::kNotIpv4),
              "a text for each reason a frame is not taken");

}  // namespace

std::string TerminalName(const std::string& key, const TerminalRecord& record) {
  return "terminal " + key + " (NvrPort " + record.nvrPort + ")";
}

std::string GroupedCount(std::uint64_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::string FramesNotTaken(const FrameCounts& frames) {
  std::string text;
  for (const NotTakenReason& reason : kNotTakenReasons) {
    if (!text.empty()) text += ", ";
    text += GroupedCount(frames.Of(reason.kind)) + reason.text;
  }
  return text;
}

}  // namespace tillwire
