#include "capture/adapter_recovery.h"

#include "capture/capture_source.h"

#include <boost/thread/thread.hpp>

#include <memory>
#include <thread>

namespace tillwire {

namespace {

const std::chrono::milliseconds kServiceStep(1);

// Opens the adapter that now carries adapterAddress, or returns null.
pcap_t* TryOpen(const std::string& adapterAddress) {
  char errorText[PCAP_ERRBUF_SIZE] = "";
  pcap_if_t* found = nullptr;
  if (pcap_findalldevs(&found, errorText) == -1) return nullptr;
  const std::unique_ptr<pcap_if_t, decltype(&pcap_freealldevs)> devices(found,
                                                                         &pcap_freealldevs);
  const pcap_if_t* adapter = FindAdapter(devices.get(), adapterAddress);
  if (adapter == nullptr) return nullptr;
  pcap_t* handle = OpenAdapter(*adapter, errorText);
  if (handle != nullptr) LogListeningOn(*adapter, adapterAddress);
  return handle;
}

void ServeFor(boost::asio::io_service& eventQueue, std::chrono::steady_clock::duration pause) {
  const auto until = std::chrono::steady_clock::now() + pause;
  while (std::chrono::steady_clock::now() < until) {
    eventQueue.poll();
    boost::this_thread::interruption_point();
    std::this_thread::sleep_for(kServiceStep);
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
