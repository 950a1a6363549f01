// Opening a live adapter for capture, as each system's capture library wants
// it done (capture_adapter_posix.cpp, capture_adapter_windows.cpp).
#ifndef TILLWIRE_SOURCE_CAPTURE_ADAPTER_H
#define TILLWIRE_SOURCE_CAPTURE_ADAPTER_H

#include "source/capture_handle.h"

namespace tillwire {

// Opens a live handle on the adapter of this capture library name: whole
// frames (kSnapLength), promiscuous, with the live read time-out and buffer
// (capture_source.h); non-blocking where FrameReader waits for frames itself
// (off Windows). Null with the library's text in errorText
// (PCAP_ERRBUF_SIZE bytes).
CaptureHandle OpenCaptureAdapter(const char* adapterName, char* errorText);

// The four bytes, in network order, of an adapter's IPv4 address as the
// capture library lists it; null for an address of another family.
const unsigned char* Ipv4AddressBytes(const sockaddr& address);

}  // namespace tillwire

#endif
