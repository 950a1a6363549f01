#include "source/adapter_recovery.h"

#include "source/capture_source.h"

#include "source/event_queue_wait.h"

#include <variant>

namespace tillwire {

namespace {

// Opens the adapter that now carries adapterAddress as the run's start does
// (logging "Listening on ..."), or returns null.
pcap_t* TryOpen(const std::string& adapterAddress) {
  OrStartFailure<pcap_t*> opened = OpenCaptureSource(std::string(), adapterAddress);
  pcap_t** handle = std::get_if<pcap_t*>(&opened);
  return handle != nullptr ? *handle : nullptr;
}

}  // namespace

pcap_t* FindAdapterAgain(const std::string& adapterAddress, boost::asio::io_context& eventQueue) {
  for (;;) {
    ServeUntil(eventQueue, std::chrono::steady_clock::now() + kAdapterRetryInterval);
    if (pcap_t* handle = TryOpen(adapterAddress)) return handle;
  }
}

}  // namespace tillwire
