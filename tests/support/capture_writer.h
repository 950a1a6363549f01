// Capture files for tests, written through libpcap's own dump API.
#ifndef TILLWIRE_TESTS_SUPPORT_CAPTURE_WRITER_H
#define TILLWIRE_TESTS_SUPPORT_CAPTURE_WRITER_H

#include <pcap.h>

#include <string>
#include <vector>

namespace tillwire {

class CaptureWriter {
 public:
  // Creates a capture file of the pcap link type (Ethernet by default) at
  // path, replacing any file there.
  explicit CaptureWriter(const std::string& path, int dataLinkType = DLT_EN10MB);
  ~CaptureWriter();
  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;

  // Appends one frame, captured whole.
  void Write(const std::vector<unsigned char>& frame);

 private:
  pcap_t* dead;
  pcap_dumper_t* dumper;
  long frames = 0;
};

}  // namespace tillwire

#endif
