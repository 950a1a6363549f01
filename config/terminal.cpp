#include "config/terminal.h"

Terminal::Terminal(boost::asio::io_service& eventQueue, const std::string& srcAddress,
                   const std::string& dstAddress, const std::string& srcPort,
                   const std::string& dstPort, const std::string& nvrAddress,
                   const std::string& nvrPort)
    : channel(new TerminalConnection(eventQueue, nvrAddress, nvrPort)),
      srcAddress(srcAddress),
      dstAddress(dstAddress),
      srcPort(srcPort),
      dstPort(dstPort),
      nvrAddress(nvrAddress),
      nvrPort(nvrPort) {}

std::string TerminalKey(const std::string& srcAddress, const std::string& srcPort,
                        const std::string& dstAddress, const std::string& dstPort) {
  return srcAddress + ":" + srcPort + ":" + dstAddress + ":" + dstPort;
}
