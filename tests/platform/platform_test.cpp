// platform/ on Linux: the Windows API subset on systemd, syslog and the
// process's credentials. systemd itself is played by the tests: a unit
// directory and a systemctl script in a temporary directory, and a datagram
// socket as the notify socket.
#include "platform/service_manager_paths.h"
#include "platform/windows_api.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <pthread.h>
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

// --- The thread's last error and the module path ---

TEST(LastError, BelongsToEachThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenByOtherThread = 1;
  std::thread other([&] {
    seenByOtherThread = GetLastError();
    SetLastError(ERROR_INVALID_HANDLE);
  });
  other.join();
  EXPECT_EQ(DWORD{ERROR_SUCCESS}, seenByOtherThread);
  EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError());
}

TEST(ModuleFileName, IsTheExecutableAndTruncatesLikeWindows) {
  char executable[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", executable, sizeof executable - 1), 0);
  const std::string path = executable;
  const DWORD length = static_cast<DWORD>(path.size());

  struct Case {
    DWORD size;
    DWORD result;
    std::string text;
    DWORD error;
  };
  const Case cases[] = {
      {length + 1, length, path, ERROR_SUCCESS},
      {length, length, path.substr(0, length - 1), ERROR_INSUFFICIENT_BUFFER},
      {1, 1, "", ERROR_INSUFFICIENT_BUFFER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::string buffer(c.size + 1, '#');
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(c.result, GetModuleFileNameA(nullptr, &buffer[0], c.size));
    EXPECT_EQ(c.text, buffer.c_str());
    EXPECT_EQ('#', buffer[c.size]) << "wrote past the buffer";
    EXPECT_EQ(c.error, GetLastError());
  }

  char buffer[MAX_PATH];
  EXPECT_EQ(DWORD{0}, GetModuleFileNameA(reinterpret_cast<HMODULE>(buffer), buffer, MAX_PATH));
  EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
}

// --- Event log ---

// What reaches syslog cannot be read back here; the handles can be checked.
TEST(EventLog, ReportsThroughRegisteredSourcesOnly) {
  HANDLE service = RegisterEventSourceA(nullptr, "Tillwire");
  HANDLE installer = RegisterEventSourceA(nullptr, "Tillwire installer");
  ASSERT_NE(nullptr, service);
  ASSERT_NE(nullptr, installer);
  LPCSTR strings[] = {"Started", "on 192.168.10.2"};
  EXPECT_TRUE(ReportEventA(service, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 2, 0, strings, nullptr));
  EXPECT_TRUE(ReportEventA(installer, EVENTLOG_ERROR_TYPE, 0, 2, nullptr, 1, 0, strings, nullptr));

  EXPECT_TRUE(DeregisterEventSource(installer));
  EXPECT_TRUE(ReportEventA(service, EVENTLOG_ERROR_TYPE, 0, 3, nullptr, 1, 0, strings, nullptr))
      << "the other source still logs after one is closed";
  EXPECT_FALSE(ReportEventA(installer, EVENTLOG_ERROR_TYPE, 0, 4, nullptr, 1, 0, strings, nullptr));
  EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
  EXPECT_TRUE(DeregisterEventSource(service));
  EXPECT_FALSE(DeregisterEventSource(service));
  EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
}

// --- Service manager: unit files and systemctl ---

const char kName[] = "Tillwire";
const char kDisplayName[] = "Tillwire POS Video Bridge";

// A unit directory, a systemctl that logs its arguments (is-active succeeds
// while the file "active" exists; every other command fails while "failing"
// exists) and a systemd run directory, all in a temporary directory.
class ServiceManager : public testing::Test {
 protected:
  ServiceManager() {
    mkdir(Units().c_str(), 0755);
    mkdir((directory.Path() + "run").c_str(), 0755);
    WriteFile(Systemctl(), "#!/bin/sh\n"
                           "echo \"$*\" >> '" + directory.Path() + "systemctl.log'\n"
                           "if [ \"$1\" = is-active ]; then exec test -e '" + directory.Path() + "active'; fi\n"
                           "exec test ! -e '" + directory.Path() + "failing'\n");
    chmod(Systemctl().c_str(), 0755);
    UseSystemd(true);
  }
  ~ServiceManager() override { SetServiceManagerPathsForTesting(ServiceManagerPaths()); }

  void UseSystemd(bool running) {
    ServiceManagerPaths paths;
    paths.unitDirectory = Units();
    paths.systemctl = Systemctl();
    paths.systemdRunDirectory = directory.Path() + (running ? "run" : "absent");
    SetServiceManagerPathsForTesting(paths);
  }

  std::string Units() const { return directory.Path() + "units"; }
  std::string Systemctl() const { return directory.Path() + "systemctl"; }
  std::string UnitPath(const std::string& name) const { return Units() + "/" + name + ".service"; }
  std::string Unit(const std::string& name = kName) const { return ReadFile(UnitPath(name)); }
  bool UnitExists(const std::string& name = kName) const { return access(UnitPath(name).c_str(), F_OK) == 0; }
  void Touch(const std::string& file) const { WriteFile(directory.Path() + file, ""); }

  // The systemctl commands run since the last call, one a line.
  std::string TakeSystemctlCalls() {
    const std::string log = directory.Path() + "systemctl.log";
    const std::string calls = ReadFile(log);
    std::remove(log.c_str());
    return calls;
  }

  // CreateServiceA as the installer calls it; the manager handle is closed.
  SC_HANDLE Create(const std::string& name, const char* binaryPathName) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_NE(nullptr, manager);
    SC_HANDLE service = CreateServiceA(manager, name.c_str(), kDisplayName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                       SERVICE_ERROR_NORMAL, binaryPathName, nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    const DWORD error = GetLastError();
    EXPECT_TRUE(CloseServiceHandle(manager));
    SetLastError(error);
    return service;
  }

  SC_HANDLE Open(const std::string& name, DWORD access) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), access);
    const DWORD error = GetLastError();
    CloseServiceHandle(manager);
    SetLastError(error);
    return service;
  }

  TempDirectory directory;
};

const char kInstalledUnit[] =
    "[Unit]\n"
    "Description=Tillwire POS Video Bridge\n"
    "Wants=network-online.target\n"
    "After=network-online.target\n"
    "\n"
    "[Service]\n"
    "Type=notify\n"
    "ExecStart=/opt/tillwire/tillwire\n"
    "\n"
    "[Install]\n"
    "WantedBy=multi-user.target\n";

TEST_F(ServiceManager, CreateServiceWritesANotifyUnitAndEnablesIt) {
  SC_HANDLE service = Create(kName, "/opt/tillwire/tillwire");
  ASSERT_NE(nullptr, service);
  EXPECT_EQ(kInstalledUnit, Unit());
  EXPECT_EQ("daemon-reload\nenable Tillwire.service\n", TakeSystemctlCalls());
  EXPECT_TRUE(CloseServiceHandle(service));
}

// The installer quotes a path with blanks; systemd must read one word too,
// and must be able to run what it reads.
TEST_F(ServiceManager, ExecStartKeepsTheExecutableOneWord) {
  struct Case {
    const char* binaryPathName;
    const char* execStart;
  };
  const Case cases[] = {
      {"/opt/tillwire/tillwire", "ExecStart=/opt/tillwire/tillwire\n"},
      {"\"/opt/till wire/tillwire\"", "ExecStart=\"/opt/till wire/tillwire\"\n"},
      {"/opt/till wire/tillwire", "ExecStart=\"/opt/till wire/tillwire\"\n"},
      {"\"/opt/50% off/$HOME\"", "ExecStart=\"/opt/50%% off/$HOME\"\n"},
      {"/opt/100%/tillwire", "ExecStart=/opt/100%%/tillwire\n"},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.binaryPathName);
    const std::string name = "Tillwire" + std::to_string(++number);
    SC_HANDLE service = Create(name, c.binaryPathName);
    ASSERT_NE(nullptr, service);
    EXPECT_NE(std::string::npos, Unit(name).find(c.execStart)) << Unit(name);
    CloseServiceHandle(service);
  }
  for (const char* unrunnable : {"/opt/a\"b/tillwire", "/opt/a\\b/tillwire", "/opt/a\tb/tillwire"}) {
    SCOPED_TRACE(unrunnable);
    EXPECT_EQ(nullptr, Create(kName, unrunnable));
    EXPECT_EQ(DWORD{ERROR_INVALID_NAME}, GetLastError());
    EXPECT_FALSE(UnitExists());
  }
}

TEST_F(ServiceManager, NamesMustBeNewValidOrInstalled) {
  SC_HANDLE first = Create(kName, "/opt/tillwire/tillwire");
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(nullptr, Create(kName, "/opt/other/tillwire"));
  EXPECT_EQ(DWORD{ERROR_SERVICE_EXISTS}, GetLastError());
  EXPECT_EQ(kInstalledUnit, Unit()) << "the existing unit is left alone";

  EXPECT_EQ(nullptr, Open("Missing", SERVICE_ALL_ACCESS));
  EXPECT_EQ(DWORD{ERROR_SERVICE_DOES_NOT_EXIST}, GetLastError());
  for (const char* name : {"", "../../etc/cron.d/x", "Till wire"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(nullptr, Create(name, "/opt/tillwire/tillwire"));
    EXPECT_EQ(DWORD{ERROR_INVALID_NAME}, GetLastError());
  }
  CloseServiceHandle(first);
}

TEST_F(ServiceManager, ConfigurationChangesRewriteTheUnit) {
  SC_HANDLE service = Create(kName, "/opt/tillwire/tillwire");
  ASSERT_NE(nullptr, service);
  TakeSystemctlCalls();
  char description[] = "Hands 100% of till traffic to the NVRs";
  SERVICE_DESCRIPTIONA describe = {description};
  ASSERT_TRUE(ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &describe));
  EXPECT_NE(std::string::npos,
            Unit().find("[Unit]\nDescription=Hands 100%% of till traffic to the NVRs\n"))
      << Unit();

  // Applied one after the other: each must replace what the one before wrote.
  struct Case {
    std::vector<SC_ACTION> actions;
    const char* service;
  };
  const Case cases[] = {
      {{{SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_NONE, 0}},
       "[Service]\nType=notify\nExecStart=/opt/tillwire/tillwire\nRestart=on-failure\nRestartSec=60\n\n"},
      {{{SC_ACTION_RESTART, 1500}},
       "[Service]\nType=notify\nExecStart=/opt/tillwire/tillwire\nRestart=on-failure\nRestartSec=1500ms\n\n"},
      {{{SC_ACTION_NONE, 0}}, "[Service]\nType=notify\nExecStart=/opt/tillwire/tillwire\n\n"},
      {{{SC_ACTION_RESTART, 60000}},
       "[Service]\nType=notify\nExecStart=/opt/tillwire/tillwire\nRestart=on-failure\nRestartSec=60\n\n"},
      {{}, "[Service]\nType=notify\nExecStart=/opt/tillwire/tillwire\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.service);
    std::vector<SC_ACTION> actions = c.actions;
    SC_ACTION unused = {};  // an empty list still needs an address: null means "no change"
    SERVICE_FAILURE_ACTIONSA failure = {86400, nullptr, nullptr, static_cast<DWORD>(actions.size()),
                                        actions.empty() ? &unused : actions.data()};
    ASSERT_TRUE(ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure));
    EXPECT_NE(std::string::npos, Unit().find(c.service)) << Unit();
    EXPECT_NE(std::string::npos, Unit().find("\n[Install]\nWantedBy=multi-user.target\n")) << Unit();
  }
  const std::string before = Unit();
  SERVICE_FAILURE_ACTIONSA unchanged = {0, nullptr, nullptr, 0, nullptr};
  ASSERT_TRUE(ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &unchanged));
  EXPECT_EQ(before, Unit());
  std::string reloads;
  for (int i = 0; i < 7; ++i) reloads += "daemon-reload\n";
  EXPECT_EQ(reloads, TakeSystemctlCalls());
  CloseServiceHandle(service);
}

TEST_F(ServiceManager, DeleteServiceDisablesAndRemovesTheUnit) {
  CloseServiceHandle(Create(kName, "/opt/tillwire/tillwire"));
  TakeSystemctlCalls();
  SC_HANDLE service = Open(kName, SERVICE_ALL_ACCESS);
  ASSERT_NE(nullptr, service);
  EXPECT_TRUE(DeleteService(service));
  EXPECT_FALSE(UnitExists());
  EXPECT_EQ("disable Tillwire.service\ndaemon-reload\n", TakeSystemctlCalls());
  EXPECT_FALSE(DeleteService(service));
  EXPECT_EQ(DWORD{ERROR_SERVICE_DOES_NOT_EXIST}, GetLastError());
  EXPECT_EQ(nullptr, Open(kName, SERVICE_ALL_ACCESS));
  EXPECT_EQ(DWORD{ERROR_SERVICE_DOES_NOT_EXIST}, GetLastError());
  EXPECT_TRUE(CloseServiceHandle(service));
}

TEST_F(ServiceManager, ControlServiceStopsAnActiveUnitWithoutWaiting) {
  SC_HANDLE service = Create(kName, "/opt/tillwire/tillwire");
  ASSERT_NE(nullptr, service);
  TakeSystemctlCalls();
  SERVICE_STATUS status = {};
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(DWORD{ERROR_SERVICE_NOT_ACTIVE}, GetLastError());
  EXPECT_EQ("is-active --quiet Tillwire.service\n", TakeSystemctlCalls());

  Touch("active");
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(DWORD{SERVICE_STOP_PENDING}, status.dwCurrentState);
  EXPECT_EQ("is-active --quiet Tillwire.service\nstop --no-block Tillwire.service\n",
            TakeSystemctlCalls());
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status));
  EXPECT_EQ(DWORD{ERROR_INVALID_SERVICE_CONTROL}, GetLastError());
  CloseServiceHandle(service);
}

TEST_F(ServiceManager, WithoutSystemdOnlyTheUnitFileChanges) {
  UseSystemd(false);
  Touch("active");
  SC_HANDLE service = Create(kName, "/opt/tillwire/tillwire");
  ASSERT_NE(nullptr, service);
  EXPECT_EQ(kInstalledUnit, Unit());
  SERVICE_STATUS status = {};
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(DWORD{ERROR_SERVICE_NOT_ACTIVE}, GetLastError());
  EXPECT_TRUE(DeleteService(service));
  EXPECT_FALSE(UnitExists());
  EXPECT_EQ("", TakeSystemctlCalls());
  CloseServiceHandle(service);
}

TEST_F(ServiceManager, AFailingSystemctlFailsTheCreationAndLeavesNoUnit) {
  Touch("failing");
  EXPECT_EQ(nullptr, Create(kName, "/opt/tillwire/tillwire"));
  EXPECT_EQ(DWORD{ERROR_GEN_FAILURE}, GetLastError());
  EXPECT_FALSE(UnitExists());
}

TEST_F(ServiceManager, HandlesAreCheckedAndFreedOnce) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = Create(kName, "/opt/tillwire/tillwire");
  SC_HANDLE readOnly = Open(kName, GENERIC_READ);
  ASSERT_NE(nullptr, manager);
  ASSERT_NE(nullptr, service);
  ASSERT_NE(nullptr, readOnly);
  EXPECT_NE(manager, service);
  EXPECT_NE(service, readOnly);

  EXPECT_FALSE(DeleteService(manager)) << "a manager handle is not a service";
  EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
  EXPECT_EQ(nullptr, OpenServiceA(service, kName, GENERIC_READ)) << "a service is not a manager";
  EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
  EXPECT_FALSE(DeleteService(readOnly));
  EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError());
  EXPECT_TRUE(UnitExists());

  for (SC_HANDLE handle : {manager, service, readOnly}) EXPECT_TRUE(CloseServiceHandle(handle));
  EXPECT_FALSE(CloseServiceHandle(service));
  EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
  EXPECT_FALSE(DeleteService(service)) << "a closed handle is not used";
  EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
}

TEST_F(ServiceManager, ChangesNeedRoot) {
  CloseServiceHandle(Create(kName, "/opt/tillwire/tillwire"));
  const int result = RunInChild([] {
    if (!DropRoot()) return kCannotDropRoot;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager != nullptr || GetLastError() != ERROR_ACCESS_DENIED) return 1;
    manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
    if (manager == nullptr) return 2;
    SC_HANDLE service = OpenServiceA(manager, kName, SERVICE_ALL_ACCESS);
    if (service != nullptr || GetLastError() != ERROR_ACCESS_DENIED) return 3;
    service = OpenServiceA(manager, kName, GENERIC_READ);
    if (service == nullptr) return 4;
    return CloseServiceHandle(service) && CloseServiceHandle(manager) ? 0 : 5;
  });
  if (result == kCannotDropRoot) GTEST_SKIP() << "cannot switch to an unprivileged user here";
  EXPECT_EQ(0, result) << "the check that failed in the child";
}

// --- The service's side: status reports and the dispatcher ---

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

SERVICE_STATUS Status(DWORD state, DWORD accepted, DWORD waitHint = 0,
                      DWORD exitCode = ERROR_SUCCESS, DWORD serviceExitCode = 0) {
  return SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, state, accepted, exitCode, serviceExitCode, 0,
                        waitHint};
}

void WINAPI IgnoreControl(DWORD) {}

TEST(ServiceStatus, BecomesNotifyMessages) {
  NotifySocket notify;
  SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerA(kName, IgnoreControl);
  ASSERT_NE(nullptr, handle);
  struct Case {
    SERVICE_STATUS status;
    const char* message;
  };
  const Case cases[] = {
      {Status(SERVICE_START_PENDING, 0), "STATUS=Starting"},
      {Status(SERVICE_START_PENDING, 0, 30000), "STATUS=Starting\nEXTEND_TIMEOUT_USEC=30000000"},
      {Status(SERVICE_START_PENDING, 0, 0xFFFFFFFF),
       "STATUS=Starting\nEXTEND_TIMEOUT_USEC=4294967295000"},
      {Status(SERVICE_RUNNING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN),
       "READY=1\nSTATUS=Running"},
      {Status(SERVICE_STOP_PENDING, 0, 5000), "STOPPING=1\nSTATUS=Stopping"},
      {Status(SERVICE_STOPPED, 0), "STATUS=Stopped"},
      {Status(SERVICE_STOPPED, 0, 0, ERROR_SERVICE_SPECIFIC_ERROR, 7),
       "STATUS=Stopped, service-specific error 7"},
      {Status(SERVICE_STOPPED, 0, 0, ERROR_ACCESS_DENIED), "STATUS=Stopped, error 5"},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_TRUE(SetServiceStatus(handle, &c.status));
    EXPECT_EQ(c.message, notify.Receive());
  }
}

TEST(ServiceStatus, RefusesWhatWindowsRefuses) {
  SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerA(kName, IgnoreControl);
  SERVICE_STATUS running = Status(SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
  {
    NotifySocket notify;
    SERVICE_STATUS paused = Status(7, 0);
    EXPECT_FALSE(SetServiceStatus(handle, &paused));
    EXPECT_EQ(DWORD{ERROR_INVALID_DATA}, GetLastError());
    EXPECT_FALSE(SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(&running), &running));
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
    EXPECT_EQ("(none)", notify.Receive(200));
  }
  EXPECT_FALSE(SetServiceStatus(handle, &running)) << "without systemd to hear it";
  EXPECT_EQ(DWORD{ERROR_FAILED_SERVICE_CONTROLLER_CONNECT}, GetLastError());
}

// The service that the dispatcher tests run in a child process, and what it
// saw there.
namespace service {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
pthread_t dispatcherThread;
std::atomic<int> stopControls{0};
std::atomic<bool> handlerOffDispatcherThread{false};
std::atomic<bool> stopHandedEarly{false};

void Report(SERVICE_STATUS status) { SetServiceStatus(statusHandle, &status); }

void WINAPI StopOnControl(DWORD control) {
  if (!pthread_equal(pthread_self(), dispatcherThread)) handlerOffDispatcherThread = true;
  if (control != SERVICE_CONTROL_STOP) return;
  ++stopControls;
  Report(Status(SERVICE_STOP_PENDING, 0, 5000));
  Report(Status(SERVICE_STOPPED, 0));
}

void Register() { statusHandle = RegisterServiceCtrlHandlerA(kName, StopOnControl); }

// Starts and leaves the stop to the handler.
void WINAPI RunUntilStopped(DWORD, LPSTR*) {
  Register();
  Report(Status(SERVICE_START_PENDING, 0, 3000));
  Report(Status(SERVICE_RUNNING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
}

void WINAPI FailToStart(DWORD, LPSTR*) {
  Register();
  Report(Status(SERVICE_START_PENDING, 0, 3000));
  Report(Status(SERVICE_STOPPED, 0, 0, ERROR_SERVICE_SPECIFIC_ERROR, 3));
}

// Is told to stop while it still starts and does not accept a stop yet.
void WINAPI SignalledWhileStarting(DWORD, LPSTR*) {
  Register();
  Report(Status(SERVICE_START_PENDING, 0, 3000));
  kill(getpid(), SIGTERM);
  sigset_t pending;
  for (int waited = 0; sigpending(&pending) == 0 && sigismember(&pending, SIGTERM) && waited < 5000;
       ++waited) {
    Sleep(1);
  }
  Sleep(100);  // time for a dispatcher that hands the stop on too early
  stopHandedEarly = stopControls > 0;
  Report(Status(SERVICE_RUNNING, SERVICE_ACCEPT_STOP));
}

// Runs the dispatcher with main; 0 when everything went as on Windows, else
// the number of the check that failed.
int Dispatch(LPSERVICE_MAIN_FUNCTIONA main, int expectedStops) {
  dispatcherThread = pthread_self();
  char name[] = "Tillwire";
  SERVICE_TABLE_ENTRYA table[] = {{name, main}, {nullptr, nullptr}};
  if (StartServiceCtrlDispatcherA(table) != TRUE) return 1;
  if (stopControls != expectedStops) return 2;
  if (handlerOffDispatcherThread) return 3;
  if (stopHandedEarly) return 4;
  return 0;
}

}  // namespace service

TEST(ServiceDispatcher, WithoutSystemdFailsAsFromAConsole) {
  unsetenv("NOTIFY_SOCKET");
  char name[] = "Tillwire";
  SERVICE_TABLE_ENTRYA table[] = {{name, service::RunUntilStopped}, {nullptr, nullptr}};
  EXPECT_FALSE(StartServiceCtrlDispatcherA(table));
  EXPECT_EQ(DWORD{ERROR_FAILED_SERVICE_CONTROLLER_CONNECT}, GetLastError());
  EXPECT_EQ(nullptr, service::statusHandle) << "the service was not run";
}

TEST(ServiceDispatcher, SigtermStopsTheServiceThroughItsHandler) {
  NotifySocket notify;
  const pid_t child = StartChild([] { return service::Dispatch(service::RunUntilStopped, 1); });
  EXPECT_EQ("STATUS=Starting\nEXTEND_TIMEOUT_USEC=3000000", notify.Receive());
  EXPECT_EQ("READY=1\nSTATUS=Running", notify.Receive());
  kill(child, SIGTERM);
  EXPECT_EQ(0, WaitForChild(child)) << "the check that failed in the child";
  EXPECT_EQ("STOPPING=1\nSTATUS=Stopping", notify.Receive());
  EXPECT_EQ("STATUS=Stopped", notify.Receive());
}

TEST(ServiceDispatcher, ReturnsWhenTheServiceStopsByItself) {
  NotifySocket notify;
  EXPECT_EQ(0, RunInChild([] { return service::Dispatch(service::FailToStart, 0); }))
      << "the check that failed in the child (1014: it hung)";
  EXPECT_EQ("STATUS=Starting\nEXTEND_TIMEOUT_USEC=3000000", notify.Receive());
  EXPECT_EQ("STATUS=Stopped, service-specific error 3", notify.Receive());
}

TEST(ServiceDispatcher, HoldsAnEarlyStopUntilTheServiceAcceptsIt) {
  NotifySocket notify;
  EXPECT_EQ(0, RunInChild([] { return service::Dispatch(service::SignalledWhileStarting, 1); }))
      << "the check that failed in the child";
  EXPECT_EQ("STATUS=Starting\nEXTEND_TIMEOUT_USEC=3000000", notify.Receive());
  EXPECT_EQ("READY=1\nSTATUS=Running", notify.Receive());
  EXPECT_EQ("STOPPING=1\nSTATUS=Stopping", notify.Receive());
  EXPECT_EQ("STATUS=Stopped", notify.Receive());
}

// --- The console's control events ---

namespace console {

const DWORD kNone = 0xFFFF;
std::atomic<DWORD> received{kNone};
// What the child does, set before it is forked.
int signalToSend = 0;
enum class Handler { kTakes, kDeclines, kRemoved } handler = Handler::kTakes;

BOOL WINAPI Record(DWORD event) {
  received = event;
  return handler == Handler::kTakes ? TRUE : FALSE;
}

// Signals itself with the handler in place (or removed again); 10 + the
// event the handler took, or 1 when it was not added, 2 when it got nothing,
// 3 when the process outlived a signal that no handler took.
int SignalItself() {
  if (!SetConsoleCtrlHandler(&Record, TRUE)) return 1;
  if (handler == Handler::kRemoved && !SetConsoleCtrlHandler(&Record, FALSE)) return 1;
  kill(getpid(), signalToSend);
  for (int waited = 0; received == kNone && waited < 5000; ++waited) Sleep(1);
  if (handler == Handler::kTakes) return received == kNone ? 2 : 10 + static_cast<int>(received);
  for (int waited = 0; waited < 5000; ++waited) Sleep(1);
  return 3;
}

}  // namespace console

// SIGINT is Ctrl-C and SIGTERM Ctrl-Break for the console's handlers; a
// signal that no handler takes ends the process as it would without them.
TEST(ConsoleControl, SignalsReachTheHandlersAsConsoleEvents) {
  struct Case {
    int signal;
    console::Handler handler;
    int result;  // of the child: 10 + the event taken, or 1000 + the signal that ended it
  };
  const Case cases[] = {
      {SIGINT, console::Handler::kTakes, 10 + CTRL_C_EVENT},
      {SIGTERM, console::Handler::kTakes, 10 + CTRL_BREAK_EVENT},
      {SIGINT, console::Handler::kDeclines, 1000 + SIGINT},
      {SIGTERM, console::Handler::kRemoved, 1000 + SIGTERM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.signal)) + ", handler " +
                 std::to_string(static_cast<int>(c.handler)));
    console::signalToSend = c.signal;
    console::handler = c.handler;
    EXPECT_EQ(c.result, RunInChild(&console::SignalItself));
  }
  EXPECT_FALSE(SetConsoleCtrlHandler(&console::Record, FALSE)) << "never added here";
  EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
}

// --- Privileges ---

// Enables SeShutdownPrivilege as a program about to restart the machine does;
// the last error after AdjustTokenPrivileges, or a failing step's.
DWORD EnableShutdownPrivilege(DWORD tokenAccess) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), tokenAccess, &token)) return GetLastError();
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  }
  const DWORD error = GetLastError();
  return CloseHandle(token) ? error : 0xDEAD;
}

TEST(Privileges, RootHoldsTheShutdownPrivilege) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  EXPECT_EQ(DWORD{ERROR_SUCCESS}, EnableShutdownPrivilege(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY));
  EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, EnableShutdownPrivilege(TOKEN_QUERY))
      << "the token was not opened for adjusting";
}

TEST(Privileges, OthersAreNotAssignedIt) {
  const int result = RunInChild([] {
    if (!DropRoot()) return kCannotDropRoot;
    const DWORD error = EnableShutdownPrivilege(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    return error == ERROR_NOT_ALL_ASSIGNED ? 0 : 1;
  });
  if (result == kCannotDropRoot) GTEST_SKIP() << "cannot switch to an unprivileged user here";
  EXPECT_EQ(0, result);
}

TEST(Privileges, OnlyTheShutdownPrivilegeIsKnown) {
  LUID luid = {};
  EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeBackupPrivilege", &luid));
  EXPECT_EQ(DWORD{ERROR_NO_SUCH_PRIVILEGE}, GetLastError());
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_TRUE(CloseHandle(token));
  EXPECT_FALSE(CloseHandle(token));
  EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
}

}  // namespace
