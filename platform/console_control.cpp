// The console's control events on POSIX: SIGINT and SIGTERM, caught by a
// handler that only writes the signal's number to a pipe, and handed to the
// registered handlers by a thread that reads the pipe, so that the handlers
// may log, lock and wait as they can on Windows.
#include "platform/windows_api.h"

#include "platform/console_handlers.h"
#include "platform/failure.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

std::mutex mutex;
ConsoleHandlers handlers;
bool watching = false;
int signalPipe[2] = {-1, -1};

const int kSignals[] = {SIGINT, SIGTERM};

extern "C" void OnSignal(int number) {
  const int savedError = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  // Non-blocking: a burst of signals that fills the pipe loses only repeats.
  (void)!write(signalPipe[1], &byte, 1);
  errno = savedError;
}

DWORD EventOf(int number) { return number == SIGINT ? CTRL_C_EVENT : CTRL_BREAK_EVENT; }

// Hands the event to the handlers; true once one has taken it.
bool Deliver(DWORD event) {
  ConsoleHandlers current;
  {
    const std::lock_guard<std::mutex> lock(mutex);
    current = handlers;
  }
  return current.Deliver(event);
}

// Ends the process as the signal would have without a handler.
void TakeDefaultAction(int number) {
  signal(number, SIG_DFL);
  raise(number);
}

void Watch() {
  sigset_t ours;
  sigemptyset(&ours);
  for (int number : kSignals) sigaddset(&ours, number);
  pthread_sigmask(SIG_UNBLOCK, &ours, nullptr);
  for (;;) {
    unsigned char byte = 0;
    const ssize_t count = read(signalPipe[0], &byte, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count != 1) return;
    if (!Deliver(EventOf(byte))) TakeDefaultAction(byte);
  }
}

// Starts the watching thread and catches the signals, once; false when a
// pipe or a thread cannot be had.
bool StartWatching() {
  if (watching) return true;
  if (pipe2(signalPipe, O_CLOEXEC) != 0) return false;
  fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
  try {
    std::thread(Watch).detach();
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
  watching = true;
  return true;
}

}  // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add) {
  if (HandlerRoutine == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const std::lock_guard<std::mutex> lock(mutex);
  if (Add) {
    if (!StartWatching()) return Fail(ERROR_GEN_FAILURE);
    handlers.Add(HandlerRoutine);
    return TRUE;
  }
  return handlers.Remove(HandlerRoutine) ? TRUE : Fail(ERROR_INVALID_PARAMETER);
}
