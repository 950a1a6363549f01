// Writes the frame target's seed corpus (tests/fuzz/frame/seeds/) with the
// tests' frame builder: one frame of each shape the decoder tells apart, with
// addresses that the target's terminals match. Run by hand when the shapes
// change:  make_frame_seeds tests/fuzz/frame/seeds
#include "support/frame_builder.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using namespace tillwire;

namespace {

FrameFields Tcp() {
  FrameFields fields;
  fields.payload = "RECEIPT 0042\nTOTAL 12.50\n";
  return fields;
}

FrameFields Udp() {
  FrameFields fields = Tcp();
  fields.protocol = 17;
  return fields;
}

std::vector<std::pair<std::string, std::vector<unsigned char>>> Seeds() {
  FrameFields vlan = Tcp();
  vlan.vlanId = 10;
  FrameFields tcpOptions = Tcp();
  tcpOptions.tcpHeaderWords = 8;
  FrameFields ipOptions = Udp();
  ipOptions.ipHeaderWords = 6;
  FrameFields padded = Udp();
  padded.payload = "OK";
  padded.padTo = 60;
  FrameFields cut = Tcp();
  cut.totalLength = 400;  // more than the frame carries
  FrameFields ack = Tcp();
  ack.payload.clear();
  FrameFields keyOrder = Tcp();
  keyOrder.srcAddress = 0x0A000005;  // 10.0.0.5
  keyOrder.dstAddress = 0x0A000009;  // 10.0.0.9
  FrameFields ipv6 = Tcp();
  ipv6.etherType = 0x86DD;
  // The segments that open and close flows, with acknowledgment numbers.
  FrameFields syn = ack;
  syn.tcpFlags = 0x02;
  syn.tcpSequence = 1000;
  FrameFields data = Tcp();
  data.tcpSequence = 1001;
  data.tcpAcknowledgment = 5001;
  FrameFields fin = data;
  fin.payload.clear();
  fin.tcpFlags = 0x11;
  fin.tcpSequence = 1001 + static_cast<std::uint32_t>(data.payload.size());
  FrameFields reverseFin = fin;
  std::swap(reverseFin.srcAddress, reverseFin.dstAddress);
  std::swap(reverseFin.srcPort, reverseFin.dstPort);
  reverseFin.tcpSequence = 5001;
  reverseFin.tcpAcknowledgment = fin.tcpSequence + 1;
  FrameFields rst = reverseFin;
  rst.tcpFlags = 0x04;
  return {
      {"tcp", BuildFrame(Tcp())},          {"udp", BuildFrame(Udp())},
      {"vlan-tcp", BuildFrame(vlan)},      {"tcp-options", BuildFrame(tcpOptions)},
      {"ip-options", BuildFrame(ipOptions)}, {"padded-udp", BuildFrame(padded)},
      {"cut-payload", BuildFrame(cut)},    {"tcp-ack", BuildFrame(ack)},
      {"key-order", BuildFrame(keyOrder)}, {"ipv6", BuildFrame(ipv6)},
      {"arp", ArpFrame()},
      {"tcp-syn", BuildFrame(syn)},        {"tcp-data-ack", BuildFrame(data)},
      {"tcp-fin", BuildFrame(fin)},        {"tcp-fin-reverse", BuildFrame(reverseFin)},
      {"tcp-rst", BuildFrame(rst)},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_frame_seeds DIRECTORY\n");
    return 2;
  }
  for (const auto& seed : Seeds()) {
    std::ofstream file(std::string(argv[1]) + "/" + seed.first, std::ios::binary);
    file.write(reinterpret_cast<const char*>(seed.second.data()),
               static_cast<std::streamsize>(seed.second.size()));
    if (!file) {
      std::fprintf(stderr, "cannot write %s/%s\n", argv[1], seed.first.c_str());
      return 1;
    }
  }
  return 0;
}
