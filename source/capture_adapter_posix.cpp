#include "source/capture_adapter.h"

#include "source/capture_source.h"

#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>

namespace tillwire {

CaptureHandle OpenCaptureAdapter(const char* adapterName, char* errorText) {
  CaptureHandle handle(pcap_create(adapterName, errorText));
  if (handle == nullptr) return nullptr;
  pcap_set_snaplen(handle.get(), kSnapLength);
  pcap_set_promisc(handle.get(), 1);
  pcap_set_timeout(handle.get(), kLiveReadTimeoutMs);
  pcap_set_buffer_size(handle.get(), kLiveBufferBytes);
  // Reads that find no frame return at once, and FrameReader waits for the
  // next frames together with the event queue (Linux's packet ring times out
  // only once a frame has arrived, so a blocking read could wait for good).
  // A warning from the activation (above 0) still captures.
  if (pcap_activate(handle.get()) < 0) {
    std::snprintf(errorText, PCAP_ERRBUF_SIZE, "%s", pcap_geterr(handle.get()));
    return nullptr;
  }
  if (pcap_setnonblock(handle.get(), 1, errorText) != 0) return nullptr;
  return handle;
}

const unsigned char* Ipv4AddressBytes(const sockaddr& address) {
  if (address.sa_family != AF_INET) return nullptr;
  return reinterpret_cast<const unsigned char*>(
      &reinterpret_cast<const sockaddr_in&>(address).sin_addr);
}

}  // namespace tillwire
