#include "service/service_installer.h"

#include "platform/windows_api.h"
#include "service/service_host.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace tillwire {

namespace {

const DWORD kResetPeriodSeconds = 86400;
const DWORD kRestartDelayMs = 60000;
// Where the event log looks up a source of the Application log.
const char kEventSourceKeys[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// The entry types the service writes.
const DWORD kEventTypes = EVENTLOG_ERROR_TYPE | EVENTLOG_INFORMATION_TYPE;

// An error entry with the code, and the same text in the log.
void ReportError(const char* name, const char* message, DWORD code, LogFunction log) {
  LogErrorEvent(name, message, code);
  log(message);
}

void ReportError(const char* name, const char* message, LogFunction log) {
  ReportError(name, message, GetLastError(), log);
}

void ReportInformation(const char* name, const char* message, LogFunction log) {
  LogEvent(name, message, EVENTLOG_INFORMATION_TYPE);
  log(message);
}

// The path to register: as the module-path query gave it, or in double quotes
// when it holds a blank, so that no shorter prefix of it (C:\Program.exe) can
// be taken for the program.
std::string ServicePath(const char* modulePath) {
  if (std::strchr(modulePath, ' ') == nullptr) return modulePath;
  return std::string("\"") + modulePath + "\"";
}

void SetDescription(SC_HANDLE service, const char* name, const char* description,
                    LogFunction log) {
  std::string text = description;
  SERVICE_DESCRIPTIONA info{&text[0]};
  if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &info)) {
    ReportError(name, text::kDescriptionFailed, log);
  }
}

void SetRestartActions(SC_HANDLE service, const char* name, LogFunction log) {
  SC_ACTION actions[3] = {{SC_ACTION_RESTART, kRestartDelayMs},
                          {SC_ACTION_RESTART, kRestartDelayMs},
                          {SC_ACTION_RESTART, kRestartDelayMs}};
  SERVICE_FAILURE_ACTIONSA failureActions{};
  failureActions.dwResetPeriod = kResetPeriodSeconds;
  failureActions.cActions = 3;
  failureActions.lpsaActions = actions;
  if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions)) {
    ReportError(name, text::kFailureActionsFailed, log);
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

// Creates and configures the service; -1 when it could not be created.
int CreateAndConfigure(SC_HANDLE manager, const char* name, const char* displayName,
                       const char* description, const char* dependencies, const char* modulePath,
                       LogFunction log) {
  const std::string path = ServicePath(modulePath);
  SC_HANDLE service = CreateServiceA(manager, name, displayName, SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                     SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr,
                                     dependencies, nullptr, nullptr);
  if (service == nullptr) {
    ReportError(name, text::kCreateFailed, log);
    return -1;
  }
  SetDescription(service, name, description, log);
  if (EnableShutdownPrivilege()) SetRestartActions(service, name, log);
  CloseServiceHandle(service);
  return 0;
}

// Makes the executable the event source's message file: its message table
// shows each entry's two strings. A failure is reported; the install goes on.
void RegisterMessageFile(const char* name, const char* modulePath, LogFunction log) {
  const std::string keyPath = kEventSourceKeys + std::string(name);
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
    ReportError(name, text::kEventSourceFailed, static_cast<DWORD>(result), log);
  }
}

// Removes the event source's registration; one that is not there is no news.
void RemoveMessageFile(const char* name, LogFunction log) {
  const LSTATUS result =
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kEventSourceKeys + std::string(name)).c_str());
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
    ReportError(name, text::kEventSourceRemoveFailed, static_cast<DWORD>(result), log);
  }
}

// Sends the stop control; a service that does not run is no news.
void StopForRemoval(SC_HANDLE service, const char* name, LogFunction log) {
  SERVICE_STATUS status{};
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    ReportInformation(name, text::kStoppedToUninstall, log);
  } else if (GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
    ReportError(name, text::kUninstallConnectFailed, log);
  }
}

}  // namespace

bool IsServiceInstalled(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceA(manager, name, GENERIC_READ);
  const bool installed = service != nullptr;
  if (installed) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return installed;
}

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

int InstallService(const char* name, const char* displayName, const char* description,
                   const char* dependencies, LogFunction log) {
  if (IsServiceInstalled(name)) {
    std::printf("%s\n", text::kAlreadyInstalled);
    return 0;
  }
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_WRITE);
  if (manager == nullptr) {
    ReportError(name, text::kInstallConnectFailed, log);
    return -1;
  }
  char modulePath[MAX_PATH] = {};
  // So that a cut path is not reported with an earlier call's error code.
  SetLastError(ERROR_SUCCESS);
  const DWORD length = GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
  // A path that does not fit comes back cut to the buffer: registering it
  // would name a program that does not exist.
  if (length >= MAX_PATH && GetLastError() == ERROR_SUCCESS) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
  }
  if (length == 0 || length >= MAX_PATH) {
    char message[254];
    std::snprintf(message, sizeof message, text::kModuleFileNameFailedFormat,
                  static_cast<unsigned long>(GetLastError()));
    std::printf("%s\n", message);
    log(message);
    CloseServiceHandle(manager);
    return -1;
  }
  const int result =
      CreateAndConfigure(manager, name, displayName, description, dependencies, modulePath, log);
  CloseServiceHandle(manager);
  if (result != 0) return result;
  RegisterMessageFile(name, modulePath, log);
  ReportInformation(name, text::kInstalled, log);
  std::printf("%s\n", text::kInstalledConsole);
  return 0;
}

int UninstallService(const char* name, LogFunction log) {
  if (!IsServiceInstalled(name)) {
    std::printf("%s\n", text::kNotInstalled);
    return 0;
  }
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    ReportError(name, text::kUninstallConnectFailed, log);
    return -1;
  }
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    ReportError(name, text::kOpenFailed, log);
    CloseServiceHandle(manager);
    return -1;
  }
  StopForRemoval(service, name, log);
  int result = 0;
  if (DeleteService(service)) {
    ReportInformation(name, text::kDeleted, log);
    RemoveMessageFile(name, log);
    std::printf("%s\n", text::kUninstalledConsole);
  } else {
    ReportError(name, text::kDeleteFailed, log);
    result = -1;
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return result;
}

}  // namespace tillwire
