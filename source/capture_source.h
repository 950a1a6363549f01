// Where the frames come from: a capture file (playback) or the live adapter
// that carries the configured IPv4 address.
#ifndef TILLWIRE_SOURCE_CAPTURE_SOURCE_H
#define TILLWIRE_SOURCE_CAPTURE_SOURCE_H

#include "outcome/start_failure.h"
#include "source/capture_handle.h"

#include <optional>
#include <string>

namespace tillwire {

// Live capture: whole frames, promiscuous, frames handed over at the latest
// 10 ms (the read time-out) after they arrive, and a kernel buffer that holds
// a busy mirror port's bursts. The snap length is libpcap's largest: frames
// longer than 65,536 bytes occur on loopback (MTU 65,536 plus the link
// header) and where the adapter merges segments before capture (GRO), and a
// shorter one would cut their last bytes.
inline constexpr int kSnapLength = 262144;
inline constexpr int kLiveReadTimeoutMs = 10;
inline constexpr int kLiveBufferBytes = 16 * 1024 * 1024;

// The dotted-decimal text of an IPv4 address given as its four bytes in
// network order ("192.168.10.2"). The text lives in one of twelve static
// slots used in turn: it stays valid for the next eleven calls. For the
// engine's thread only.
const char* FormatIpv4(const unsigned char* address);

// Opens a capture handle: the capture file when captureFile is not empty,
// otherwise the first adapter, in the library's order, that carries an IPv4
// address whose text equals adapterAddress byte for byte, promiscuous.
// Logs the source in use ("Playing from file://...", "Listening on <adapter>
// <address>"), or, when shownSource is given, logs nothing and stores there
// the source as those lines name it ("file://...", "<adapter> <address>").
// Returns the failure otherwise, logging nothing: kExitNoCaptureDevice when
// the capture library is missing or no adapter can be chosen,
// kExitCaptureNotOpened when the file or adapter cannot be opened (its fixed
// line, then the library's reason in a line of its own). Raises
// boost::thread_interrupted when a stop request cut short the wait for a
// pipe's capture header (OpenCaptureFile).
OrStartFailure<CaptureHandle> OpenCaptureSource(const std::string& captureFile,
                                                const std::optional<std::string>& adapterAddress,
                                                std::string* shownSource = nullptr);

}  // namespace tillwire

#endif
