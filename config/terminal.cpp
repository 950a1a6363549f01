#include "config/terminal.h"

std::string TerminalKey(const TerminalFilter& filter) {
  return filter.srcAddress + ":" + filter.srcPort + ":" + filter.dstAddress + ":" + filter.dstPort;
}
