#include "source/capture_file.h"

#include "source/capture_source.h"

namespace tillwire {

// Every wpcap.dll has the remote API: capture files are "file://" sources.
pcap_t* OpenCaptureFile(const std::string& path, char* errorText) {
  const std::string source = text::kFileSourcePrefix + path;
  return pcap_open(source.c_str(), kSnapLength, PCAP_OPENFLAG_PROMISCUOUS, 1000, nullptr,
                   errorText);
}

}  // namespace tillwire
