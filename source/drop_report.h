// Capture health in the log: frames that the kernel or the interface dropped
// before the engine could read them (a burst larger than the capture buffer,
// a machine too busy to keep up). Installers need to know that a gap in a
// receipt stream came from the capture, not from the terminal.
#ifndef TILLWIRE_SOURCE_DROP_REPORT_H
#define TILLWIRE_SOURCE_DROP_REPORT_H

#include <pcap.h>

#include <chrono>
#include <cstdint>

namespace tillwire {

class DropReport {
 public:
  static constexpr std::chrono::seconds kInterval{60};

  // Takes the handle's drop counters as they are now. For live handles only:
  // a capture file has no counters, and asking one would replace the error
  // text that the end of a playback reports. A handle whose counters cannot
  // be read never gives a line.
  explicit DropReport(pcap_t* captureHandle,
                      std::chrono::steady_clock::duration interval = kInterval);

  // Cheap enough to call for every frame: once per interval it reads the
  // counters and, when frames were dropped since the last look, logs one
  // line with that number and the number since the report was made.
  void Check(std::chrono::steady_clock::time_point now);

  // Frames dropped since the report was made, as of the last look.
  std::uint64_t TotalDropped() const { return totalDropped; }

  // Goes on with the handle of an adapter opened again: its counters start
  // afresh, the count since the start goes on.
  void Follow(pcap_t* reopenedHandle);

 private:
  // Dropped by the kernel and by the interface; counters may wrap at 2^32.
  bool ReadDropped(std::uint32_t* dropped) const;

  pcap_t* captureHandle;
  const std::chrono::steady_clock::duration interval;
  std::chrono::steady_clock::time_point nextLook;
  bool counting;
  std::uint32_t lastDropped = 0;
  std::uint64_t totalDropped = 0;
};

}  // namespace tillwire

#endif
