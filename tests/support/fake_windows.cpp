#include "support/fake_windows.h"

#include "platform/console_handlers.h"
#include "platform/failure.h"
#include "platform/module_file_name.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <set>
#include <stdexcept>

struct FakeWindowsState {
  std::mutex mutex;

  // Script.
  std::map<std::string, DWORD> failures;
  std::vector<DWORD> controls;
  bool shutdownPrivilegeHeld = true;
  std::string moduleFileName;

  // Records.
  std::vector<std::string> calls;
  std::vector<SERVICE_STATUS> statusReports;
  std::vector<FakeWindows::Event> events;
  std::map<std::string, FakeWindows::Service> services;
  std::vector<std::string> enabledPrivileges;
  std::map<std::string, std::map<std::string, std::string>> registryKeys;
  std::map<std::uintptr_t, FakeWindows::Handle> openHandles;  // by handle value
  std::uintptr_t nextHandle = 1;  // values are never reused: a closed handle stays invalid
  LPHANDLER_FUNCTION handler = nullptr;
  ConsoleHandlers consoleHandlers;
};

namespace {

FakeWindowsState* current = nullptr;

const std::set<std::string>& Functions() {
  static const std::set<std::string> functions = {
      "GetModuleFileNameA", "RegisterEventSourceA", "ReportEventA", "DeregisterEventSource",
      "StartServiceCtrlDispatcherA", "RegisterServiceCtrlHandlerA", "SetServiceStatus",
      "OpenSCManagerA", "OpenServiceA", "CreateServiceA", "ChangeServiceConfig2A", "DeleteService",
      "ControlService", "CloseServiceHandle", "OpenProcessToken", "LookupPrivilegeValueA",
      "AdjustTokenPrivileges", "CloseHandle", "RegCreateKeyExA", "RegSetValueExA", "RegCloseKey",
      "RegDeleteKeyA", "SetConsoleCtrlHandler"};
  return functions;
}

// Windows' value for SeShutdownPrivilege.
const LUID kShutdownLuid = {19, 0};

// The status handle RegisterServiceCtrlHandlerA hands out.
SERVICE_STATUS_HANDLE StatusHandle() { return reinterpret_cast<SERVICE_STATUS_HANDLE>(1); }

HANDLE CurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }

std::string Text(LPCSTR text) { return text == nullptr ? std::string() : text; }

// A double-null-terminated list of names.
std::vector<std::string> Names(LPCSTR list) {
  std::vector<std::string> names;
  for (LPCSTR name = list; name != nullptr && *name != '\0'; name += names.back().size() + 1) {
    names.push_back(name);
  }
  return names;
}

FakeWindowsState& State() {
  if (current == nullptr) {
    std::fputs("A Windows API function was called without a FakeWindows in the test\n", stderr);
    std::abort();
  }
  return *current;
}

// One call in progress: recorded, with the state locked while it lasts.
class Call {
 public:
  explicit Call(const char* function) : state(State()), lock(state.mutex) {
    state.calls.push_back(function);
    auto failure = state.failures.find(function);
    error = failure == state.failures.end() ? ERROR_SUCCESS : failure->second;
  }

  // The error the test scripted for the call, or ERROR_SUCCESS.
  DWORD ScriptedError() const { return error; }

  // True, with the last error set, when the test scripted the call to fail.
  bool Fails() const {
    if (error != ERROR_SUCCESS) SetLastError(error);
    return error != ERROR_SUCCESS;
  }

  void* OpenHandle(const std::string& kind, const std::string& name, DWORD access) {
    const std::uintptr_t value = state.nextHandle++;
    state.openHandles[value] = FakeWindows::Handle{kind, name, access};
    return reinterpret_cast<void*>(value);
  }

  // The open handle if it is of one of the kinds, else null with
  // ERROR_INVALID_HANDLE.
  FakeWindows::Handle* FindHandle(const void* handle, std::initializer_list<std::string> kinds) {
    auto found = state.openHandles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == state.openHandles.end() ||
        std::find(kinds.begin(), kinds.end(), found->second.kind) == kinds.end()) {
      return FailNull(ERROR_INVALID_HANDLE);
    }
    return &found->second;
  }

  BOOL CloseHandleOf(const void* handle, std::initializer_list<std::string> kinds) {
    if (FindHandle(handle, kinds) == nullptr) return FALSE;
    state.openHandles.erase(reinterpret_cast<std::uintptr_t>(handle));
    return TRUE;
  }

  // The service behind a service handle, or null with ERROR_INVALID_HANDLE.
  FakeWindows::Service* FindService(SC_HANDLE handle) {
    const FakeWindows::Handle* found = FindHandle(handle, {"service"});
    return found == nullptr ? nullptr : &state.services[found->name];
  }

  FakeWindowsState& state;

 private:
  std::unique_lock<std::mutex> lock;
  DWORD error;
};

LPHANDLER_FUNCTION Handler() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return State().handler;
}

BOOL SetFailureActions(FakeWindows::Service& service, const SERVICE_FAILURE_ACTIONSA& actions) {
  if (actions.lpsaActions == nullptr) return TRUE;
  service.resetPeriod = actions.dwResetPeriod;
  service.failureActions.assign(actions.lpsaActions, actions.lpsaActions + actions.cActions);
  return TRUE;
}

}  // namespace

FakeWindows::FakeWindows() : state(new FakeWindowsState), previous(current) {
  char* path = nullptr;
  if (_get_pgmptr(&path) == 0) state->moduleFileName = path;
  current = state.get();
}

FakeWindows::~FakeWindows() { current = previous; }

void FakeWindows::Fail(const std::string& function, DWORD error) {
  if (Functions().count(function) == 0) {
    throw std::invalid_argument("FakeWindows does not implement " + function);
  }
  std::lock_guard<std::mutex> lock(state->mutex);
  state->failures[function] = error;
  if (error == ERROR_SUCCESS) state->failures.erase(function);
}

void FakeWindows::DeliverControls(const std::vector<DWORD>& controls) {
  std::lock_guard<std::mutex> lock(state->mutex);
  state->controls = controls;
}

BOOL FakeWindows::ConsoleControl(DWORD event) {
  ConsoleHandlers handlers;
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    handlers = state->consoleHandlers;
  }
  return handlers.Deliver(event) ? TRUE : FALSE;
}

std::size_t FakeWindows::ConsoleHandlerCount() const {
  std::lock_guard<std::mutex> lock(state->mutex);
  return state->consoleHandlers.Count();
}

void FakeWindows::SetShutdownPrivilegeHeld(bool held) {
  std::lock_guard<std::mutex> lock(state->mutex);
  state->shutdownPrivilegeHeld = held;
}

void FakeWindows::SetModuleFileName(const std::string& path) {
  std::lock_guard<std::mutex> lock(state->mutex);
  state->moduleFileName = path;
}

void FakeWindows::AddService(const std::string& name) {
  std::lock_guard<std::mutex> lock(state->mutex);
  state->services[name] = Service();
}

std::vector<std::string> FakeWindows::Calls() const {
  std::lock_guard<std::mutex> lock(state->mutex);
  return state->calls;
}

std::vector<SERVICE_STATUS> FakeWindows::StatusReports() const {
  std::lock_guard<std::mutex> lock(state->mutex);
  return state->statusReports;
}

std::vector<FakeWindows::Event> FakeWindows::Events() const {
  std::lock_guard<std::mutex> lock(state->mutex);
  return state->events;
}

std::map<std::string, FakeWindows::Service> FakeWindows::Services() const {
  std::lock_guard<std::mutex> lock(state->mutex);
  return state->services;
}

std::map<std::string, std::map<std::string, std::string>> FakeWindows::RegistryKeys() const {
  std::lock_guard<std::mutex> lock(state->mutex);
  return state->registryKeys;
}

std::vector<std::string> FakeWindows::EnabledPrivileges() const {
  std::lock_guard<std::mutex> lock(state->mutex);
  return state->enabledPrivileges;
}

std::vector<FakeWindows::Handle> FakeWindows::OpenHandles() const {
  std::lock_guard<std::mutex> lock(state->mutex);
  std::vector<Handle> handles;
  for (const auto& handle : state->openHandles) handles.push_back(handle.second);
  return handles;
}

std::ostream& operator<<(std::ostream& out, const FakeWindows::Handle& handle) {
  out << handle.kind;
  if (!handle.name.empty()) out << ' ' << handle.name;
  return out << " (access 0x" << std::hex << handle.access << std::dec << ')';
}

// --- The faked functions ---

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  Call call("GetModuleFileNameA");
  if (call.Fails()) return 0;
  if (hModule != nullptr) return Fail(ERROR_INVALID_HANDLE);
  return CopyModuleFileName(call.state.moduleFileName, lpFilename, nSize);
}

HANDLE RegisterEventSourceA(LPCSTR /*lpUNCServerName*/, LPCSTR lpSourceName) {
  Call call("RegisterEventSourceA");
  if (call.Fails()) return nullptr;
  return call.OpenHandle("event source", Text(lpSourceName), 0);
}

BOOL ReportEventA(HANDLE hEventLog, WORD wType, WORD /*wCategory*/, DWORD dwEventID,
                  PSID /*lpUserSid*/, WORD wNumStrings, DWORD /*dwDataSize*/, LPCSTR* lpStrings,
                  LPVOID /*lpRawData*/) {
  Call call("ReportEventA");
  if (call.Fails()) return FALSE;
  const FakeWindows::Handle* source = call.FindHandle(hEventLog, {"event source"});
  if (source == nullptr) return FALSE;
  if (wNumStrings > 0 && lpStrings == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  FakeWindows::Event event{wType, dwEventID, source->name, {}};
  for (WORD i = 0; i < wNumStrings; ++i) event.strings.push_back(Text(lpStrings[i]));
  call.state.events.push_back(event);
  return TRUE;
}

BOOL DeregisterEventSource(HANDLE hEventLog) {
  Call call("DeregisterEventSource");
  if (call.Fails()) return FALSE;
  return call.CloseHandleOf(hEventLog, {"event source"});
}

BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* lpServiceStartTable) {
  std::vector<DWORD> controls;
  {
    Call call("StartServiceCtrlDispatcherA");
    if (call.Fails()) return FALSE;
    if (lpServiceStartTable == nullptr || lpServiceStartTable[0].lpServiceProc == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    controls = call.state.controls;
  }
  LPSTR arguments[] = {lpServiceStartTable[0].lpServiceName, nullptr};
  lpServiceStartTable[0].lpServiceProc(1, arguments);
  for (DWORD control : controls) {
    const LPHANDLER_FUNCTION handler = Handler();
    if (handler != nullptr) handler(control);
  }
  return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR /*lpServiceName*/,
                                                  LPHANDLER_FUNCTION lpHandlerProc) {
  Call call("RegisterServiceCtrlHandlerA");
  if (call.Fails()) return nullptr;
  call.state.handler = lpHandlerProc;
  return StatusHandle();
}

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add) {
  Call call("SetConsoleCtrlHandler");
  if (call.Fails()) return FALSE;
  if (HandlerRoutine == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (Add) {
    call.state.consoleHandlers.Add(HandlerRoutine);
    return TRUE;
  }
  return call.state.consoleHandlers.Remove(HandlerRoutine) ? TRUE
                                                           : Fail(ERROR_INVALID_PARAMETER);
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus) {
  Call call("SetServiceStatus");
  if (call.Fails()) return FALSE;
  if (hServiceStatus != StatusHandle() || call.state.handler == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (lpServiceStatus == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  call.state.statusReports.push_back(*lpServiceStatus);
  return TRUE;
}

SC_HANDLE OpenSCManagerA(LPCSTR /*lpMachineName*/, LPCSTR /*lpDatabaseName*/,
                         DWORD dwDesiredAccess) {
  Call call("OpenSCManagerA");
  if (call.Fails()) return nullptr;
  return static_cast<SC_HANDLE>(call.OpenHandle("manager", std::string(), dwDesiredAccess));
}

SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
  Call call("OpenServiceA");
  if (call.Fails() || call.FindHandle(hSCManager, {"manager"}) == nullptr) return nullptr;
  auto service = call.state.services.find(Text(lpServiceName));
  if (service == call.state.services.end() || service->second.deleted) {
    return FailNull(ERROR_SERVICE_DOES_NOT_EXIST);
  }
  return static_cast<SC_HANDLE>(call.OpenHandle("service", service->first, dwDesiredAccess));
}

SC_HANDLE CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
                         DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                         DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
                         LPDWORD /*lpdwTagId*/, LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                         LPCSTR lpPassword) {
  Call call("CreateServiceA");
  if (call.Fails() || call.FindHandle(hSCManager, {"manager"}) == nullptr) return nullptr;
  const std::string name = Text(lpServiceName);
  auto existing = call.state.services.find(name);
  if (existing != call.state.services.end() && !existing->second.deleted) {
    return FailNull(ERROR_SERVICE_EXISTS);
  }
  FakeWindows::Service service;
  service.displayName = Text(lpDisplayName);
  service.desiredAccess = dwDesiredAccess;
  service.serviceType = dwServiceType;
  service.startType = dwStartType;
  service.errorControl = dwErrorControl;
  service.binaryPathName = Text(lpBinaryPathName);
  service.loadOrderGroup = Text(lpLoadOrderGroup);
  service.dependencies = Names(lpDependencies);
  service.serviceStartName = Text(lpServiceStartName);
  service.password = Text(lpPassword);
  call.state.services[name] = service;
  return static_cast<SC_HANDLE>(call.OpenHandle("service", name, dwDesiredAccess));
}

BOOL ChangeServiceConfig2A(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo) {
  Call call("ChangeServiceConfig2A");
  if (call.Fails()) return FALSE;
  FakeWindows::Service* service = call.FindService(hService);
  if (service == nullptr) return FALSE;
  if (lpInfo == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  switch (dwInfoLevel) {
    case SERVICE_CONFIG_DESCRIPTION:
      service->description = Text(static_cast<SERVICE_DESCRIPTIONA*>(lpInfo)->lpDescription);
      return TRUE;
    case SERVICE_CONFIG_FAILURE_ACTIONS:
      return SetFailureActions(*service, *static_cast<SERVICE_FAILURE_ACTIONSA*>(lpInfo));
    case SERVICE_CONFIG_FAILURE_ACTIONS_FLAG:
      service->failureActionsOnNonCrashFailures =
          static_cast<SERVICE_FAILURE_ACTIONS_FLAG*>(lpInfo)->fFailureActionsOnNonCrashFailures;
      return TRUE;
    default:
      return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL DeleteService(SC_HANDLE hService) {
  Call call("DeleteService");
  if (call.Fails()) return FALSE;
  FakeWindows::Service* service = call.FindService(hService);
  if (service == nullptr) return FALSE;
  service->deleted = true;
  return TRUE;
}

BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
  Call call("ControlService");
  if (call.Fails()) return FALSE;
  FakeWindows::Service* service = call.FindService(hService);
  if (service == nullptr) return FALSE;
  if (lpServiceStatus == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  service->controls.push_back(dwControl);
  const DWORD state = dwControl == SERVICE_CONTROL_STOP ? SERVICE_STOP_PENDING : SERVICE_RUNNING;
  *lpServiceStatus = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, state, 0, 0, 0, 0, 0};
  return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
  Call call("CloseServiceHandle");
  if (call.Fails()) return FALSE;
  return call.CloseHandleOf(hSCObject, {"manager", "service"});
}

HANDLE GetCurrentProcess() { return CurrentProcess(); }

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  Call call("OpenProcessToken");
  if (call.Fails()) return FALSE;
  if (ProcessHandle != CurrentProcess()) return Fail(ERROR_INVALID_HANDLE);
  *TokenHandle = call.OpenHandle("token", std::string(), DesiredAccess);
  return TRUE;
}

BOOL LookupPrivilegeValueA(LPCSTR /*lpSystemName*/, LPCSTR lpName, PLUID lpLuid) {
  Call call("LookupPrivilegeValueA");
  if (call.Fails()) return FALSE;
  if (_stricmp(Text(lpName).c_str(), SE_SHUTDOWN_NAME) != 0) return Fail(ERROR_NO_SUCH_PRIVILEGE);
  *lpLuid = kShutdownLuid;
  return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD /*BufferLength*/,
                           PTOKEN_PRIVILEGES /*PreviousState*/, PDWORD /*ReturnLength*/) {
  Call call("AdjustTokenPrivileges");
  if (call.Fails() || call.FindHandle(TokenHandle, {"token"}) == nullptr) return FALSE;
  bool allAssigned = true;
  if (!DisableAllPrivileges && NewState != nullptr) {
    const LUID_AND_ATTRIBUTES* privileges = NewState->Privileges;
    for (DWORD i = 0; i < NewState->PrivilegeCount; ++i) {
      if ((privileges[i].Attributes & SE_PRIVILEGE_ENABLED) == 0) continue;
      const bool shutdown = privileges[i].Luid.LowPart == kShutdownLuid.LowPart &&
                            privileges[i].Luid.HighPart == kShutdownLuid.HighPart;
      call.state.enabledPrivileges.push_back(shutdown ? SE_SHUTDOWN_NAME : "(unknown)");
      allAssigned = allAssigned && shutdown && call.state.shutdownPrivilegeHeld;
    }
  }
  SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
  Call call("CloseHandle");
  if (call.Fails()) return FALSE;
  if (hObject == CurrentProcess()) return TRUE;
  return call.CloseHandleOf(hObject, {"token"});
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/,
                        DWORD /*dwOptions*/, REGSAM samDesired, void* /*lpSecurityAttributes*/,
                        PHKEY phkResult, LPDWORD /*lpdwDisposition*/) {
  Call call("RegCreateKeyExA");
  if (call.ScriptedError() != ERROR_SUCCESS) return call.ScriptedError();
  if (hKey != HKEY_LOCAL_MACHINE || lpSubKey == nullptr || phkResult == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  call.state.registryKeys[lpSubKey];
  *phkResult = static_cast<HKEY>(call.OpenHandle("key", lpSubKey, samDesired));
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                       const BYTE* lpData, DWORD cbData) {
  Call call("RegSetValueExA");
  if (call.ScriptedError() != ERROR_SUCCESS) return call.ScriptedError();
  const FakeWindows::Handle* key = call.FindHandle(hKey, {"key"});
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  std::string value;
  if (dwType == REG_DWORD && cbData == sizeof(DWORD)) {
    DWORD number = 0;
    std::memcpy(&number, lpData, sizeof number);
    value = std::to_string(number);
  } else {
    // A string value's size counts its terminator.
    value.assign(reinterpret_cast<const char*>(lpData), cbData > 0 ? cbData - 1 : 0);
  }
  call.state.registryKeys[key->name][Text(lpValueName)] = value;
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey) {
  Call call("RegCloseKey");
  if (call.ScriptedError() != ERROR_SUCCESS) return call.ScriptedError();
  return call.CloseHandleOf(hKey, {"key"}) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  Call call("RegDeleteKeyA");
  if (call.ScriptedError() != ERROR_SUCCESS) return call.ScriptedError();
  if (hKey != HKEY_LOCAL_MACHINE || lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  return call.state.registryKeys.erase(lpSubKey) == 1 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}
