#include "output/terminal_port.h"

namespace tillwire {

namespace {

const char kTerminalPort[] = "Terminal port ";

}  // namespace

std::string TerminalPortPrefix(const std::string& nvrPort) { return kTerminalPort + nvrPort; }

std::string TerminalPortPrefix(const std::string& nvrAddress, const std::string& nvrPort) {
  return kTerminalPort + nvrAddress + ":" + nvrPort;
}

}  // namespace tillwire
