// A fake of the platform's service contracts (platform/service_run.h,
// service_events.h, service_registration.h, console_stop.h) for the service
// host's tests: a test executable links tillwire_fake_service_platform in
// place of tillwire_service_platform. It records what the service reports
// and lets the test script what the service manager does; nothing reaches a
// real service manager or log.
//
// The functions act on the FakeServicePlatform made last that still exists
// (make one per test or case) and abort when there is none. Calls may come
// from any thread.
//
//   FakeServicePlatform platform;
//   platform.DeliverRequests({FakeServicePlatform::kStop});
//   RunServiceDispatcher(work);  // the code under test
//   EXPECT_EQ(platform.Reports(), ...);
#ifndef TILLWIRE_TESTS_SUPPORT_FAKE_SERVICE_PLATFORM_H
#define TILLWIRE_TESTS_SUPPORT_FAKE_SERVICE_PLATFORM_H

#include "platform/service_events.h"
#include "platform/service_registration.h"
#include "platform/service_run.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

struct FakeServicePlatformState;

class FakeServicePlatform {
 public:
  // In DeliverRequests: a stop request. Any other number is a request the
  // service does not know.
  static constexpr std::uint32_t kStop = 0xffffffff;

  // One ReportServiceState.
  struct Report {
    tillwire::ServiceState state;
    std::uint32_t exitCode, checkPoint, waitHintMs;
    bool operator==(const Report& other) const;
  };

  FakeServicePlatform();
  ~FakeServicePlatform();
  FakeServicePlatform(const FakeServicePlatform&) = delete;
  FakeServicePlatform& operator=(const FakeServicePlatform&) = delete;

  // --- Script ---

  // RunAsService calls the service's start on the calling thread, then hands
  // it these requests in order, then returns success. (A start that waits
  // for its stop request would wait forever.)
  void DeliverRequests(const std::vector<std::uint32_t>& requests);
  // RunAsService calls startWithoutControls instead of start.
  void RefuseControls();
  // RunAsService fails at once with outcome.
  void FailDispatch(tillwire::DispatchOutcome outcome);
  // What ServiceManagerKeepsOutput answers (false by default).
  void SetServiceManagerKeepsOutput(bool keeps);
  // What LastSystemError answers (0 by default).
  void SetLastSystemError(std::uint32_t error);
  // Whether IsServiceInstalled finds the service (not by default), and what
  // RegisterService and RemoveService answer (kInstalled and kDeleted alone by
  // default). Registering installs the service; removing uninstalls it.
  void SetInstalled(bool installed);
  void ScriptRegistration(const std::vector<tillwire::RegistrationEvent>& events);
  void ScriptRemoval(const std::vector<tillwire::RegistrationEvent>& events);

  // A console stop request, as the console raises it: handed to the watch
  // (WatchConsoleStop) on the calling thread. False when no watch runs
  // (the system would then end the process).
  bool ConsoleStop();
  bool Watching() const;

  // --- Records ---

  std::vector<Report> Reports() const;
  // Events as "information: SOURCE | MESSAGE" or "error: ...".
  std::vector<std::string> Events() const;
  // The services RegisterService was asked for.
  std::vector<tillwire::ServiceDefinition> Registrations() const;

 private:
  std::unique_ptr<FakeServicePlatformState> state;
  FakeServicePlatformState* previous;  // the one in use before this, again afterwards
};

std::ostream& operator<<(std::ostream& out, const FakeServicePlatform::Report& report);

#endif
