// The run's own lines in the log, each whole, made from its values. The
// capture source's lines are the source's (source/source_texts.h).
#ifndef TILLWIRE_RUN_RUN_TEXTS_H
#define TILLWIRE_RUN_RUN_TEXTS_H

#include <string>

namespace tillwire {
namespace text {

// "------ Starting Tillwire version <the build's version>"
std::string StartBannerLine();
inline constexpr char kNoTerminals[] = "No terminals were configured correctly. Exiting.";
// "EOF: <the capture library's text>", at the end of a capture file.
std::string EndOfFileLine(const std::string& libraryText);
inline constexpr char kStopSignal[] = "Received stop signal from SCM";
// "Exception: <what>"
std::string ExceptionLine(const std::string& what);
inline constexpr char kExiting[] = "Exiting.";

}  // namespace text
}  // namespace tillwire

#endif
