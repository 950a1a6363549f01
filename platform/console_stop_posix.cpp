// A console's stop request on POSIX: SIGINT and SIGTERM, caught by a handler
// that only writes the signal's number to a pipe, and handed on by a thread
// that reads the pipe, so that the stop may log, lock and wait.
#include "platform/console_stop.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace tillwire {

namespace {

std::mutex mutex;
std::function<void()> stopWatcher;  // empty while no watch runs
bool catching = false;
int signalPipe[2] = {-1, -1};

const int kSignals[] = {SIGINT, SIGTERM};

extern "C" void OnSignal(int number) {
  const int savedError = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  // Non-blocking: a burst of signals that fills the pipe loses only repeats.
  (void)!write(signalPipe[1], &byte, 1);
  errno = savedError;
}

// Ends the process as the signal would have without a handler.
void TakeDefaultAction(int number) {
  signal(number, SIG_DFL);
  raise(number);
}

void HandOn() {
  sigset_t ours;
  sigemptyset(&ours);
  for (int number : kSignals) sigaddset(&ours, number);
  pthread_sigmask(SIG_UNBLOCK, &ours, nullptr);
  for (;;) {
    unsigned char byte = 0;
    const ssize_t count = read(signalPipe[0], &byte, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count != 1) return;
    std::function<void()> onStop;
    {
      const std::lock_guard<std::mutex> lock(mutex);
      onStop = stopWatcher;
    }
    if (onStop) {
      onStop();
    } else {
      TakeDefaultAction(byte);
    }
  }
}

// Starts the handing-on thread and catches the signals, once; false when a
// pipe or a thread cannot be had.
bool StartCatching() {
  if (catching) return true;
  if (pipe2(signalPipe, O_CLOEXEC) != 0) return false;
  fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
  try {
    std::thread(HandOn).detach();
  } catch (const std::system_error&) {
    close(signalPipe[0]);
    close(signalPipe[1]);
    return false;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : kSignals) sigaction(number, &action, nullptr);
  catching = true;
  return true;
}

}  // namespace

bool WatchConsoleStop(std::function<void()> onStop) {
  const std::lock_guard<std::mutex> lock(mutex);
  if (!StartCatching()) return false;
  stopWatcher = std::move(onStop);
  return true;
}

void EndConsoleStopWatch() {
  const std::lock_guard<std::mutex> lock(mutex);
  stopWatcher = nullptr;
}

}  // namespace tillwire
