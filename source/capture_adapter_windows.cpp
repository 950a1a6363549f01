#include "source/capture_adapter.h"

#include "source/capture_source.h"

#include <winsock2.h>

namespace tillwire {

CaptureHandle OpenCaptureAdapter(const char* adapterName, char* errorText) {
  // WinPcap and Npcap size the driver's buffer after the open.
  CaptureHandle handle(
      pcap_open_live(adapterName, kSnapLength, 1, kLiveReadTimeoutMs, errorText));
  if (handle != nullptr) pcap_setbuff(handle.get(), kLiveBufferBytes);
  return handle;
}

const unsigned char* Ipv4AddressBytes(const sockaddr& address) {
  if (address.sa_family != AF_INET) return nullptr;
  return reinterpret_cast<const unsigned char*>(
      &reinterpret_cast<const sockaddr_in&>(address).sin_addr);
}

}  // namespace tillwire
