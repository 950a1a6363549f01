// Installation and removal against the scripted Windows API: what is
// registered, and every message on each of its channels.
#include "service/service_installer.h"

#include "support/fake_windows.h"

#include <gtest/gtest.h>

#include <map>

using namespace tillwire;

namespace {

// The program log as the installer sees it: a plain function.
std::vector<std::string>& LoggedLines() {
  static std::vector<std::string> lines;
  return lines;
}

void RecordLine(const char* text) { LoggedLines().push_back(text); }

std::vector<std::string> Events(const FakeWindows& windows) {
  std::vector<std::string> events;
  for (const FakeWindows::Event& event : windows.Events()) {
    events.push_back((event.type == EVENTLOG_ERROR_TYPE ? "error: " : "information: ") +
                     event.strings.at(1));
  }
  return events;
}

// What one installer call showed on its three channels.
struct Outcome {
  int result;
  std::string console;
  std::vector<std::string> events;
  std::vector<std::string> log;
};

// Runs an installer call against windows; no handle may stay open.
Outcome Run(const FakeWindows& windows, const std::function<int()>& operation) {
  LoggedLines().clear();
  testing::internal::CaptureStdout();
  const int result = operation();
  Outcome outcome{result, testing::internal::GetCapturedStdout(), Events(windows), LoggedLines()};
  EXPECT_TRUE(windows.OpenHandles().empty()) << windows.OpenHandles().front();
  return outcome;
}

Outcome Install(const FakeWindows& windows) {
  return Run(windows, [] {
    return InstallService("Tillwire", "Tillwire", "Corvane Tillwire service", "", &RecordLine);
  });
}

Outcome Uninstall(const FakeWindows& windows) {
  return Run(windows, [] { return UninstallService("Tillwire", &RecordLine); });
}

class InstallerTest : public testing::Test {
 protected:
  Outcome Install() { return ::Install(windows); }
  Outcome Uninstall() { return ::Uninstall(windows); }

  FakeWindows windows;
};

TEST_F(InstallerTest, RegistersAnAutomaticOwnProcessServiceWithRestarts) {
  windows.SetModuleFileName("C:\\Tillwire\\tillwire.exe");
  const Outcome outcome = Install();
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.console, "Service installed successfully\n");
  EXPECT_EQ(outcome.events, std::vector<std::string>{"information: Installed service."});
  EXPECT_EQ(outcome.log, std::vector<std::string>{"Installed service."});

  const FakeWindows::Service service = windows.Services().at("Tillwire");
  EXPECT_EQ(service.displayName, "Tillwire");
  EXPECT_EQ(service.desiredAccess, static_cast<DWORD>(SERVICE_ALL_ACCESS));
  EXPECT_EQ(service.serviceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(service.startType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(service.errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(service.binaryPathName, "C:\\Tillwire\\tillwire.exe");
  EXPECT_TRUE(service.dependencies.empty());
  EXPECT_EQ(service.serviceStartName, "") << "the local system account";
  EXPECT_EQ(service.description, "Corvane Tillwire service");
  EXPECT_EQ(service.resetPeriod, 86400u);
  ASSERT_EQ(service.failureActions.size(), 3u);
  for (const SC_ACTION& action : service.failureActions) {
    EXPECT_EQ(action.Type, SC_ACTION_RESTART);
    EXPECT_EQ(action.Delay, 60000u);
  }
  EXPECT_TRUE(service.failureActionsOnNonCrashFailures) << "restarts after error stops too";
  EXPECT_EQ(windows.EnabledPrivileges(), std::vector<std::string>{"SeShutdownPrivilege"});
}

TEST_F(InstallerTest, QuotesAPathWithBlanks) {
  windows.SetModuleFileName("C:\\Program Files\\Tillwire\\tillwire.exe");
  EXPECT_EQ(Install().result, 0);
  EXPECT_EQ(windows.Services().at("Tillwire").binaryPathName,
            "\"C:\\Program Files\\Tillwire\\tillwire.exe\"");
}

// The event log finds the entries' text through the source's registration,
// which lives as long as the service.
TEST_F(InstallerTest, TheExecutableIsTheEventSourcesMessageFileWhileInstalled) {
  const std::string key = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tillwire";
  windows.SetModuleFileName("C:\\Program Files\\Tillwire\\tillwire.exe");
  EXPECT_EQ(Install().result, 0);
  const std::map<std::string, std::string> expected = {
      {"EventMessageFile", "C:\\Program Files\\Tillwire\\tillwire.exe"},
      {"TypesSupported", std::to_string(EVENTLOG_ERROR_TYPE | EVENTLOG_INFORMATION_TYPE)}};
  EXPECT_EQ(windows.RegistryKeys().at(key), expected);

  const Outcome removed = Uninstall();
  EXPECT_EQ(removed.result, 0);
  EXPECT_EQ(removed.events.back(), "information: Deleted service.");
  EXPECT_EQ(windows.RegistryKeys().count(key), 0u);

  // A registration that cannot be removed is reported; the service is gone.
  EXPECT_EQ(Install().result, 0);
  windows.Fail("RegDeleteKeyA", ERROR_ACCESS_DENIED);
  const Outcome stuck = Uninstall();
  EXPECT_EQ(stuck.result, 0);
  EXPECT_EQ(stuck.console, "Service uninstalled successfully\n");
  EXPECT_EQ(stuck.events.back(),
            "error: Unable to remove the event message file during uninstall.  Error "
            "code=0x00000005");
  EXPECT_EQ(stuck.log.back(), "Unable to remove the event message file during uninstall.");
}

// A path that does not fit the module-path buffer is never registered cut.
TEST_F(InstallerTest, APathTooLongForItsBufferFailsTheInstall) {
  struct Case {
    std::size_t length;
    bool installs;
  };
  for (const Case c : {Case{MAX_PATH - 1, true}, Case{MAX_PATH, false}, Case{300, false}}) {
    SCOPED_TRACE(c.length);
    FakeWindows fresh;
    const std::string prefix = "C:\\Tillwire\\";
    const std::string path = prefix + std::string(c.length - prefix.size() - 4, 'd') + ".exe";
    fresh.SetModuleFileName(path);
    const Outcome outcome = ::Install(fresh);
    if (c.installs) {
      EXPECT_EQ(outcome.result, 0);
      EXPECT_EQ(fresh.Services().at("Tillwire").binaryPathName, path);
      continue;
    }
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.console, "GetModuleFileName() failed. Error code=0x0000007a\n");
    EXPECT_EQ(outcome.log,
              std::vector<std::string>{"GetModuleFileName() failed. Error code=0x0000007a"});
    EXPECT_TRUE(fresh.Services().empty());
  }
}

TEST_F(InstallerTest, WithoutTheShutdownPrivilegeThereAreNoRestartsAndNoComplaint) {
  windows.SetShutdownPrivilegeHeld(false);
  const Outcome outcome = Install();
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.events, std::vector<std::string>{"information: Installed service."});
  EXPECT_TRUE(windows.Services().at("Tillwire").failureActions.empty());
  EXPECT_FALSE(windows.Services().at("Tillwire").failureActionsOnNonCrashFailures);
  EXPECT_EQ(windows.Services().at("Tillwire").description, "Corvane Tillwire service");
}

TEST_F(InstallerTest, AlreadyInstalledTouchesNeitherLog) {
  windows.AddService("Tillwire");
  const Outcome outcome = Install();
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.console, "The service is already installed\n");
  EXPECT_TRUE(outcome.events.empty());
  EXPECT_TRUE(outcome.log.empty());
}

TEST_F(InstallerTest, InstallFailuresOnTheirChannels) {
  struct Case {
    const char* failing;
    DWORD error;
    int result;
    std::string console;
    std::vector<std::string> events;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"OpenSCManagerA", ERROR_ACCESS_DENIED, -1, "",
       {"error: Unable to connect to service control manager during install.  Error "
        "code=0x00000005"},
       {"Unable to connect to service control manager during install."}},
      {"GetModuleFileNameA", ERROR_INSUFFICIENT_BUFFER, -1,
       "GetModuleFileName() failed. Error code=0x0000007a\n",
       {},
       {"GetModuleFileName() failed. Error code=0x0000007a"}},
      {"CreateServiceA", ERROR_SERVICE_EXISTS, -1, "",
       {"error: Unable to create service during install.  Error code=0x00000431"},
       {"Unable to create service during install."}},
      {"ChangeServiceConfig2A", ERROR_ACCESS_DENIED, 0, "Service installed successfully\n",
       {"error: Unable to set service description during install.  Error code=0x00000005",
        "error: Unable to set service failure actions during install.  Error code=0x00000005",
        "information: Installed service."},
       {"Unable to set service description during install.",
        "Unable to set service failure actions during install.", "Installed service."}},
      {"RegCreateKeyExA", ERROR_ACCESS_DENIED, 0, "Service installed successfully\n",
       {"error: Unable to register the event message file during install.  Error "
        "code=0x00000005",
        "information: Installed service."},
       {"Unable to register the event message file during install.", "Installed service."}},
      {"RegSetValueExA", ERROR_ACCESS_DENIED, 0, "Service installed successfully\n",
       {"error: Unable to register the event message file during install.  Error "
        "code=0x00000005",
        "information: Installed service."},
       {"Unable to register the event message file during install.", "Installed service."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    FakeWindows fresh;
    fresh.Fail(c.failing, c.error);
    const Outcome outcome = ::Install(fresh);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.console, c.console);
    EXPECT_EQ(outcome.events, c.events);
    EXPECT_EQ(outcome.log, c.log);
  }
}

TEST_F(InstallerTest, RemovesARunningOrStoppedService) {
  struct Case {
    const char* name;
    DWORD controlError;  // ERROR_SUCCESS: the stop control succeeds
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"running", ERROR_SUCCESS,
       {"information: Stopped the service in order to uninstall", "information: Deleted service."}},
      {"stopped", ERROR_SERVICE_NOT_ACTIVE, {"information: Deleted service."}},
      {"stop refused", ERROR_ACCESS_DENIED,
       {"error: Unable to connect to service control manager during uninstall.  Error "
        "code=0x00000005",
        "information: Deleted service."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWindows fresh;
    fresh.AddService("Tillwire");
    if (c.controlError != ERROR_SUCCESS) fresh.Fail("ControlService", c.controlError);
    const Outcome outcome = ::Uninstall(fresh);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.console, "Service uninstalled successfully\n");
    EXPECT_EQ(outcome.events, c.events);
    EXPECT_EQ(outcome.log.back(), "Deleted service.");
    EXPECT_TRUE(fresh.Services().at("Tillwire").deleted);
  }
}

TEST_F(InstallerTest, RemovalFailuresAndAbsence) {
  EXPECT_EQ(Uninstall().console, "The service is not installed\n");
  EXPECT_TRUE(Events(windows).empty());

  windows.AddService("Tillwire");
  windows.Fail("DeleteService", ERROR_ACCESS_DENIED);
  const Outcome outcome = Uninstall();
  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(outcome.console, "");
  EXPECT_EQ(outcome.events.back(),
            "error: Error deleting service during uninstall.  Error code=0x00000005");
  EXPECT_EQ(outcome.log.back(), "Error deleting service during uninstall.");
}

}  // namespace
