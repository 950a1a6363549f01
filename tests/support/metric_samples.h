// Reading samples back from a Prometheus text exposition: a metrics file
// that the program wrote, or what an exporter serves (which may order the
// labels otherwise).
#ifndef TILLWIRE_TESTS_SUPPORT_METRIC_SAMPLES_H
#define TILLWIRE_TESTS_SUPPORT_METRIC_SAMPLES_H

#include <map>
#include <optional>
#include <string>

namespace tillwire {

using MetricLabels = std::map<std::string, std::string>;

// The value of the first sample named name whose labels include every one
// of labels (values as written, escapes and all), or none.
std::optional<double> SampleValue(const std::string& exposition, const std::string& name,
                                  const MetricLabels& labels = {});

}  // namespace tillwire

#endif
