#include "source/adapter_recovery.h"

#include "source/capture_source.h"
#include "source/event_queue_wait.h"

#include <utility>
#include <variant>

namespace tillwire {

namespace {

// Opens the adapter that now carries adapterAddress as the run's start does
// (logging "Listening on ..."), or returns null.
CaptureHandle TryOpen(const std::string& adapterAddress) {
  OrStartFailure<CaptureHandle> opened = OpenCaptureSource(std::string(), adapterAddress);
  CaptureHandle* handle = std::get_if<CaptureHandle>(&opened);
  return handle != nullptr ? std::move(*handle) : nullptr;
}

}  // namespace

CaptureHandle FindAdapterAgain(const std::string& adapterAddress,
                               boost::asio::io_context& eventQueue) {
  for (;;) {
    ServeUntil(eventQueue, std::chrono::steady_clock::now() + kAdapterRetryInterval);
    if (CaptureHandle handle = TryOpen(adapterAddress)) return handle;
  }
}

}  // namespace tillwire
