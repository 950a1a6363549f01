#include "run/run_texts.h"

namespace tillwire {
namespace text {

// The version is the build's (the CMake project version).
std::string StartBannerLine() {
  return std::string("------ Starting Tillwire version ") + TILLWIRE_VERSION;
}

std::string EndOfFileLine(const std::string& libraryText) { return "EOF: " + libraryText; }

std::string ExceptionLine(const std::string& what) { return "Exception: " + what; }

}  // namespace text
}  // namespace tillwire
