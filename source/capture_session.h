// A capture, the run's or the survey's: one object owns the pcap handle (and
// closes it), the reader of its frames, its link layer, live capture's drop
// report and capture filter, and the reopening of a lost adapter.
#ifndef TILLWIRE_SOURCE_CAPTURE_SESSION_H
#define TILLWIRE_SOURCE_CAPTURE_SESSION_H

#include "capture/link_layer.h"
#include "capture/terminal_matcher.h"
#include "source/capture_handle.h"
#include "source/drop_report.h"
#include "source/frame_reader.h"

#include <boost/asio/io_context.hpp>
#include <pcap.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tillwire {

class CaptureSession {
 public:
  // Takes over an opened handle, whose frames are read on eventQueue (which
  // must outlive the session). With an adapterAddress the capture is live:
  // drops are reported and a lost adapter can be found again by it.
  CaptureSession(CaptureHandle handle, boost::asio::io_context& eventQueue,
                 std::optional<std::string> adapterAddress);
  // Closes the handle.
  ~CaptureSession();
  CaptureSession(const CaptureSession&) = delete;
  CaptureSession& operator=(const CaptureSession&) = delete;

  bool Live() const { return adapterAddress.has_value(); }
  // How the frames' link layer is decoded. Checked when the capture started
  // (StartCapture); an adapter found again whose link type has
  // become one that the decoder does not know is read as before.
  LinkLayer Link() const { return link; }

  // Sets the matcher's capture filter (CaptureFilterExpression) on the
  // handle, and again on every handle of an adapter found again. When that
  // fails, logs one line with the library's reason and leaves the handle
  // capturing every frame. The matcher must outlive the session.
  void SetFilter(const TerminalMatcher& matcher);
  // Reads the next frame, as FrameReader::Next reads it, with the link
  // layer it is decoded by.
  ReadResult Next(CapturedFrame& frame) {
    frame.link = link;
    return reader.Next(frame);
  }
  // The periodic work of a live capture: the drop report.
  void Check(std::chrono::steady_clock::time_point now);
  // Frames that the capture dropped so far (live capture; 0 in playback), as
  // of the drop report's last look.
  std::uint64_t FramesDropped() const { return drops ? drops->TotalDropped() : 0; }
  // Frames that the capture received so far, the dropped ones among them
  // (live capture; 0 in playback), as of the drop report's last look.
  std::uint64_t FramesReceived() const { return drops ? drops->TotalReceived() : 0; }
  // Reads the capture's counters now (live capture), for the two above.
  void UpdateCounters() {
    if (drops && handle) drops->Update();
  }
  // True while a handle is open: false only while a lost adapter is looked
  // for again (Reopen).
  bool Capturing() const { return handle != nullptr; }
  // How many times a lost adapter was opened again in the run.
  std::uint64_t Reopens() const { return reopens; }
  // The capture library's text of the handle's last error or end of file.
  const char* ErrorText() const;

  // Live capture only, after a read error: closes the handle and waits for
  // the adapter to be back (FindAdapterAgain), then goes on with it: the
  // filter set again, the drop report and the reader following it (the
  // old handle's counters are read into its totals before it closes).
  // Raises boost::thread_interrupted on a stop request meanwhile.
  void Reopen();

 private:
  void Close();
  void ApplyFilter();

  CaptureHandle handle;
  boost::asio::io_context& eventQueue;
  const std::optional<std::string> adapterAddress;
  LinkLayer link;
  const TerminalMatcher* filterMatcher = nullptr;
  std::optional<DropReport> drops;
  FrameReader reader;
  std::uint64_t reopens = 0;
};

}  // namespace tillwire

#endif
