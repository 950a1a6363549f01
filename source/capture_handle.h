// An open capture handle with one owner, which closes it (pcap_close) when it
// lets go of it: the capture source hands it over, the capture session keeps
// it. Nothing else closes a handle.
#ifndef TILLWIRE_SOURCE_CAPTURE_HANDLE_H
#define TILLWIRE_SOURCE_CAPTURE_HANDLE_H

#include <pcap.h>

#include <memory>

namespace tillwire {

struct CloseCaptureHandle {
  void operator()(pcap_t* handle) const { pcap_close(handle); }
};

using CaptureHandle = std::unique_ptr<pcap_t, CloseCaptureHandle>;

}  // namespace tillwire

#endif
