// The command line against a fake service manager: which mode the first
// argument chooses, and what each mode prints and returns.
#include "service/process_entry.h"
#include "support/console_texts.h"
#include "support/fake_service_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tillwire;

namespace {

// The command line on top of the installer and the dispatcher.
int Entry(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "tillwire");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  return ProcessEntry(static_cast<int>(argv.size()), argv.data());
}

std::string Usage() {
  testing::internal::CaptureStdout();
  PrintUsage();
  return testing::internal::GetCapturedStdout();
}

TEST(CommandLine, ChoosesTheModeByTheFirstArgumentOnly) {
  const std::string usage = ExpectedUsage();
  EXPECT_EQ(Usage(), usage);
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string console;  // "" unless checked whole
    bool installs;
  };
  const Case cases[] = {
      {{"-install"}, 0, "Service installed successfully\n", true},
      {{"/Install", "ignored"}, 0, "Service installed successfully\n", true},
      {{"-INSTALL"}, 0, "Service installed successfully\n", true},
      {{"--install"}, 0, usage, false},
      {{"-"}, 0, usage, false},
      {{"/nonsense"}, 0, usage, false},
      {{"-uninstall"}, 0, "The service is not installed\n", false},
      {{"/F"}, 0, "Running in command line file playback mode\nNo file name provided with -f option\n",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.front());
    FakeServicePlatform platform;
    testing::internal::CaptureStdout();
    EXPECT_EQ(Entry(c.arguments), c.status);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.console);
    EXPECT_EQ(platform.Registrations().size(), c.installs ? 1u : 0u);
  }
}

TEST(CommandLine, InstallFailureAddsItsConsoleLine) {
  FakeServicePlatform platform;
  platform.ScriptRegistration({{RegistrationStep::kCreateFailed, 5}});
  testing::internal::CaptureStdout();
  EXPECT_EQ(Entry({"-install"}), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error installing service.  See the application log for details.\n");
}

TEST(CommandLine, WithoutAnOptionTheDispatcherDecides) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, std::vector<std::string>{"install"}}) {
    FakeServicePlatform platform;
    platform.FailDispatch({DispatchFailure::kNotStartedByServiceManager, 1063});
    const std::string usage = Usage();
    testing::internal::CaptureStdout();
    EXPECT_EQ(Entry(arguments), 1063);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console, "Must be run with command line options or installed as a service\n\n" +
                           usage + kExpectedConsoleHelp);
    EXPECT_TRUE(platform.Registrations().empty());
  }
}

// Started by a service manager that keeps the output (systemd's journal), the
// service prints none of the texts meant for a person at a console.
TEST(CommandLine, AServiceWhoseOutputIsKeptPrintsNothing) {
  FakeServicePlatform platform;
  platform.SetServiceManagerKeepsOutput(true);
  platform.FailDispatch({DispatchFailure::kOther, 31});
  testing::internal::CaptureStdout();
  EXPECT_EQ(Entry({}), 31);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(platform.Events().size(), 1u) << "the failure is still reported";
}

}  // namespace
