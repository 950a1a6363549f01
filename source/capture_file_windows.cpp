#include "source/capture_file.h"

#include "source/capture_source.h"
#include "source/source_texts.h"

namespace tillwire {

// Every wpcap.dll has the remote API: capture files are "file://" sources.
CaptureHandle OpenCaptureFile(const std::string& path, char* errorText) {
  const std::string source = text::FileSource(path);
  return CaptureHandle(pcap_open(source.c_str(), kSnapLength, PCAP_OPENFLAG_PROMISCUOUS, 1000,
                                 nullptr, errorText));
}

}  // namespace tillwire
