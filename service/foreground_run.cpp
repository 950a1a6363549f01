#include "service/foreground_run.h"

#include "log/log_file.h"
#include "platform/console_stop.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

namespace tillwire {

namespace {

// What the console's stop and the waiting run share. The stop only raises
// the request: the run's own thread logs it and interrupts the work,
// so the work's thread object is touched by that thread alone.
struct ForegroundState {
  boost::mutex mutex;
  boost::condition_variable changed;
  bool stopRequested = false;
  bool workEnded = false;
};

// Never destroyed: a run that cannot start ends the process from the work's
// thread (std::exit) while the calling thread waits on the condition, and
// destroying a condition with a waiter would hang the exit.
ForegroundState& foreground = *new ForegroundState;

// Raises the stop request; the run's own thread acts on it.
void RequestStop() {
  const boost::mutex::scoped_lock lock(foreground.mutex);
  foreground.stopRequested = true;
  foreground.changed.notify_all();
}

}  // namespace

int RunInForeground(ServiceWork work, ForegroundStop stopLine) {
  {
    const boost::mutex::scoped_lock lock(foreground.mutex);
    foreground.stopRequested = false;
    foreground.workEnded = false;
  }
  // Without the watch the run still works; the request then ends the
  // process abruptly, without the stop lines.
  WatchConsoleStop(&RequestStop);
  int result = 0;
  boost::thread worker([&work, &result] {
    result = work();
    const boost::mutex::scoped_lock lock(foreground.mutex);
    foreground.workEnded = true;
    foreground.changed.notify_all();
  });
  bool stop = false;
  {
    boost::mutex::scoped_lock lock(foreground.mutex);
    while (!foreground.stopRequested && !foreground.workEnded) foreground.changed.wait(lock);
    stop = !foreground.workEnded;
  }
  if (stop) {
    if (stopLine == ForegroundStop::kLogged) {
      LogLine(text::kStopRequest);
    }
    worker.interrupt();
  }
  worker.join();
  EndConsoleStopWatch();
  return result;
}

}  // namespace tillwire
