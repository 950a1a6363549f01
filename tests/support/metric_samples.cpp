#include "support/metric_samples.h"

#include <sstream>

namespace tillwire {

namespace {

// The labels between a sample's braces: name="value" pairs separated by
// commas, the values' escapes kept as they are.
MetricLabels ParseLabels(const std::string& text) {
  MetricLabels labels;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t equals = text.find("=\"", at);
    if (equals == std::string::npos) break;
    std::size_t end = equals + 2;
    while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
    labels[text.substr(at, equals - at)] = text.substr(equals + 2, end - equals - 2);
    at = end + 2;  // past the quote and the comma
  }
  return labels;
}

bool Includes(const MetricLabels& all, const MetricLabels& wanted) {
  for (const auto& label : wanted) {
    const auto found = all.find(label.first);
    if (found == all.end() || found->second != label.second) return false;
  }
  return true;
}

}  // namespace

std::optional<double> SampleValue(const std::string& exposition, const std::string& name,
                                  const MetricLabels& labels) {
  std::istringstream lines(exposition);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t nameEnd = line.find_first_of("{ ");
    if (nameEnd == std::string::npos || line.compare(0, nameEnd, name) != 0 ||
        nameEnd != name.size()) {
      continue;
    }
    std::size_t valueStart = nameEnd + 1;
    MetricLabels found;
    if (line[nameEnd] == '{') {
      const std::size_t close = line.rfind("} ");
      if (close == std::string::npos) continue;
      found = ParseLabels(line.substr(nameEnd + 1, close - nameEnd - 1));
      valueStart = close + 2;
    }
    if (Includes(found, labels)) return std::stod(line.substr(valueStart));
  }
  return std::nullopt;
}

}  // namespace tillwire
