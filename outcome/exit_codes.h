// Every way a run of Tillwire can end, as the process exit code of a
// playback (tillwire -f) and as the service-specific exit code that the
// service manager shows (ServiceExitCode: the code's magnitude). A stop
// request and the end of a capture file are 0.
#ifndef TILLWIRE_OUTCOME_EXIT_CODES_H
#define TILLWIRE_OUTCOME_EXIT_CODES_H

namespace tillwire {

// Start failures: the process ends at once, from the program's entry.
// Tillwire.xml cannot be loaded or parsed, or the capture file or adapter
// cannot be opened.
inline constexpr int kExitConfigurationNotLoaded = -1;
inline constexpr int kExitCaptureNotOpened = -1;
// Tillwire.xml has no root element.
inline constexpr int kExitNoRootElement = -2;
// No capture library, no adapter list, or no adapter to choose.
inline constexpr int kExitNoCaptureDevice = -3;

// A run that ended by itself, in order (service-specific code: the magnitude).
// The capture's link type cannot be decoded.
inline constexpr int kUnsupportedLinkTypeResult = -4;
// An error (an exception) ended the run.
inline constexpr int kEngineErrorResult = -5;
// A capture file that could not be read to its end.
inline constexpr int kDamagedCaptureResult = -6;
// No terminal of Tillwire.xml could be used.
inline constexpr int kNoTerminalsResult = -7;

}  // namespace tillwire

#endif
