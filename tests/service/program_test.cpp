// The program itself, run from a program directory of the test's own.
#include "support/capture_writer.h"
#include "support/child_process.h"
#include "support/console_texts.h"
#include "support/log_watch.h"
#include "support/program_run.h"
#include "support/wait_until.h"

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <grp.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <thread>

using namespace tillwire;

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
           ExpectedUsage() + kExpectedConsoleHelp},
      {{"install"}, ExitStatus(1063),
       std::string("Must be run with command line options or installed as a service\n\n") +
           ExpectedUsage() + kExpectedConsoleHelp},
      {{"--install"}, 0, ExpectedUsage()},
      {{"-"}, 0, ExpectedUsage()},
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
  // An empty capture: its one terminal matched nothing, and the report says so.
  EXPECT_EQ(program.StandardOutput(),
            "Running in command line file playback mode\nPlaying back file " + capture +
                "\nPlayback report:\n  terminal 10.0.0.1::: (NvrPort 0): no NVR connected; 0 "
                "bytes matched, 0 handed to the NVR\n");
  EXPECT_EQ(program.LogTexts(), (std::vector<std::string>{
                                    std::string("------ Starting Tillwire version ") + TILLWIRE_VERSION,
                                    "Playing from file://" + capture,
                                    "Creating terminal connection: :0",
                                    "EOF: ",
                                    "Exiting.",
                                }));
}

// Holds an exclusive lock on a file for its lifetime: runs of the tests on
// one machine at the same moment take turns on what they share.
class FileLock {
 public:
  explicit FileLock(const std::string& path)
      : descriptor(open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644)) {
    if (descriptor >= 0) flock(descriptor, LOCK_EX);
  }
  ~FileLock() {
    if (descriptor >= 0) close(descriptor);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int descriptor;
};

// Installs the program as a systemd unit for real, and removes it again.
TEST(Program, InstallsAndRemovesItsSystemdUnit) {
  const std::string unit = "/etc/systemd/system/Tillwire.service";
  if (geteuid() != 0) GTEST_SKIP() << "installing a unit needs root";
  const FileLock oneAtATime("/tmp/tillwire-systemd-unit.lock");
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

// A program directory whose path is longer than Windows' limits: the
// program still finds its Tillwire.xml there, and logs beside it.
TEST(Program, FindsItsFilesInALongDirectory) {
  TempDirectory top;
  std::string directory = top.Path();
  while (directory.size() < 300) directory += std::string(100, 'd') + "/";
  boost::filesystem::create_directories(directory);
  const std::string program = directory + "tillwire";
  CopyWholeFile(TILLWIRE_PROGRAM, program);
  WriteFile(directory + "Tillwire.xml", "<?xml version=\"1.0\"?>");
  const int status = std::system((program + " -f none.pcap > /dev/null").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), ExitStatus(-2));
  EXPECT_EQ(LogTexts(ReadFile(directory + "Tillwire.log")),
            (std::vector<std::string>{std::string("------ Starting Tillwire version ") +
                                          TILLWIRE_VERSION,
                                      "Failed to get config root element. Exiting."}));
}

}  // namespace

namespace {

// A socket in the role of systemd's notify socket.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path(path) {
    descriptor = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~NotifySocket() { close(descriptor); }

  // The next message, or "" when none came in time.
  std::string Next(std::chrono::milliseconds limit) {
    pollfd ready{descriptor, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(limit.count())) <= 0) return std::string();
    char message[4096];
    const ssize_t size = recv(descriptor, message, sizeof message, 0);
    return size > 0 ? std::string(message, static_cast<std::size_t>(size)) : std::string();
  }

  const std::string path;

 private:
  int descriptor;
};

// Starts the program as systemd starts a notify service.
pid_t StartNotifyService(const ProgramDirectoryFixture& program, const NotifySocket& notify) {
  return StartProgram(program, {}, [&notify] { setenv("NOTIFY_SOCKET", notify.path.c_str(), 1); });
}

// A live capture on lo whose terminal's NVR may connect from loopback.
const char kLiveConfiguration[] =
    R"(<T><Network SniffAdapterAddress="127.0.0.1"><NVR Address="127.0.0.1"/>
       <Terminal SrcAddress="10.9.9.9" NvrPort="0"/></Network></T>)";
const std::vector<std::string> kStopLines{"Received Stop request from Service Control Manager",
                                          "Received stop signal from SCM", "Exiting."};

// A service whose engine run ends by itself says so and exits with its code,
// so that systemd marks the unit failed and Restart=on-failure applies.
TEST(Program, AServiceWhoseEngineEndsByItselfFails) {
  if (geteuid() != 0) GTEST_SKIP() << "the engine's live capture needs root";
  ProgramDirectoryFixture program(TILLWIRE_PROGRAM);
  program.WriteConfiguration(
      R"(<T><Network SniffAdapterAddress="127.0.0.1"><Terminal NvrPort="0"/></Network></T>)");
  NotifySocket notify(program.Path() + "notify");
  const pid_t child = StartNotifyService(program, notify);
  EXPECT_EQ(notify.Next(std::chrono::seconds(10)), "STATUS=Starting\nEXTEND_TIMEOUT_USEC=5000000");
  EXPECT_EQ(notify.Next(std::chrono::seconds(10)), "READY=1\nSTATUS=Running");
  EXPECT_EQ(notify.Next(std::chrono::seconds(10)), "STATUS=Stopped, service-specific error 7");
  EXPECT_EQ(WaitForExit(child, std::chrono::seconds(10)), 7);
  EXPECT_EQ(program.LogTexts().back(), "No terminals were configured correctly. Exiting.");
}

// Started by systemd, the program is a notify service: it says when it is
// ready, and SIGTERM (stop, and shutdown) runs the whole stop sequence.
TEST(Program, RunsAsANotifyServiceAndStopsOnSigterm) {
  if (geteuid() != 0) GTEST_SKIP() << "the engine's live capture needs root";
  ProgramDirectoryFixture program(TILLWIRE_PROGRAM);
  program.WriteConfiguration(kLiveConfiguration);
  NotifySocket notify(program.Path() + "notify");
  const pid_t child = StartNotifyService(program, notify);
  EXPECT_EQ(notify.Next(std::chrono::seconds(10)), "STATUS=Starting\nEXTEND_TIMEOUT_USEC=5000000");
  EXPECT_EQ(notify.Next(std::chrono::seconds(10)), "READY=1\nSTATUS=Running");
  EXPECT_TRUE(WaitForLogText(program, "Creating terminal connection: 127.0.0.1:0"))
      << "the engine did not start within 10 s";

  const auto stop = std::chrono::steady_clock::now();
  kill(child, SIGTERM);
  EXPECT_EQ(notify.Next(std::chrono::seconds(5)), "STOPPING=1\nSTATUS=Stopping");
  EXPECT_EQ(notify.Next(std::chrono::seconds(5)), "STATUS=Stopped");
  EXPECT_EQ(WaitForExit(child, std::chrono::seconds(5)), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::seconds(5)) << "the wait hint";

  const std::vector<std::string> texts = program.LogTexts();
  ASSERT_GE(texts.size(), 5u);
  EXPECT_EQ(texts.front(), std::string("------ Starting Tillwire version ") + TILLWIRE_VERSION);
  EXPECT_EQ(texts[1].rfind("Listening on ", 0), 0u) << texts[1];
  EXPECT_EQ(std::vector<std::string>(texts.end() - 3, texts.end()), kStopLines);
}

// A live capture in the foreground of a terminal (tillwire -f "") stops on
// Ctrl-C (SIGINT) and on SIGTERM as the service stops: the stop lines,
// "Exiting." and status 0.
TEST(Program, AForegroundLiveRunStopsOnSigintAndSigtermLikeTheService) {
  if (geteuid() != 0) GTEST_SKIP() << "the engine's live capture needs root";
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    ProgramDirectoryFixture program(TILLWIRE_PROGRAM);
    program.WriteConfiguration(kLiveConfiguration);
    const pid_t child = StartProgram(program, {"-f", ""});
    ASSERT_TRUE(WaitForLogText(program, "Creating terminal connection: 127.0.0.1:0"))
        << "the engine did not start within 10 s";

    const auto stop = std::chrono::steady_clock::now();
    kill(child, signal);
    const int status = WaitForExit(child, std::chrono::seconds(5));
    EXPECT_EQ(status, 0) << "-1000: killed by the signal, or still running";
    if (status == -1000 && kill(child, SIGKILL) == 0) waitpid(child, nullptr, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::seconds(5));
    EXPECT_EQ(program.StandardOutput(),
              "Running in command line file playback mode\nPlaying back file \n");
    const std::vector<std::string> texts = program.LogTexts();
    ASSERT_GE(texts.size(), 5u);
    EXPECT_EQ(texts[1].rfind("Listening on ", 0), 0u) << texts[1];
    EXPECT_EQ(std::vector<std::string>(texts.end() - 3, texts.end()), kStopLines);
  }
}

// The exit status of the program started with these arguments, once it has
// ended (-1000: killed, or still running after 30 s).
int RunProgram(const ProgramDirectoryFixture& program, const std::vector<std::string>& arguments,
               const std::function<void()>& inChild) {
  const pid_t child = StartProgram(program, arguments, inChild);
  const int status = WaitForExit(child, std::chrono::seconds(30));
  if (status == -1000 && kill(child, SIGKILL) == 0) waitpid(child, nullptr, 0);
  return status;
}

// Where a fixed failure line names no reason, the system's or the library's
// reason follows in a line of its own: Tillwire.xml that cannot be opened for
// lack of descriptors (the log took the last one), and an adapter that a user
// without the capture privilege cannot open.
const std::string kBanner = std::string("------ Starting Tillwire version ") + TILLWIRE_VERSION;

TEST(Program, AConfigurationThatCannotBeOpenedKeepsItsCause) {
#ifdef TILLWIRE_SANITIZED
  // The sanitizers' runtime opens a pipe of its own to check memory; without
  // descriptors it reports a fault of its own instead of running the program.
  GTEST_SKIP() << "the sanitizers need descriptors of their own";
#endif
  ProgramDirectoryFixture program(TILLWIRE_PROGRAM);
  program.WriteConfiguration(kLiveConfiguration);
  EXPECT_EQ(RunProgram(program, {"-f", "none.pcap"},
                       [] {
                         const rlimit four{4, 4};
                         setrlimit(RLIMIT_NOFILE, &four);
                       }),
            ExitStatus(-1));
  EXPECT_EQ(program.LogTexts(),
            (std::vector<std::string>{kBanner, "Failed to load Tillwire.xml. Exiting.",
                                      std::strerror(EMFILE)}));
}

TEST(Program, AnAdapterThatCannotBeOpenedKeepsItsCause) {
  if (geteuid() != 0) GTEST_SKIP() << "running as another user needs root";
  ProgramDirectoryFixture program(TILLWIRE_PROGRAM);
  program.WriteConfiguration(kLiveConfiguration);
  // The user may write its log there.
  boost::filesystem::permissions(program.Path(), boost::filesystem::all_all);
  const gid_t nobody = 65534;
  EXPECT_EQ(RunProgram(program, {"-f", ""},
                       [nobody] {
                         if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 ||
                             setuid(nobody) != 0) {
                           _exit(126);
                         }
                       }),
            ExitStatus(-1));
  const std::vector<std::string> texts = program.LogTexts();
  ASSERT_EQ(texts.size(), 3u) << program.StandardOutput();
  EXPECT_EQ(texts[0], kBanner);
  EXPECT_EQ(texts[1], "Unable to open the adapter. lo is not supported by pcap library.");
  // libpcap's own words; the cause is the system's refusal.
  EXPECT_NE(texts[2].find(std::strerror(EPERM)), std::string::npos) << texts[2];
}

}  // namespace
