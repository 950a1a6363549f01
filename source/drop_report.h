// Capture health in the log: frames that the kernel or the interface dropped
// before the engine could read them (a burst larger than the capture buffer,
// a machine too busy to keep up). Installers need to know that a gap in a
// receipt stream came from the capture, not from the terminal. The same
// counters, with the frames the capture received, are kept for the run's
// metrics.
#ifndef TILLWIRE_SOURCE_DROP_REPORT_H
#define TILLWIRE_SOURCE_DROP_REPORT_H

#include <pcap.h>

#include <chrono>
#include <cstdint>

namespace tillwire {

class DropReport {
 public:
  static constexpr std::chrono::seconds kInterval{60};

  // Takes the handle's counters as they are now. For live handles only:
  // a capture file has no counters, and asking one would replace the error
  // text that the end of a playback reports. A handle whose counters cannot
  // be read never gives a line, and counts nothing.
  explicit DropReport(pcap_t* captureHandle,
                      std::chrono::steady_clock::duration interval = kInterval);

  // Cheap enough to call for every frame: once per interval it reads the
  // counters and, when frames were dropped since the last line (or since
  // the report was made), logs one line with that number and the number
  // since the report was made.
  void Check(std::chrono::steady_clock::time_point now);

  // Reads the handle's counters into the totals now, without a line.
  void Update();

  // Since the report was made, as of the last reading of the counters
  // (Check's, Update's): frames dropped, and frames the capture received
  // (those that passed the capture filter, the dropped ones among them).
  // Neither ever goes down, also across Follow.
  std::uint64_t TotalDropped() const { return totalDropped; }
  std::uint64_t TotalReceived() const { return totalReceived; }

  // Goes on with the handle of an adapter opened again: its counters start
  // afresh, the totals go on.
  void Follow(pcap_t* reopenedHandle);

 private:
  // The handle's counters; they may wrap at 2^32.
  struct Counters {
    std::uint32_t received = 0;
    std::uint32_t dropped = 0;  // by the kernel and by the interface
  };
  bool Read(Counters* counters) const;

  pcap_t* captureHandle;
  const std::chrono::steady_clock::duration interval;
  std::chrono::steady_clock::time_point nextLook;
  bool counting;
  Counters last;
  std::uint64_t totalDropped = 0;
  std::uint64_t totalReceived = 0;
  std::uint64_t droppedAtLine = 0;
};

}  // namespace tillwire

#endif
