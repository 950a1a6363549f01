// A stop asked for at the console: Ctrl-C and Ctrl-Break on Windows, SIGINT
// and SIGTERM elsewhere.
#ifndef TILLWIRE_PLATFORM_CONSOLE_STOP_H
#define TILLWIRE_PLATFORM_CONSOLE_STOP_H

#include <functional>

namespace tillwire {

// From now until EndConsoleStopWatch, a stop request calls onStop (on a
// thread of the system's, or of the watch's own) instead of ending the
// process; onStop may lock and wait. False when the requests cannot be
// watched: they then end the process as they would without a watch.
bool WatchConsoleStop(std::function<void()> onStop);

// Ends the watch; later requests end the process again.
void EndConsoleStopWatch();

}  // namespace tillwire

#endif
