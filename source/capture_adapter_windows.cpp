#include "source/capture_adapter.h"

#include "source/capture_source.h"

namespace tillwire {

CaptureHandle OpenCaptureAdapter(const char* adapterName, char* errorText) {
  // WinPcap and Npcap size the driver's buffer after the open.
  CaptureHandle handle(
      pcap_open_live(adapterName, kSnapLength, 1, kLiveReadTimeoutMs, errorText));
  if (handle != nullptr) pcap_setbuff(handle.get(), kLiveBufferBytes);
  return handle;
}

}  // namespace tillwire
