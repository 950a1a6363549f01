// Installation and removal against a fake service manager: what is asked of
// it, and every step's message on each of its channels (the console, the
// service's events, the program log).
#include "service/service_installer.h"

#include "support/fake_service_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tillwire;

namespace {

// The program log as the installer sees it: a plain function.
std::vector<std::string>& LoggedLines() {
  static std::vector<std::string> lines;
  return lines;
}

void RecordLine(const char* text) { LoggedLines().push_back(text); }

// What one installer call showed on its three channels.
struct Outcome {
  int result;
  std::string console;
  std::vector<std::string> events;
  std::vector<std::string> log;
};

Outcome Run(const FakeServicePlatform& platform, const std::function<int()>& operation) {
  LoggedLines().clear();
  testing::internal::CaptureStdout();
  const int result = operation();
  return Outcome{result, testing::internal::GetCapturedStdout(), platform.Events(),
                 LoggedLines()};
}

const ServiceDefinition kService{"Tillwire", "Tillwire", "Corvane Tillwire service", ""};

Outcome Install(const FakeServicePlatform& platform) {
  return Run(platform, [] { return InstallService(kService, &RecordLine); });
}

Outcome Uninstall(const FakeServicePlatform& platform) {
  return Run(platform, [] { return UninstallService("Tillwire", &RecordLine); });
}

TEST(Installer, RegistersTheServiceOnce) {
  FakeServicePlatform platform;
  const Outcome installed = Install(platform);
  EXPECT_EQ(installed.result, 0);
  EXPECT_EQ(installed.console, "Service installed successfully\n");
  EXPECT_EQ(installed.events, std::vector<std::string>{"information: Tillwire | Installed service."});
  EXPECT_EQ(installed.log, std::vector<std::string>{"Installed service."});
  ASSERT_EQ(platform.Registrations().size(), 1u);
  EXPECT_EQ(platform.Registrations()[0].description, "Corvane Tillwire service");

  // Already installed: the console alone says so.
  const Outcome again = Install(platform);
  EXPECT_EQ(again.result, 0);
  EXPECT_EQ(again.console, "The service is already installed\n");
  EXPECT_EQ(again.events.size(), 1u);
  EXPECT_TRUE(again.log.empty());
  EXPECT_EQ(platform.Registrations().size(), 1u);
}

TEST(Installer, InstallStepsOnTheirChannels) {
  struct Case {
    const char* name;
    std::vector<RegistrationEvent> steps;
    int result;
    std::string console;
    std::vector<std::string> events;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"no connection",
       {{RegistrationStep::kConnectFailed, 5}},
       -1,
       "",
       {"error: Tillwire | Unable to connect to service control manager during install.  Error "
        "code=0x00000005"},
       {"Unable to connect to service control manager during install."}},
      {"a path that does not fit",
       {{RegistrationStep::kProgramPathFailed, 122}},
       -1,
       "GetModuleFileName() failed. Error code=0x0000007a\n",
       {},
       {"GetModuleFileName() failed. Error code=0x0000007a"}},
      {"not created",
       {{RegistrationStep::kCreateFailed, 1073}},
       -1,
       "",
       {"error: Tillwire | Unable to create service during install.  Error code=0x00000431"},
       {"Unable to create service during install."}},
      {"created without description, restarts and message file",
       {{RegistrationStep::kDescriptionFailed, 5},
        {RegistrationStep::kRestartsFailed, 5},
        {RegistrationStep::kMessageFileFailed, 5},
        {RegistrationStep::kInstalled, 0}},
       0,
       "Service installed successfully\n",
       {"error: Tillwire | Unable to set service description during install.  Error "
        "code=0x00000005",
        "error: Tillwire | Unable to set service failure actions during install.  Error "
        "code=0x00000005",
        "error: Tillwire | Unable to register the event message file during install.  Error "
        "code=0x00000005",
        "information: Tillwire | Installed service."},
       {"Unable to set service description during install.",
        "Unable to set service failure actions during install.",
        "Unable to register the event message file during install.", "Installed service."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServicePlatform platform;
    platform.ScriptRegistration(c.steps);
    const Outcome outcome = Install(platform);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.console, c.console);
    EXPECT_EQ(outcome.events, c.events);
    EXPECT_EQ(outcome.log, c.log);
  }
}

TEST(Installer, RemovalStepsOnTheirChannels) {
  const std::string deleted = "information: Tillwire | Deleted service.";
  struct Case {
    const char* name;
    std::vector<RegistrationEvent> steps;
    int result;
    std::string console;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"running",
       {{RegistrationStep::kStoppedForRemoval, 0}, {RegistrationStep::kDeleted, 0}},
       0,
       "Service uninstalled successfully\n",
       {"information: Tillwire | Stopped the service in order to uninstall", deleted}},
      {"stopped", {{RegistrationStep::kDeleted, 0}}, 0, "Service uninstalled successfully\n",
       {deleted}},
      {"stop refused, message file kept",
       {{RegistrationStep::kStopForRemovalFailed, 5},
        {RegistrationStep::kDeleted, 0},
        {RegistrationStep::kMessageFileRemoveFailed, 5}},
       0,
       "Service uninstalled successfully\n",
       {"error: Tillwire | Unable to connect to service control manager during uninstall.  Error "
        "code=0x00000005",
        deleted,
        "error: Tillwire | Unable to remove the event message file during uninstall.  Error "
        "code=0x00000005"}},
      {"not deleted",
       {{RegistrationStep::kDeleteFailed, 5}},
       -1,
       "",
       {"error: Tillwire | Error deleting service during uninstall.  Error code=0x00000005"}},
      {"not opened",
       {{RegistrationStep::kOpenFailed, 5}},
       -1,
       "",
       {"error: Tillwire | Unable to open service during uninstall.  Error code=0x00000005"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServicePlatform platform;
    platform.SetInstalled(true);
    platform.ScriptRemoval(c.steps);
    const Outcome outcome = Uninstall(platform);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.console, c.console);
    EXPECT_EQ(outcome.events, c.events);
    EXPECT_EQ(outcome.log.size(), c.events.size()) << "each event's text in the log too";
  }
}

TEST(Installer, RemovingWhatIsNotInstalledTouchesNeitherLog) {
  FakeServicePlatform platform;
  const Outcome outcome = Uninstall(platform);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.console, "The service is not installed\n");
  EXPECT_TRUE(outcome.events.empty());
  EXPECT_TRUE(outcome.log.empty());
}

}  // namespace
