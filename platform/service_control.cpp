// The service's side of systemd: the control dispatcher, which turns SIGTERM
// into a stop control, and status reports, which become sd_notify messages.
#include "platform/windows_api.h"

#include "platform/failure.h"
#include "platform/service_notify.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <system_error>
#include <systemd/sd-daemon.h>
#include <thread>
#include <unistd.h>

// The process's one service: its handler, what it last reported, and how a
// report reaches a running dispatcher. Its address is the status handle.
struct SERVICE_STATUS_HANDLE__ {
  std::mutex mutex;
  LPHANDLER_FUNCTION handler = nullptr;
  DWORD state = 0;  // 0 until the first report of a dispatcher run
  DWORD controlsAccepted = 0;
  bool stopRequested = false;  // a SIGTERM not yet handed to the handler
  int reportEvent = -1;        // the running dispatcher's eventfd
};

namespace {

SERVICE_STATUS_HANDLE__ service;
std::atomic<bool> dispatching{false};

// One run of the dispatcher: SIGTERM blocked in the calling thread (threads
// started from it inherit that) and read from a signalfd, and an eventfd that
// status reports signal. Undone on destruction.
class DispatcherRun {
 public:
  DispatcherRun() {
    sigset_t terminate;
    sigemptyset(&terminate);
    sigaddset(&terminate, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &terminate, &previousMask);
    signals = signalfd(-1, &terminate, SFD_CLOEXEC);
    reports = eventfd(0, EFD_CLOEXEC);
    std::lock_guard<std::mutex> lock(service.mutex);
    service.state = 0;
    service.stopRequested = false;
    service.reportEvent = reports;
  }

  ~DispatcherRun() {
    {
      std::lock_guard<std::mutex> lock(service.mutex);
      service.reportEvent = -1;
    }
    if (reports >= 0) close(reports);
    if (signals >= 0) close(signals);
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  }

  DispatcherRun(const DispatcherRun&) = delete;
  DispatcherRun& operator=(const DispatcherRun&) = delete;

  bool Ready() const { return signals >= 0 && reports >= 0; }

  // Waits for SIGTERM or a status report and consumes what came; true when
  // SIGTERM did.
  bool Wait() {
    pollfd descriptors[] = {{signals, POLLIN, 0}, {reports, POLLIN, 0}};
    while (poll(descriptors, 2, -1) < 0 && errno == EINTR) {
    }
    if (descriptors[1].revents & POLLIN) {
      std::uint64_t count;
      (void)!read(reports, &count, sizeof count);
    }
    if (!(descriptors[0].revents & POLLIN)) return false;
    signalfd_siginfo signal;
    return read(signals, &signal, sizeof signal) == sizeof signal;
  }

 private:
  sigset_t previousMask;
  int signals;
  int reports;
};

// Acts on what the last wait brought: hands a pending stop to the handler
// once the service accepts it. True once the service has reported stopped.
bool Step(bool terminate) {
  LPHANDLER_FUNCTION handler = nullptr;
  {
    std::lock_guard<std::mutex> lock(service.mutex);
    if (terminate) service.stopRequested = true;
    if (service.state == SERVICE_STOPPED) return true;
    if (service.stopRequested && service.handler != nullptr &&
        (service.controlsAccepted & SERVICE_ACCEPT_STOP) != 0) {
      handler = service.handler;
      service.stopRequested = false;
    }
  }
  if (handler != nullptr) handler(SERVICE_CONTROL_STOP);
  return false;
}

void RunServiceMain(SERVICE_TABLE_ENTRYA entry) {
  LPSTR arguments[] = {entry.lpServiceName, nullptr};
  entry.lpServiceProc(1, arguments);
}

BOOL Dispatch(const SERVICE_TABLE_ENTRYA& entry) {
  DispatcherRun run;
  if (!run.Ready()) return Fail(ERROR_GEN_FAILURE);
  std::thread serviceMain;
  try {
    serviceMain = std::thread(RunServiceMain, entry);
  } catch (const std::system_error&) {
    return Fail(ERROR_GEN_FAILURE);
  }
  while (!Step(run.Wait())) {
  }
  serviceMain.join();
  return TRUE;
}

// Keeps what the dispatcher needs of a report and wakes it.
void Record(const SERVICE_STATUS& status) {
  std::lock_guard<std::mutex> lock(service.mutex);
  service.state = status.dwCurrentState;
  service.controlsAccepted = status.dwControlsAccepted;
  if (service.reportEvent >= 0) {
    const std::uint64_t one = 1;
    (void)!write(service.reportEvent, &one, sizeof one);
  }
}

}  // namespace

BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* lpServiceStartTable) {
  if (std::getenv("NOTIFY_SOCKET") == nullptr) {
    return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  }
  if (lpServiceStartTable == nullptr || lpServiceStartTable[0].lpServiceProc == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (dispatching.exchange(true)) return Fail(ERROR_SERVICE_ALREADY_RUNNING);
  const BOOL result = Dispatch(lpServiceStartTable[0]);
  dispatching = false;
  return result;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR /*lpServiceName*/,
                                                  LPHANDLER_FUNCTION lpHandlerProc) {
  if (lpHandlerProc == nullptr) return FailNull(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> lock(service.mutex);
  service.handler = lpHandlerProc;
  return &service;
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus) {
  if (hServiceStatus != &service) return Fail(ERROR_INVALID_HANDLE);
  if (lpServiceStatus == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const std::string message = NotifyMessage(*lpServiceStatus);
  if (message.empty()) return Fail(ERROR_INVALID_DATA);
  // Sent before the dispatcher learns of it: systemd hears of the stop
  // before the dispatcher can return and the process end.
  const int sent = sd_notify(0, message.c_str());
  Record(*lpServiceStatus);
  if (sent <= 0) return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  return TRUE;
}
