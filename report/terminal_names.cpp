#include "report/terminal_names.h"

namespace tillwire {

std::string TerminalName(const std::string& key, const TerminalRecord& record) {
  return "terminal " + key + " (NvrPort " + record.nvrPort + ")";
}

std::string GroupedCount(std::uint64_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

}  // namespace tillwire
