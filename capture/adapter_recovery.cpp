#include "capture/adapter_recovery.h"

#include "capture/capture_source.h"

#include <boost/thread/thread.hpp>

#include <algorithm>
#include <variant>

namespace tillwire {

namespace {

// How often a stop request is looked for while the engine waits.
const std::chrono::milliseconds kStopCheck(100);

// Opens the adapter that now carries adapterAddress as the run's start does
// (logging "Listening on ..."), or returns null.
pcap_t* TryOpen(const std::string& adapterAddress) {
  OrStartFailure<pcap_t*> opened = TryOpenCaptureSource(std::string(), adapterAddress);
  pcap_t** handle = std::get_if<pcap_t*>(&opened);
  return handle != nullptr ? *handle : nullptr;
}

// Runs the event queue's handlers as they become ready for the pause.
void ServeFor(boost::asio::io_service& eventQueue, std::chrono::steady_clock::duration pause) {
  const auto until = std::chrono::steady_clock::now() + pause;
  for (auto now = std::chrono::steady_clock::now(); now < until;
       now = std::chrono::steady_clock::now()) {
    eventQueue.run_one_until(std::min(until, now + kStopCheck));
    boost::this_thread::interruption_point();
  }
}

}  // namespace

pcap_t* FindAdapterAgain(const std::string& adapterAddress, boost::asio::io_service& eventQueue) {
  for (;;) {
    ServeFor(eventQueue, kAdapterRetryInterval);
    if (pcap_t* handle = TryOpen(adapterAddress)) return handle;
  }
}

}  // namespace tillwire
