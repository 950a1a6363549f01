#include "platform/service_manager_paths.h"

namespace tillwire {

namespace {

ServiceManagerPaths& Paths() {
  static ServiceManagerPaths paths;
  return paths;
}

}  // namespace

void SetServiceManagerPathsForTesting(const ServiceManagerPaths& paths) { Paths() = paths; }

const ServiceManagerPaths& CurrentServiceManagerPaths() { return Paths(); }

}  // namespace tillwire
