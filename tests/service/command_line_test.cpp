// The program itself, run from a program directory of the test's own.
#include "support/capture_writer.h"
#include "support/console_texts.h"
#include "support/log_watch.h"
#include "support/program_run.h"

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

bool LogFileExists(const ProgramDirectoryFixture& program) {
  return boost::filesystem::exists(program.Path() + "Tillwire.log");
}

TEST(Program, ModesThatLogNothingCreateNoLogFile) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string console;
  };
  const Case cases[] = {
      {{}, ExitStatus(1063),
       std::string("Must be run with command line options or installed as a service\n\n") +
           kExpectedUsage + kExpectedConsoleHelp},
      {{"install"}, ExitStatus(1063),
       std::string("Must be run with command line options or installed as a service\n\n") +
           kExpectedUsage + kExpectedConsoleHelp},
      {{"--install"}, 0, kExpectedUsage},
      {{"-"}, 0, kExpectedUsage},
      {{"-f"}, 0,
       "Running in command line file playback mode\nNo file name provided with -f option\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments.front());
    ProgramDirectoryFixture program(TILLWIRE_PROGRAM);
    program.Start(c.arguments);
    EXPECT_EQ(program.Wait(std::chrono::seconds(30)), c.status);
    EXPECT_EQ(program.StandardOutput(), c.console);
    EXPECT_FALSE(LogFileExists(program));
  }
}

TEST(Program, PlaysBackTheFileNamedAfterF) {
  ProgramDirectoryFixture program(TILLWIRE_PROGRAM);
  program.WriteConfiguration(
      R"(<T><Network><Terminal SrcAddress="10.0.0.1" NvrPort="0"/></Network></T>)");
  const std::string capture = program.Path() + "empty.pcap";
  CaptureWriter{capture};
  program.Start({"/F", capture, "ignored"});
  EXPECT_EQ(program.Wait(std::chrono::seconds(60)), 0);
  EXPECT_EQ(program.StandardOutput(),
            "Running in command line file playback mode\nPlaying back file " + capture + "\n");
  EXPECT_EQ(program.LogTexts(), (std::vector<std::string>{
                                    "------ Starting Tillwire version 1.2.6.72482",
                                    "Playing from file://" + capture,
                                    "Creating terminal connection: :0",
                                    "EOF: ",
                                    "Exiting.",
                                }));
}

// Installs the program as a systemd unit for real, and removes it again.
TEST(Program, InstallsAndRemovesItsSystemdUnit) {
  const std::string unit = "/etc/systemd/system/Tillwire.service";
  if (geteuid() != 0) GTEST_SKIP() << "installing a unit needs root";
  if (boost::filesystem::exists(unit)) GTEST_SKIP() << unit << " exists: not touching it";
  ProgramDirectoryFixture program(TILLWIRE_PROGRAM);

  program.Start({"-install"});
  ASSERT_EQ(program.Wait(std::chrono::seconds(30)), 0) << program.StandardOutput();
  EXPECT_EQ(program.StandardOutput(), "Service installed successfully\n");
  const std::string contents = ReadFile(unit);
  for (const std::string& line :
       {std::string("Description=Corvane Tillwire service"), std::string("Type=notify"),
        "ExecStart=" + program.Program(), std::string("Restart=on-failure"),
        std::string("RestartSec=60"), std::string("WantedBy=multi-user.target")}) {
    EXPECT_NE(contents.find(line + "\n"), std::string::npos) << line << " in\n" << contents;
  }

  program.Start({"-install"});
  EXPECT_EQ(program.Wait(std::chrono::seconds(30)), 0);
  EXPECT_EQ(program.StandardOutput(), "The service is already installed\n");

  program.Start({"-uninstall"});
  EXPECT_EQ(program.Wait(std::chrono::seconds(30)), 0);
  EXPECT_EQ(program.StandardOutput(), "Service uninstalled successfully\n");
  EXPECT_FALSE(boost::filesystem::exists(unit));
  EXPECT_EQ(program.LogTexts(), (std::vector<std::string>{"Installed service.", "Deleted service."}));
}

}  // namespace
