#include "source/drop_report.h"

#include "log/log_file.h"
#include "source/source_texts.h"

namespace tillwire {

DropReport::DropReport(pcap_t* captureHandle, std::chrono::steady_clock::duration interval)
    : captureHandle(captureHandle),
      interval(interval),
      nextLook(std::chrono::steady_clock::now() + interval) {
  counting = Read(&last);
}

void DropReport::Follow(pcap_t* reopenedHandle) {
  captureHandle = reopenedHandle;
  last = Counters();
  counting = Read(&last);
}

void DropReport::Check(std::chrono::steady_clock::time_point now) {
  if (!counting || now < nextLook) return;
  nextLook = now + interval;
  Update();
  const std::uint64_t sinceLine = totalDropped - droppedAtLine;
  droppedAtLine = totalDropped;
  if (sinceLine == 0) return;
  LogLine(text::DroppedLine(sinceLine, totalDropped));
}

void DropReport::Update() {
  Counters now;
  if (!counting || !Read(&now)) return;
  // Unsigned differences stay right when a counter wraps.
  totalReceived += static_cast<std::uint32_t>(now.received - last.received);
  totalDropped += static_cast<std::uint32_t>(now.dropped - last.dropped);
  last = now;
}

bool DropReport::Read(Counters* counters) const {
  pcap_stat stats{};
  if (pcap_stats(captureHandle, &stats) != 0) return false;
  counters->received = static_cast<std::uint32_t>(stats.ps_recv);
  counters->dropped =
      static_cast<std::uint32_t>(stats.ps_drop) + static_cast<std::uint32_t>(stats.ps_ifdrop);
  return true;
}

}  // namespace tillwire
