// Opening a capture file for playback and the survey: a recorded file, or a
// pipe that a capture tool writes into as it captures (a FIFO made with
// mkfifo, or "tcpdump -w -" handed over as /dev/stdin).
//
// A pipe has no end until its writer closes it, and a read of it waits for
// the writer; the run must still notice a stop request while it waits.
#ifndef TILLWIRE_SOURCE_CAPTURE_FILE_H
#define TILLWIRE_SOURCE_CAPTURE_FILE_H

#include "source/capture_handle.h"

#include <string>

namespace tillwire {

// Opens the capture file at path; null with the capture library's reason in
// errorText (PCAP_ERRBUF_SIZE bytes) when it cannot be opened or read as a
// capture. Off Windows, a file that is neither a regular file nor a
// directory is read as a pipe: its reads, and the open's read of the
// capture's header, wait for the writer while looking for a stop request
// (boost::this_thread::interrupt) at least every kStopCheck, and fail on one
// (pcap_next_ex: -1; the open: null). On Windows the capture library opens
// and reads every capture file itself.
CaptureHandle OpenCaptureFile(const std::string& path, char* errorText);

}  // namespace tillwire

#endif
