// The service's side of systemd: a notify service whose states become
// sd_notify messages, and whose stop request is SIGTERM.
#include "platform/service_run.h"

#include "platform/service_notify.h"

#include <atomic>
#include <cerrno>
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

namespace tillwire {

namespace {

// The codes of the dispatcher's failures as Windows gives them, so that the
// exit status and the error events read alike on both systems.
const std::uint32_t kNotStartedByServiceManager = 1063;
const std::uint32_t kAlreadyRunning = 1056;
const std::uint32_t kGeneralFailure = 31;

// What the dispatcher knows of the service: what it last reported, a SIGTERM
// not yet handed on, and how a report wakes the dispatcher.
struct ServiceRecord {
  std::mutex mutex;
  bool reported = false;  // a state was reported in this dispatcher run
  ServiceState state = ServiceState::kStartPending;
  bool stopRequested = false;
  int reportEvent = -1;  // the running dispatcher's eventfd
};

ServiceRecord service;
std::atomic<bool> dispatching{false};

// One run of the dispatcher: SIGTERM blocked in the calling thread (threads
// started from it inherit that) and read from a signalfd, and an eventfd that
// state reports signal. Undone on destruction.
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
    service.reported = false;
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

  // Waits for SIGTERM or a state report and consumes what came; true when
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

// Acts on what the last wait brought: hands a pending stop to the service
// once it accepts one (it has reported a state other than start pending).
// True once the service has reported stopped.
bool Step(bool terminate, const ServiceCalls& calls) {
  bool stop = false;
  {
    std::lock_guard<std::mutex> lock(service.mutex);
    if (terminate) service.stopRequested = true;
    if (service.reported && service.state == ServiceState::kStopped) return true;
    if (service.stopRequested && service.reported &&
        service.state != ServiceState::kStartPending) {
      stop = true;
      service.stopRequested = false;
    }
  }
  if (stop) calls.stop();
  return false;
}

DispatchOutcome Dispatch(const ServiceCalls& calls) {
  DispatcherRun run;
  if (!run.Ready()) return {DispatchFailure::kOther, kGeneralFailure};
  std::thread serviceMain;
  try {
    serviceMain = std::thread(calls.start);
  } catch (const std::system_error&) {
    return {DispatchFailure::kOther, kGeneralFailure};
  }
  while (!Step(run.Wait(), calls)) {
  }
  serviceMain.join();
  return {DispatchFailure::kNone, 0};
}

// Keeps what the dispatcher needs of a report and wakes it.
void Record(ServiceState state) {
  std::lock_guard<std::mutex> lock(service.mutex);
  service.reported = true;
  service.state = state;
  if (service.reportEvent >= 0) {
    const std::uint64_t one = 1;
    (void)!write(service.reportEvent, &one, sizeof one);
  }
}

}  // namespace

bool ServiceManagerKeepsOutput() { return std::getenv("NOTIFY_SOCKET") != nullptr; }

DispatchOutcome RunAsService(const std::string& /*name*/, const ServiceCalls& calls) {
  if (std::getenv("NOTIFY_SOCKET") == nullptr) {
    return {DispatchFailure::kNotStartedByServiceManager, kNotStartedByServiceManager};
  }
  if (dispatching.exchange(true)) return {DispatchFailure::kAlreadyRunning, kAlreadyRunning};
  const DispatchOutcome outcome = Dispatch(calls);
  dispatching = false;
  return outcome;
}

bool ReportServiceState(ServiceState state, std::uint32_t serviceExitCode,
                        std::uint32_t /*checkPoint*/, std::uint32_t waitHintMs) {
  // Sent before the dispatcher learns of it: systemd hears of the stop
  // before the dispatcher can return and the process end.
  const int sent = sd_notify(0, NotifyMessage(state, serviceExitCode, waitHintMs).c_str());
  Record(state);
  return sent > 0;
}

std::uint32_t LastSystemError() { return static_cast<std::uint32_t>(errno); }

}  // namespace tillwire
