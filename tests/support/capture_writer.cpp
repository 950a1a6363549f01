#include "support/capture_writer.h"

#include <stdexcept>

namespace tillwire {

CaptureWriter::CaptureWriter(const std::string& path, int dataLinkType)
    : dead(pcap_open_dead(dataLinkType, 65536)), dumper(pcap_dump_open(dead, path.c_str())) {
  if (dumper == nullptr) throw std::runtime_error("cannot write " + path + ": " + pcap_geterr(dead));
}

CaptureWriter::~CaptureWriter() {
  pcap_dump_close(dumper);
  pcap_close(dead);
}

void CaptureWriter::Write(const std::vector<unsigned char>& frame) {
  pcap_pkthdr header{};
  header.ts.tv_sec = 1796000000 + frames / 1000;
  header.ts.tv_usec = static_cast<decltype(header.ts.tv_usec)>((frames % 1000) * 1000);
  header.caplen = static_cast<bpf_u_int32>(frame.size());
  header.len = header.caplen;
  pcap_dump(reinterpret_cast<unsigned char*>(dumper), &header, frame.data());
  ++frames;
}

}  // namespace tillwire
