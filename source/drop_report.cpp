#include "source/drop_report.h"

#include "log/log_file.h"
#include "source/source_texts.h"

namespace tillwire {

DropReport::DropReport(pcap_t* captureHandle, std::chrono::steady_clock::duration interval)
    : captureHandle(captureHandle),
      interval(interval),
      nextLook(std::chrono::steady_clock::now() + interval) {
  counting = ReadDropped(&lastDropped);
}

void DropReport::Follow(pcap_t* reopenedHandle) {
  captureHandle = reopenedHandle;
  lastDropped = 0;
  counting = ReadDropped(&lastDropped);
}

void DropReport::Check(std::chrono::steady_clock::time_point now) {
  if (!counting || now < nextLook) return;
  nextLook = now + interval;
  std::uint32_t dropped = 0;
  if (!ReadDropped(&dropped)) return;
  const std::uint32_t sinceLastLook = dropped - lastDropped;
  lastDropped = dropped;
  if (sinceLastLook == 0) return;
  totalDropped += sinceLastLook;
  LogLine(text::DroppedLine(sinceLastLook, totalDropped));
}

bool DropReport::ReadDropped(std::uint32_t* dropped) const {
  pcap_stat counters{};
  if (pcap_stats(captureHandle, &counters) != 0) return false;
  *dropped = static_cast<std::uint32_t>(counters.ps_drop) +
             static_cast<std::uint32_t>(counters.ps_ifdrop);
  return true;
}

}  // namespace tillwire
