// A scripted stand-in for the Windows API subset of platform/windows_api.h,
// for the service host's tests: a test executable links tillwire_fake_windows
// in place of tillwire_platform. It records every call with its arguments and
// lets the test script results; nothing reaches syslog, systemd or the unit
// directory. GetLastError, SetLastError, Sleep and the runtime library's
// helpers are the real ones (tillwire_runtime).
//
// The functions act on the FakeWindows made last that still exists (make one
// per test; one made inside a test for a case of its own stands in for the
// test's until it goes) and abort when there is none. Calls may come from any
// thread.
//
//   FakeWindows windows;
//   windows.DeliverControls({SERVICE_CONTROL_STOP});
//   RunAsService();  // the code under test
//   EXPECT_EQ(States(windows.StatusReports()), ...);
//   EXPECT_TRUE(windows.OpenHandles().empty());
#ifndef TILLWIRE_TESTS_SUPPORT_FAKE_WINDOWS_H
#define TILLWIRE_TESTS_SUPPORT_FAKE_WINDOWS_H

#include "platform/windows_api.h"

#include <cstddef>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

struct FakeWindowsState;

class FakeWindows {
 public:
  // One ReportEventA.
  struct Event {
    WORD type;
    DWORD id;
    std::string source;  // the name RegisterEventSourceA was given
    std::vector<std::string> strings;
  };

  // A service, as CreateServiceA made it (texts read empty when null) and as
  // later calls changed it.
  struct Service {
    std::string displayName;
    DWORD desiredAccess = 0;
    DWORD serviceType = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    std::string binaryPathName;
    std::string loadOrderGroup;
    std::vector<std::string> dependencies;
    std::string serviceStartName;
    std::string password;
    std::string description;  // ChangeServiceConfig2A's
    DWORD resetPeriod = 0;    // ChangeServiceConfig2A's failure actions
    std::vector<SC_ACTION> failureActions;
    bool failureActionsOnNonCrashFailures = false;  // ChangeServiceConfig2A's flag
    std::vector<DWORD> controls;  // ControlService's, in order
    bool deleted = false;         // by DeleteService
  };

  // A handle handed out: "manager", "service", "event source", "token" or
  // "key".
  struct Handle {
    std::string kind;
    std::string name;  // the service's or event source's
    DWORD access;
  };

  FakeWindows();
  ~FakeWindows();
  FakeWindows(const FakeWindows&) = delete;
  FakeWindows& operator=(const FakeWindows&) = delete;

  // --- Script ---

  // Every later call of the function (by its Windows name, e.g.
  // "OpenSCManagerA") fails with error and has no other effect (the registry
  // functions return it, the others set it as the last error); ERROR_SUCCESS
  // lets it succeed again. std::invalid_argument for a name the fake does not
  // implement.
  void Fail(const std::string& function, DWORD error);

  // StartServiceCtrlDispatcherA runs the table's first main function on the
  // calling thread, then hands these controls in order to the handler it
  // registered, then returns TRUE. (A main function that waits for its stop
  // control would wait forever.)
  void DeliverControls(const std::vector<DWORD>& controls);

  // A console control event (CTRL_C_EVENT, ...) as the console raises it:
  // handed to the handlers that SetConsoleCtrlHandler added, the one added
  // last first, on the calling thread, until one returns TRUE. FALSE when
  // none took it (Windows would then end the process).
  BOOL ConsoleControl(DWORD event);
  // How many console control handlers are added at the moment.
  std::size_t ConsoleHandlerCount() const;

  // Whether AdjustTokenPrivileges finds SeShutdownPrivilege held (by default
  // it does, as for LocalSystem); if not, it succeeds with
  // ERROR_NOT_ALL_ASSIGNED.
  void SetShutdownPrivilegeHeld(bool held);

  // What GetModuleFileNameA reports; by default the test executable's path.
  void SetModuleFileName(const std::string& path);

  // A service installed before the test began.
  void AddService(const std::string& name);

  // --- Records ---

  // The name of every call, in order, failed ones too.
  std::vector<std::string> Calls() const;
  // Every status that SetServiceStatus accepted.
  std::vector<SERVICE_STATUS> StatusReports() const;
  std::vector<Event> Events() const;
  // The services by name, deleted ones too.
  std::map<std::string, Service> Services() const;
  // The registry keys that RegCreateKeyExA made under HKEY_LOCAL_MACHINE and
  // RegDeleteKeyA has not removed, by path, with their values by name:
  // strings without their terminator, REG_DWORD values in decimal.
  std::map<std::string, std::map<std::string, std::string>> RegistryKeys() const;
  // The privileges (by name) that AdjustTokenPrivileges was asked to enable.
  std::vector<std::string> EnabledPrivileges() const;
  // The handles opened and not closed yet.
  std::vector<Handle> OpenHandles() const;

 private:
  std::unique_ptr<FakeWindowsState> state;
  FakeWindowsState* previous;  // the one in use before this, again afterwards
};

// For test failure messages: "service Tillwire (access 0xf01ff)".
std::ostream& operator<<(std::ostream& out, const FakeWindows::Handle& handle);

#endif
