// The Linux side of the platform's service contracts: registration as a
// systemd unit, running as a notify service, service events and the console's
// stop. systemd itself is played by the tests: a unit directory and a
// systemctl script in a temporary directory, and a datagram socket as the
// notify socket.
#include "platform/console_stop.h"
#include "platform/log_directory.h"
#include "platform/program_directory.h"
#include "platform/service_manager_paths.h"
#include "platform/service_notify.h"
#include "platform/service_registration.h"
#include "platform/service_run.h"
#include "platform/systemd_unit.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tillwire;

namespace {

// --- Child processes, for signals and for dropping root ---

const int kCannotDropRoot = 77;

// Runs body in a forked child that exits with its result; a child that hangs
// is ended by SIGALRM.
pid_t StartChild(int (*body)()) {
  const pid_t child = fork();
  if (child == 0) {
    alarm(20);
    _exit(body());
  }
  return child;
}

// The child's exit status, or 1000 + the signal that ended it.
int WaitForChild(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

int RunInChild(int (*body)()) { return WaitForChild(StartChild(body)); }

bool DropRoot() { return setgid(65534) == 0 && setuid(65534) == 0; }

void Pause(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

TEST(ProgramDirectory, IsTheExecutablesOwn) {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  ASSERT_GT(length, 0);
  EXPECT_EQ(ProgramPath(), std::string(path, length));
  EXPECT_EQ(ProgramDirectory(), ProgramPath().substr(0, ProgramPath().rfind('/') + 1));
}

// The service's log directory as systemd's LogsDirectory= hands it over;
// anything else leaves the log beside the program.
TEST(LogDirectory, IsSystemdsLogsDirectoryElseTheProgramsOwn) {
  struct Case {
    const char* logsDirectory;  // nullptr: not set
    std::string expected;
  };
  const Case cases[] = {
      {nullptr, ProgramDirectory()},
      {"", ProgramDirectory()},
      {"logs", ProgramDirectory()},
      {"/var/log/tillwire", "/var/log/tillwire/"},
      {"/var/log/tillwire/", "/var/log/tillwire/"},
      {"/var/log/tillwire:/var/log/other", "/var/log/tillwire/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logsDirectory == nullptr ? "(not set)" : c.logsDirectory);
    if (c.logsDirectory == nullptr) {
      unsetenv("LOGS_DIRECTORY");
    } else {
      setenv("LOGS_DIRECTORY", c.logsDirectory, 1);
    }
    EXPECT_EQ(LogDirectory(), c.expected);
  }
  unsetenv("LOGS_DIRECTORY");
}

// --- Registration: unit files and systemctl ---

const ServiceDefinition kService{"Tillwire", "Tillwire", "Corvane Tillwire service", ""};

// A unit directory, a systemctl that logs its arguments (is-active succeeds
// while the file "active" exists; every other command fails while "failing"
// exists) and a systemd run directory, all in a temporary directory.
class Registration : public testing::Test {
 protected:
  Registration() {
    mkdir(Units().c_str(), 0755);
    mkdir((directory.Path() + "run").c_str(), 0755);
    WriteFile(Systemctl(), "#!/bin/sh\n"
                           "echo \"$*\" >> '" + directory.Path() + "systemctl.log'\n"
                           "if [ \"$1\" = is-active ]; then exec test -e '" + directory.Path() + "active'; fi\n"
                           "exec test ! -e '" + directory.Path() + "failing'\n");
    chmod(Systemctl().c_str(), 0755);
    UseSystemd(true);
  }
  ~Registration() override { SetServiceManagerPathsForTesting(ServiceManagerPaths()); }

  void UseSystemd(bool running) {
    ServiceManagerPaths paths;
    paths.unitDirectory = Units();
    paths.systemctl = Systemctl();
    paths.systemdRunDirectory = directory.Path() + (running ? "run" : "absent");
    SetServiceManagerPathsForTesting(paths);
  }

  std::string Units() const { return directory.Path() + "units"; }
  std::string Systemctl() const { return directory.Path() + "systemctl"; }
  std::string UnitPath() const { return Units() + "/Tillwire.service"; }
  std::string Unit() const { return ReadFile(UnitPath()); }
  bool UnitExists() const { return access(UnitPath().c_str(), F_OK) == 0; }
  void Touch(const std::string& file) const { WriteFile(directory.Path() + file, ""); }

  // The systemctl commands run since the last call, one a line.
  std::string TakeSystemctlCalls() {
    const std::string log = directory.Path() + "systemctl.log";
    const std::string calls = ReadFile(log);
    std::remove(log.c_str());
    return calls;
  }

  TempDirectory directory;
};

std::vector<RegistrationStep> Steps(const std::vector<RegistrationEvent>& events) {
  std::vector<RegistrationStep> steps;
  for (const RegistrationEvent& event : events) steps.push_back(event.step);
  return steps;
}

TEST_F(Registration, InstallsAnEnabledNotifyUnitAndRemovesIt) {
  if (geteuid() != 0) GTEST_SKIP() << "registration needs root";
  EXPECT_FALSE(IsServiceInstalled("Tillwire"));
  EXPECT_EQ(Steps(RegisterService(kService)),
            std::vector<RegistrationStep>{RegistrationStep::kInstalled});
  // The text the Debian package ships too; the sandbox in it is tested under
  // a real systemd (tests/systemd/).
  EXPECT_EQ(Unit(), ServiceUnitText(kService.description, ProgramPath()));
  EXPECT_NE(Unit().find("\nType=notify\nExecStart=" + ProgramPath() + "\n"), std::string::npos);
  EXPECT_EQ(TakeSystemctlCalls(), "daemon-reload\nenable Tillwire.service\n");
  EXPECT_TRUE(IsServiceInstalled("Tillwire"));

  const std::vector<RegistrationEvent> again = RegisterService(kService);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].step, RegistrationStep::kCreateFailed);
  EXPECT_EQ(again[0].error, 1073u) << "the service exists";
  TakeSystemctlCalls();

  // Stopped first (without waiting) when it runs.
  Touch("active");
  EXPECT_EQ(Steps(RemoveService("Tillwire")),
            (std::vector<RegistrationStep>{RegistrationStep::kStoppedForRemoval,
                                           RegistrationStep::kDeleted}));
  EXPECT_EQ(TakeSystemctlCalls(),
            "is-active --quiet Tillwire.service\nstop --no-block Tillwire.service\n"
            "disable Tillwire.service\ndaemon-reload\n");
  EXPECT_FALSE(UnitExists());
  EXPECT_FALSE(IsServiceInstalled("Tillwire"));
}

TEST_F(Registration, WithoutSystemdOnlyTheUnitFileChanges) {
  if (geteuid() != 0) GTEST_SKIP() << "registration needs root";
  UseSystemd(false);
  Touch("active");
  EXPECT_EQ(Steps(RegisterService(kService)),
            std::vector<RegistrationStep>{RegistrationStep::kInstalled});
  EXPECT_TRUE(UnitExists());
  EXPECT_EQ(Steps(RemoveService("Tillwire")),
            std::vector<RegistrationStep>{RegistrationStep::kDeleted});
  EXPECT_FALSE(UnitExists());
  EXPECT_EQ(TakeSystemctlCalls(), "");
}

TEST_F(Registration, AFailingSystemctlLeavesNoUnit) {
  if (geteuid() != 0) GTEST_SKIP() << "registration needs root";
  Touch("failing");
  const std::vector<RegistrationEvent> events = RegisterService(kService);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].step, RegistrationStep::kCreateFailed);
  EXPECT_FALSE(UnitExists());
}

TEST_F(Registration, NamesThatAreNoUnitNamesAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "registration needs root";
  for (const char* name : {"", "../../etc/cron.d/x", "Till wire"}) {
    SCOPED_TRACE(name);
    ServiceDefinition service = kService;
    service.name = name;
    const std::vector<RegistrationEvent> events = RegisterService(service);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].step, RegistrationStep::kCreateFailed);
    EXPECT_EQ(events[0].error, 123u);
    EXPECT_FALSE(IsServiceInstalled(name));
  }
}

TEST_F(Registration, ChangesNeedRoot) {
  const int result = RunInChild([] {
    if (!DropRoot()) return kCannotDropRoot;
    const std::vector<RegistrationEvent> installed = RegisterService(kService);
    const std::vector<RegistrationEvent> removed = RemoveService("Tillwire");
    const bool refused = installed.size() == 1 &&
                         installed[0].step == RegistrationStep::kConnectFailed &&
                         installed[0].error == 5 && removed.size() == 1 &&
                         removed[0].step == RegistrationStep::kConnectFailed;
    return refused ? 0 : 1;
  });
  if (result == kCannotDropRoot) GTEST_SKIP() << "cannot switch to an unprivileged user here";
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(UnitExists());
}

// The executable's path as systemd must read it: one word, and runnable.
TEST(SystemdUnit, ExecStartKeepsTheExecutableOneWord) {
  struct Case {
    const char* path;
    const char* execStart;
  };
  const Case cases[] = {
      {"/opt/tillwire/tillwire", "ExecStart=/opt/tillwire/tillwire\n"},
      {"/opt/till wire/tillwire", "ExecStart=\"/opt/till wire/tillwire\"\n"},
      {"/opt/50% off/$HOME", "ExecStart=\"/opt/50%% off/$HOME\"\n"},
      {"/opt/100%/tillwire", "ExecStart=/opt/100%%/tillwire\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string unit = ServiceUnitText("Tillwire 100%\nbridge", c.path);
    EXPECT_NE(unit.find(c.execStart), std::string::npos) << unit;
    EXPECT_NE(unit.find("Description=Tillwire 100%% bridge\n"), std::string::npos) << unit;
  }
  for (const char* unrunnable : {"/opt/a\"b/tillwire", "/opt/a\\b/tillwire", "/opt/a\tb/tillwire"}) {
    EXPECT_FALSE(RunnableBySystemd(unrunnable)) << unrunnable;
  }
}

// --- Running as the service: state reports and the dispatcher ---

// A datagram socket standing for systemd's notify socket; NOTIFY_SOCKET names
// it while it lives.
class NotifySocket {
 public:
  NotifySocket() : descriptor(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    const std::string path = directory.Path() + "notify";
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(0, bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address));
    setenv("NOTIFY_SOCKET", path.c_str(), 1);
  }
  ~NotifySocket() {
    unsetenv("NOTIFY_SOCKET");
    close(descriptor);
  }
  NotifySocket(const NotifySocket&) = delete;
  NotifySocket& operator=(const NotifySocket&) = delete;

  // The next message, or "(none)" when none comes within the time.
  std::string Receive(int milliseconds = 10000) {
    pollfd readable = {descriptor, POLLIN, 0};
    if (poll(&readable, 1, milliseconds) != 1) return "(none)";
    char message[4096];
    const ssize_t length = recv(descriptor, message, sizeof message, 0);
    return length < 0 ? "(error)" : std::string(message, static_cast<std::size_t>(length));
  }

 private:
  TempDirectory directory;
  int descriptor;
};

TEST(ServiceState, BecomesNotifyMessages) {
  struct Case {
    ServiceState state;
    std::uint32_t exitCode, waitHintMs;
    const char* message;
  };
  const Case cases[] = {
      {ServiceState::kStartPending, 0, 0, "STATUS=Starting"},
      {ServiceState::kStartPending, 0, 30000, "STATUS=Starting\nEXTEND_TIMEOUT_USEC=30000000"},
      {ServiceState::kStartPending, 0, 0xFFFFFFFF,
       "STATUS=Starting\nEXTEND_TIMEOUT_USEC=4294967295000"},
      {ServiceState::kRunning, 0, 0, "READY=1\nSTATUS=Running"},
      {ServiceState::kStopPending, 0, 5000, "STOPPING=1\nSTATUS=Stopping"},
      {ServiceState::kStopped, 0, 0, "STATUS=Stopped"},
      {ServiceState::kStopped, 7, 0, "STATUS=Stopped, service-specific error 7"},
  };
  NotifySocket notify;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(NotifyMessage(c.state, c.exitCode, c.waitHintMs), c.message);
    EXPECT_TRUE(ReportServiceState(c.state, c.exitCode, 0, c.waitHintMs));
    EXPECT_EQ(notify.Receive(), c.message);
  }
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(ReportServiceState(ServiceState::kRunning, 0, 0, 0)) << "no systemd to hear it";
}

// The service that the dispatcher tests run in a child process, and what it
// saw there.
namespace service {

std::atomic<int> stops{0};
std::atomic<bool> stopHandedEarly{false};

void StopOnRequest() {
  ++stops;
  ReportServiceState(ServiceState::kStopPending, 0, 1, 5000);
  ReportServiceState(ServiceState::kStopped, 0, 0, 0);
}

void Unexpected() { std::abort(); }
void UnexpectedRequest(std::uint32_t) { std::abort(); }

// Starts and leaves the stop to the request.
void RunUntilStopped() {
  ReportServiceState(ServiceState::kStartPending, 0, 1, 3000);
  ReportServiceState(ServiceState::kRunning, 0, 0, 0);
}

void FailToStart() {
  ReportServiceState(ServiceState::kStartPending, 0, 1, 3000);
  ReportServiceState(ServiceState::kStopped, 3, 0, 0);
}

// Is told to stop while it still starts and does not accept a stop yet.
void SignalledWhileStarting() {
  ReportServiceState(ServiceState::kStartPending, 0, 1, 3000);
  kill(getpid(), SIGTERM);
  sigset_t pending;
  for (int waited = 0; sigpending(&pending) == 0 && sigismember(&pending, SIGTERM) && waited < 5000;
       ++waited) {
    Pause(1);
  }
  Pause(100);  // time for a dispatcher that hands the stop on too early
  stopHandedEarly = stops > 0;
  ReportServiceState(ServiceState::kRunning, 0, 0, 0);
}

// Runs the dispatcher with start; 0 when everything went as it should, else
// the number of the check that failed.
int Dispatch(void (*start)(), int expectedStops) {
  const ServiceCalls calls{start, &Unexpected, &StopOnRequest, &UnexpectedRequest};
  if (RunAsService("Tillwire", calls).failure != DispatchFailure::kNone) return 1;
  if (stops != expectedStops) return 2;
  if (stopHandedEarly) return 4;
  return 0;
}

}  // namespace service

TEST(ServiceRun, WithoutSystemdFailsAsFromAConsole) {
  unsetenv("NOTIFY_SOCKET");
  const ServiceCalls calls{&service::Unexpected, &service::Unexpected, &service::Unexpected,
                           &service::UnexpectedRequest};
  const DispatchOutcome outcome = RunAsService("Tillwire", calls);
  EXPECT_EQ(outcome.failure, DispatchFailure::kNotStartedByServiceManager);
  EXPECT_EQ(outcome.error, 1063u);
}

TEST(ServiceRun, SigtermStopsTheService) {
  NotifySocket notify;
  const pid_t child = StartChild([] { return service::Dispatch(service::RunUntilStopped, 1); });
  EXPECT_EQ("STATUS=Starting\nEXTEND_TIMEOUT_USEC=3000000", notify.Receive());
  EXPECT_EQ("READY=1\nSTATUS=Running", notify.Receive());
  kill(child, SIGTERM);
  EXPECT_EQ(0, WaitForChild(child)) << "the check that failed in the child";
  EXPECT_EQ("STOPPING=1\nSTATUS=Stopping", notify.Receive());
  EXPECT_EQ("STATUS=Stopped", notify.Receive());
}

TEST(ServiceRun, ReturnsWhenTheServiceStopsByItself) {
  NotifySocket notify;
  EXPECT_EQ(0, RunInChild([] { return service::Dispatch(service::FailToStart, 0); }))
      << "the check that failed in the child (1014: it hung)";
  EXPECT_EQ("STATUS=Starting\nEXTEND_TIMEOUT_USEC=3000000", notify.Receive());
  EXPECT_EQ("STATUS=Stopped, service-specific error 3", notify.Receive());
}

TEST(ServiceRun, HoldsAnEarlyStopUntilTheServiceAcceptsIt) {
  NotifySocket notify;
  EXPECT_EQ(0, RunInChild([] { return service::Dispatch(service::SignalledWhileStarting, 1); }))
      << "the check that failed in the child";
  EXPECT_EQ("STATUS=Starting\nEXTEND_TIMEOUT_USEC=3000000", notify.Receive());
  EXPECT_EQ("READY=1\nSTATUS=Running", notify.Receive());
  EXPECT_EQ("STOPPING=1\nSTATUS=Stopping", notify.Receive());
  EXPECT_EQ("STATUS=Stopped", notify.Receive());
}

// --- The console's stop request ---

namespace console {

std::atomic<bool> stopped{false};
// What the child does, set before it is forked.
int signalToSend = 0;
bool watchEnded = false;

// Signals itself while its stop is watched (or after the watch ended): 10
// when the watch took the signal, 1 when the watch could not start, 2 when
// nothing came, 3 when the process outlived a signal that no watch took.
int SignalItself() {
  if (!WatchConsoleStop([] { stopped = true; })) return 1;
  if (watchEnded) EndConsoleStopWatch();
  kill(getpid(), signalToSend);
  for (int waited = 0; !stopped && waited < 5000; ++waited) Pause(1);
  if (!watchEnded) return stopped ? 10 : 2;
  Pause(5000);
  return 3;
}

}  // namespace console

// SIGINT and SIGTERM are the console's stop; without a watch they end the
// process as they would have.
TEST(ConsoleStop, SigintAndSigtermReachTheWatch) {
  struct Case {
    int signal;
    bool watchEnded;
    int result;  // of the child: 10, or 1000 + the signal that ended it
  };
  const Case cases[] = {
      {SIGINT, false, 10},
      {SIGTERM, false, 10},
      {SIGTERM, true, 1000 + SIGTERM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.signal)) + (c.watchEnded ? ", watch ended" : ""));
    console::signalToSend = c.signal;
    console::watchEnded = c.watchEnded;
    EXPECT_EQ(c.result, RunInChild(&console::SignalItself));
  }
}

}  // namespace
