#include "platform/service_registration.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>

namespace tillwire {

namespace {

const DWORD kResetPeriodSeconds = 86400;
const DWORD kRestartDelayMs = 60000;
// Where the event log looks up a source of the Application log.
const char kEventSourceKeys[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// The entry types the service writes.
const DWORD kEventTypes = EVENTLOG_ERROR_TYPE | EVENTLOG_INFORMATION_TYPE;

// The events of one registration or removal.
class Events {
 public:
  void Add(RegistrationStep step, DWORD error = 0) { events.push_back({step, error}); }
  void AddLastError(RegistrationStep step) { Add(step, GetLastError()); }
  std::vector<RegistrationEvent> Done() { return std::move(events); }

 private:
  std::vector<RegistrationEvent> events;
};

// A service manager or service handle, closed on every path.
class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE handle) : handle(handle) {}
  ~ServiceHandle() {
    if (handle != nullptr) CloseServiceHandle(handle);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;

  SC_HANDLE get() const { return handle; }

 private:
  SC_HANDLE handle;
};

// The path to register: as the module-path query gave it, or in double quotes
// when it holds a blank, so that no shorter prefix of it (C:\Program.exe) can
// be taken for the program.
std::string ServicePath(const char* modulePath) {
  if (std::strchr(modulePath, ' ') == nullptr) return modulePath;
  return std::string("\"") + modulePath + "\"";
}

// True when "SeShutdownPrivilege" is enabled in the process token, which
// setting restart actions requires.
bool EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return false;
  }
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  // The adjustment succeeds without the privilege, and says so only here.
  const bool enabled = GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return enabled;
}

void SetDescription(SC_HANDLE service, const std::string& description, Events& events) {
  std::string text = description;
  SERVICE_DESCRIPTIONA info{&text[0]};
  if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &info)) {
    events.AddLastError(RegistrationStep::kDescriptionFailed);
  }
}

void SetRestartActions(SC_HANDLE service, Events& events) {
  SC_ACTION actions[3] = {{SC_ACTION_RESTART, kRestartDelayMs},
                          {SC_ACTION_RESTART, kRestartDelayMs},
                          {SC_ACTION_RESTART, kRestartDelayMs}};
  SERVICE_FAILURE_ACTIONSA failureActions{};
  failureActions.dwResetPeriod = kResetPeriodSeconds;
  failureActions.cActions = 3;
  failureActions.lpsaActions = actions;
  if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions)) {
    events.AddLastError(RegistrationStep::kRestartsFailed);
    return;
  }
  // The restarts apply also when the service reports itself stopped with an
  // error code (an engine run that ended by itself), not only when its
  // process ends without reporting stopped. A service manager that does not
  // know the setting (before Windows Vista; Wine) restarts after crashes
  // only; the actions themselves are set, so that is no install failure.
  SERVICE_FAILURE_ACTIONS_FLAG alsoOnErrorStops{TRUE};
  ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &alsoOnErrorStops);
}

// Creates and configures the service; false when it could not be created.
bool CreateAndConfigure(SC_HANDLE manager, const ServiceDefinition& definition,
                        const char* modulePath, Events& events) {
  const std::string path = ServicePath(modulePath);
  const ServiceHandle service(CreateServiceA(
      manager, definition.name.c_str(), definition.displayName.c_str(), SERVICE_ALL_ACCESS,
      SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, path.c_str(), nullptr,
      nullptr, definition.dependencies.c_str(), nullptr, nullptr));
  if (service.get() == nullptr) {
    events.AddLastError(RegistrationStep::kCreateFailed);
    return false;
  }
  SetDescription(service.get(), definition.description, events);
  if (EnableShutdownPrivilege()) SetRestartActions(service.get(), events);
  return true;
}

// Makes the executable the event source's message file: its message table
// shows each entry's two strings.
void RegisterMessageFile(const std::string& name, const char* modulePath, Events& events) {
  const std::string keyPath = kEventSourceKeys + name;
  HKEY key = nullptr;
  LSTATUS result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr,
                                   REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (result == ERROR_SUCCESS) {
    result = RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(modulePath),
                            static_cast<DWORD>(std::strlen(modulePath) + 1));
    if (result == ERROR_SUCCESS) {
      result = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&kEventTypes), sizeof kEventTypes);
    }
    RegCloseKey(key);
  }
  if (result != ERROR_SUCCESS) {
    events.Add(RegistrationStep::kMessageFileFailed, static_cast<DWORD>(result));
  }
}

// Removes the event source's registration; one that is not there is no news.
void RemoveMessageFile(const std::string& name, Events& events) {
  const LSTATUS result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kEventSourceKeys + name).c_str());
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
    events.Add(RegistrationStep::kMessageFileRemoveFailed, static_cast<DWORD>(result));
  }
}

// Sends the stop control; a service that does not run is no news.
void StopForRemoval(SC_HANDLE service, Events& events) {
  SERVICE_STATUS status{};
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    events.Add(RegistrationStep::kStoppedForRemoval);
  } else if (GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
    events.AddLastError(RegistrationStep::kStopForRemovalFailed);
  }
}

// The executable's path as GetModuleFileNameA gives it; false, with the reason
// in the events, when it does not fit the buffer: registering a cut path would
// name a program that does not exist.
bool ModulePath(char (&path)[MAX_PATH], Events& events) {
  // So that a cut path is not reported with an earlier call's error code.
  SetLastError(ERROR_SUCCESS);
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length >= MAX_PATH && GetLastError() == ERROR_SUCCESS) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
  }
  if (length != 0 && length < MAX_PATH) return true;
  events.AddLastError(RegistrationStep::kProgramPathFailed);
  return false;
}

}  // namespace

bool IsServiceInstalled(const std::string& name) {
  const ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
  if (manager.get() == nullptr) return false;
  const ServiceHandle service(OpenServiceA(manager.get(), name.c_str(), GENERIC_READ));
  return service.get() != nullptr;
}

std::vector<RegistrationEvent> RegisterService(const ServiceDefinition& definition) {
  Events events;
  char modulePath[MAX_PATH] = {};
  {
    const ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, GENERIC_WRITE));
    if (manager.get() == nullptr) {
      events.AddLastError(RegistrationStep::kConnectFailed);
      return events.Done();
    }
    if (!ModulePath(modulePath, events) ||
        !CreateAndConfigure(manager.get(), definition, modulePath, events)) {
      return events.Done();
    }
  }
  RegisterMessageFile(definition.name, modulePath, events);
  events.Add(RegistrationStep::kInstalled);
  return events.Done();
}

std::vector<RegistrationEvent> RemoveService(const std::string& name) {
  Events events;
  const ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (manager.get() == nullptr) {
    events.AddLastError(RegistrationStep::kConnectFailed);
    return events.Done();
  }
  const ServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
  if (service.get() == nullptr) {
    events.AddLastError(RegistrationStep::kOpenFailed);
    return events.Done();
  }
  StopForRemoval(service.get(), events);
  if (DeleteService(service.get())) {
    events.Add(RegistrationStep::kDeleted);
    RemoveMessageFile(name, events);
  } else {
    events.AddLastError(RegistrationStep::kDeleteFailed);
  }
  return events.Done();
}

}  // namespace tillwire
