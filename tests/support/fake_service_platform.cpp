#include "support/fake_service_platform.h"

#include "platform/console_stop.h"

#include <cstdlib>
#include <mutex>

using namespace tillwire;

struct FakeServicePlatformState {
  mutable std::mutex mutex;
  std::vector<std::uint32_t> requests;
  bool refuseControls = false;
  DispatchOutcome dispatchFailure{DispatchFailure::kNone, 0};
  std::uint32_t lastSystemError = 0;
  bool keepsOutput = false;
  bool installed = false;
  std::vector<RegistrationEvent> registration{{RegistrationStep::kInstalled, 0}};
  std::vector<RegistrationEvent> removal{{RegistrationStep::kDeleted, 0}};
  std::function<void()> consoleStop;
  std::vector<FakeServicePlatform::Report> reports;
  std::vector<std::string> events;
  std::vector<ServiceDefinition> registrations;
};

namespace {

std::mutex currentMutex;
FakeServicePlatformState* current = nullptr;

FakeServicePlatformState& Current() {
  const std::lock_guard<std::mutex> lock(currentMutex);
  if (current == nullptr) std::abort();
  return *current;
}

bool Succeeded(const std::vector<RegistrationEvent>& events, RegistrationStep success) {
  for (const RegistrationEvent& event : events) {
    if (event.step == success) return true;
  }
  return false;
}

}  // namespace

bool FakeServicePlatform::Report::operator==(const Report& other) const {
  return state == other.state && exitCode == other.exitCode && checkPoint == other.checkPoint &&
         waitHintMs == other.waitHintMs;
}

std::ostream& operator<<(std::ostream& out, const FakeServicePlatform::Report& report) {
  return out << "{state " << static_cast<int>(report.state) << ", exit code " << report.exitCode
             << ", check point " << report.checkPoint << ", wait hint " << report.waitHintMs
             << "}";
}

FakeServicePlatform::FakeServicePlatform() : state(new FakeServicePlatformState) {
  const std::lock_guard<std::mutex> lock(currentMutex);
  previous = current;
  current = state.get();
}

FakeServicePlatform::~FakeServicePlatform() {
  const std::lock_guard<std::mutex> lock(currentMutex);
  current = previous;
}

void FakeServicePlatform::DeliverRequests(const std::vector<std::uint32_t>& requests) {
  const std::lock_guard<std::mutex> lock(state->mutex);
  state->requests = requests;
}

void FakeServicePlatform::RefuseControls() {
  const std::lock_guard<std::mutex> lock(state->mutex);
  state->refuseControls = true;
}

void FakeServicePlatform::FailDispatch(DispatchOutcome outcome) {
  const std::lock_guard<std::mutex> lock(state->mutex);
  state->dispatchFailure = outcome;
}

void FakeServicePlatform::SetServiceManagerKeepsOutput(bool keeps) {
  const std::lock_guard<std::mutex> lock(state->mutex);
  state->keepsOutput = keeps;
}

void FakeServicePlatform::SetLastSystemError(std::uint32_t error) {
  const std::lock_guard<std::mutex> lock(state->mutex);
  state->lastSystemError = error;
}

void FakeServicePlatform::SetInstalled(bool installed) {
  const std::lock_guard<std::mutex> lock(state->mutex);
  state->installed = installed;
}

void FakeServicePlatform::ScriptRegistration(const std::vector<RegistrationEvent>& events) {
  const std::lock_guard<std::mutex> lock(state->mutex);
  state->registration = events;
}

void FakeServicePlatform::ScriptRemoval(const std::vector<RegistrationEvent>& events) {
  const std::lock_guard<std::mutex> lock(state->mutex);
  state->removal = events;
}

bool FakeServicePlatform::ConsoleStop() {
  std::function<void()> onStop;
  {
    const std::lock_guard<std::mutex> lock(state->mutex);
    onStop = state->consoleStop;
  }
  if (!onStop) return false;
  onStop();
  return true;
}

bool FakeServicePlatform::Watching() const {
  const std::lock_guard<std::mutex> lock(state->mutex);
  return static_cast<bool>(state->consoleStop);
}

std::vector<FakeServicePlatform::Report> FakeServicePlatform::Reports() const {
  const std::lock_guard<std::mutex> lock(state->mutex);
  return state->reports;
}

std::vector<std::string> FakeServicePlatform::Events() const {
  const std::lock_guard<std::mutex> lock(state->mutex);
  return state->events;
}

std::vector<ServiceDefinition> FakeServicePlatform::Registrations() const {
  const std::lock_guard<std::mutex> lock(state->mutex);
  return state->registrations;
}

// --- The contracts, on the current fake ---

namespace tillwire {

DispatchOutcome RunAsService(const std::string&, const ServiceCalls& calls) {
  FakeServicePlatformState& fake = Current();
  std::vector<std::uint32_t> requests;
  bool refuse;
  {
    const std::lock_guard<std::mutex> lock(fake.mutex);
    if (fake.dispatchFailure.failure != DispatchFailure::kNone) return fake.dispatchFailure;
    requests = fake.requests;
    refuse = fake.refuseControls;
  }
  if (refuse) {
    calls.startWithoutControls();
    return {DispatchFailure::kNone, 0};
  }
  calls.start();
  for (std::uint32_t request : requests) {
    if (request == FakeServicePlatform::kStop) {
      calls.stop();
    } else {
      calls.unknownRequest(request);
    }
  }
  return {DispatchFailure::kNone, 0};
}

bool ReportServiceState(ServiceState state, std::uint32_t serviceExitCode,
                        std::uint32_t checkPoint, std::uint32_t waitHintMs) {
  FakeServicePlatformState& fake = Current();
  const std::lock_guard<std::mutex> lock(fake.mutex);
  fake.reports.push_back({state, serviceExitCode, checkPoint, waitHintMs});
  return true;
}

bool ServiceManagerKeepsOutput() {
  FakeServicePlatformState& fake = Current();
  const std::lock_guard<std::mutex> lock(fake.mutex);
  return fake.keepsOutput;
}

std::uint32_t LastSystemError() {
  FakeServicePlatformState& fake = Current();
  const std::lock_guard<std::mutex> lock(fake.mutex);
  return fake.lastSystemError;
}

void ReportServiceEvent(const std::string& source, ServiceEventType type,
                        const std::string& message) {
  FakeServicePlatformState& fake = Current();
  const std::lock_guard<std::mutex> lock(fake.mutex);
  fake.events.push_back((type == ServiceEventType::kError ? "error: " : "information: ") +
                        source + " | " + message);
}

bool IsServiceInstalled(const std::string&) {
  FakeServicePlatformState& fake = Current();
  const std::lock_guard<std::mutex> lock(fake.mutex);
  return fake.installed;
}

std::vector<RegistrationEvent> RegisterService(const ServiceDefinition& service) {
  FakeServicePlatformState& fake = Current();
  const std::lock_guard<std::mutex> lock(fake.mutex);
  fake.registrations.push_back(service);
  fake.installed = Succeeded(fake.registration, RegistrationStep::kInstalled);
  return fake.registration;
}

std::vector<RegistrationEvent> RemoveService(const std::string&) {
  FakeServicePlatformState& fake = Current();
  const std::lock_guard<std::mutex> lock(fake.mutex);
  fake.installed = !Succeeded(fake.removal, RegistrationStep::kDeleted);
  return fake.removal;
}

bool WatchConsoleStop(std::function<void()> onStop) {
  FakeServicePlatformState& fake = Current();
  const std::lock_guard<std::mutex> lock(fake.mutex);
  fake.consoleStop = std::move(onStop);
  return true;
}

void EndConsoleStopWatch() {
  FakeServicePlatformState& fake = Current();
  const std::lock_guard<std::mutex> lock(fake.mutex);
  fake.consoleStop = nullptr;
}

}  // namespace tillwire
