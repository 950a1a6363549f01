#include "platform/console_stop.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <mutex>

namespace tillwire {

namespace {

std::mutex mutex;
std::function<void()> stopWatcher;

// Takes Ctrl-C and Ctrl-Break as a stop request (TRUE) and leaves every other
// event (closing the console, logoff, shutdown) to the system (FALSE).
BOOL WINAPI ConsoleControlHandler(DWORD control) {
  if (control != CTRL_C_EVENT && control != CTRL_BREAK_EVENT) return FALSE;
  std::function<void()> onStop;
  {
    const std::lock_guard<std::mutex> lock(mutex);
    onStop = stopWatcher;
  }
  if (!onStop) return FALSE;
  onStop();
  return TRUE;
}

}  // namespace

bool WatchConsoleStop(std::function<void()> onStop) {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    stopWatcher = std::move(onStop);
  }
  return SetConsoleCtrlHandler(&ConsoleControlHandler, TRUE) != FALSE;
}

void EndConsoleStopWatch() {
  SetConsoleCtrlHandler(&ConsoleControlHandler, FALSE);
  const std::lock_guard<std::mutex> lock(mutex);
  stopWatcher = nullptr;
}

}  // namespace tillwire
