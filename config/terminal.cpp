#include "config/terminal.h"

namespace tillwire {

std::string TerminalKey(const TerminalFilter& filter) {
  return filter.srcAddress + ":" + filter.srcPort + ":" + filter.dstAddress + ":" + filter.dstPort;
}

}  // namespace tillwire
