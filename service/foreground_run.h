// A run in the foreground of a console (tillwire -f with a capture file or
// "" for live capture, tillwire -survey), stopped as the service is: Ctrl-C
// or Ctrl-Break (SIGINT or SIGTERM off Windows) ends it in order, with the
// stop lines of a service stop (none for a survey).
#ifndef TILLWIRE_SERVICE_FOREGROUND_RUN_H
#define TILLWIRE_SERVICE_FOREGROUND_RUN_H

#include "service/service_host.h"

namespace tillwire {

// Whether a stop request is logged as the service's is.
enum class ForegroundStop { kLogged, kNotLogged };

// Runs work on a thread of its own until it ends by itself or a console
// stop request (platform/console_stop.h) stops it; then logs the line of a service stop request
// (unless asked not to), interrupts the work (boost::thread::interrupt) and
// waits for its end. Returns the work's result: 0 after a stop.
int RunInForeground(ServiceWork work, ForegroundStop stopLine = ForegroundStop::kLogged);

}  // namespace tillwire

#endif
