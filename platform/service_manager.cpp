// The installer's side of systemd: a service is the unit file
// <name>.service, and systemctl hears of every change.
#include "platform/windows_api.h"

#include "platform/failure.h"
#include "platform/handle_registry.h"
#include "platform/service_manager_paths.h"
#include "platform/systemctl.h"
#include "platform/unit_file.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// An open handle: the service manager, or one service by name.
struct SC_HANDLE__ {
  bool isService;
  std::string name;  // the service's; empty for the manager
  bool mayChange;    // opened with more than read access
};

namespace {

// The rights that only read, of the manager (connect, enumerate, query lock
// status) and of a service (query configuration and status, enumerate
// dependents, interrogate), with READ_CONTROL and GENERIC_READ.
const DWORD kReadControl = 0x00020000;
const DWORD kManagerReadAccess = 0x0001 | 0x0004 | 0x0010 | kReadControl | GENERIC_READ;
const DWORD kServiceReadAccess = 0x0001 | 0x0004 | 0x0008 | 0x0080 | kReadControl | GENERIC_READ;

HandleRegistry<SC_HANDLE__>& Handles() {
  static HandleRegistry<SC_HANDLE__> handles;
  return handles;
}

SC_HANDLE Open(bool isService, const std::string& name, DWORD access, DWORD readAccess) {
  const bool mayChange = (access & ~readAccess) != 0;
  if (mayChange && geteuid() != 0) return FailNull(ERROR_ACCESS_DENIED);
  return Handles().Add(SC_HANDLE__{isService, name, mayChange});
}

const SC_HANDLE__* Manager(SC_HANDLE handle) {
  const SC_HANDLE__* manager = Handles().Find(handle);
  return manager != nullptr && !manager->isService ? manager : FailNull(ERROR_INVALID_HANDLE);
}

// The service behind a handle that may change it; null, with the last error
// set, for any other handle.
const SC_HANDLE__* ServiceToChange(SC_HANDLE handle) {
  const SC_HANDLE__* service = Handles().Find(handle);
  if (service == nullptr || !service->isService) return FailNull(ERROR_INVALID_HANDLE);
  return service->mayChange ? service : FailNull(ERROR_ACCESS_DENIED);
}

// A name that systemd takes for a unit name, and that stays inside the unit
// directory.
bool ValidName(LPCSTR name) {
  if (name == nullptr || *name == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c) {
    const bool letterOrDigit =
        (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
    if (!letterOrDigit && *c != ':' && *c != '-' && *c != '_' && *c != '.') return false;
  }
  return true;
}

std::string UnitName(const std::string& service) { return service + ".service"; }

std::string UnitPath(const std::string& service) {
  return CurrentServiceManagerPaths().unitDirectory + "/" + UnitName(service);
}

bool Exists(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
}

DWORD ErrorOf(int error) {
  return error == EACCES || error == EPERM ? ERROR_ACCESS_DENIED : ERROR_GEN_FAILURE;
}

bool ReadUnit(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// Replaces the unit file through a temporary one, so that systemd never reads
// half of it. ERROR_SUCCESS or the reason it failed.
DWORD WriteUnit(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "w");
  if (file == nullptr) return ErrorOf(errno);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) == 0 && written && std::rename(temporary.c_str(), path.c_str()) == 0) {
    return ERROR_SUCCESS;
  }
  const DWORD error = ErrorOf(errno);
  std::remove(temporary.c_str());
  return error;
}

// Runs the systemctl commands in turn while systemd runs the machine; false
// when one fails.
bool TellSystemd(const std::vector<std::vector<std::string>>& commands) {
  if (!SystemdIsRunning()) return true;
  for (const std::vector<std::string>& command : commands) {
    if (!Systemctl(command)) return false;
  }
  return true;
}

// The executable's path from a binary path name, bare or in double quotes.
std::string ExecutablePath(const std::string& binaryPathName) {
  const std::size_t length = binaryPathName.size();
  if (length >= 2 && binaryPathName.front() == '"' && binaryPathName.back() == '"') {
    return binaryPathName.substr(1, length - 2);
  }
  return binaryPathName;
}

std::string NewUnit(const std::string& description, const std::string& binaryPathName) {
  UnitFile unit("");
  unit.Set("Unit", "Description", UnitValue(description));
  // Live capture chooses its adapter by address: start once the network is up.
  unit.Set("Unit", "Wants", "network-online.target");
  unit.Set("Unit", "After", "network-online.target");
  unit.Set("Service", "Type", "notify");
  unit.Set("Service", "ExecStart", ExecWord(ExecutablePath(binaryPathName)));
  unit.Set("Install", "WantedBy", "multi-user.target");
  return unit.Text();
}

void SetDescription(UnitFile& unit, const SERVICE_DESCRIPTIONA& description) {
  if (description.lpDescription == nullptr) return;
  if (*description.lpDescription == '\0') {
    unit.Remove("Unit", "Description");
  } else {
    unit.Set("Unit", "Description", UnitValue(description.lpDescription));
  }
}

// A delay in milliseconds as a systemd time span.
std::string TimeSpan(DWORD milliseconds) {
  if (milliseconds % 1000 == 0) return std::to_string(milliseconds / 1000);
  return std::to_string(milliseconds) + "ms";
}

void SetFailureActions(UnitFile& unit, const SERVICE_FAILURE_ACTIONSA& actions) {
  if (actions.lpsaActions == nullptr) return;
  if (actions.cActions > 0 && actions.lpsaActions[0].Type == SC_ACTION_RESTART) {
    unit.Set("Service", "Restart", "on-failure");
    unit.Set("Service", "RestartSec", TimeSpan(actions.lpsaActions[0].Delay));
  } else {
    unit.Remove("Service", "Restart");
    unit.Remove("Service", "RestartSec");
  }
}

// Applies one configuration change to a unit's text; false for a level that
// is not supported.
bool Configure(UnitFile& unit, DWORD level, LPVOID info) {
  switch (level) {
    case SERVICE_CONFIG_DESCRIPTION:
      SetDescription(unit, *static_cast<const SERVICE_DESCRIPTIONA*>(info));
      return true;
    case SERVICE_CONFIG_FAILURE_ACTIONS:
      SetFailureActions(unit, *static_cast<const SERVICE_FAILURE_ACTIONSA*>(info));
      return true;
    case SERVICE_CONFIG_FAILURE_ACTIONS_FLAG:
      return true;
    default:
      return false;
  }
}

}  // namespace

SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR /*lpDatabaseName*/, DWORD dwDesiredAccess) {
  if (lpMachineName != nullptr && *lpMachineName != '\0') return FailNull(ERROR_INVALID_PARAMETER);
  return Open(false, std::string(), dwDesiredAccess, kManagerReadAccess);
}

SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
  if (Manager(hSCManager) == nullptr) return nullptr;
  if (!ValidName(lpServiceName)) return FailNull(ERROR_INVALID_NAME);
  if (!Exists(UnitPath(lpServiceName))) return FailNull(ERROR_SERVICE_DOES_NOT_EXIST);
  return Open(true, lpServiceName, dwDesiredAccess, kServiceReadAccess);
}

SC_HANDLE CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
                         DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                         DWORD /*dwErrorControl*/, LPCSTR lpBinaryPathName,
                         LPCSTR /*lpLoadOrderGroup*/, LPDWORD /*lpdwTagId*/,
                         LPCSTR /*lpDependencies*/, LPCSTR /*lpServiceStartName*/,
                         LPCSTR /*lpPassword*/) {
  const SC_HANDLE__* manager = Manager(hSCManager);
  if (manager == nullptr) return nullptr;
  if (!manager->mayChange) return FailNull(ERROR_ACCESS_DENIED);
  if (!ValidName(lpServiceName)) return FailNull(ERROR_INVALID_NAME);
  if (dwServiceType != SERVICE_WIN32_OWN_PROCESS || lpBinaryPathName == nullptr ||
      *lpBinaryPathName == '\0') {
    return FailNull(ERROR_INVALID_PARAMETER);
  }
  if (!RunnableBySystemd(ExecutablePath(lpBinaryPathName))) return FailNull(ERROR_INVALID_NAME);
  const std::string path = UnitPath(lpServiceName);
  if (Exists(path)) return FailNull(ERROR_SERVICE_EXISTS);

  const bool named = lpDisplayName != nullptr && *lpDisplayName != '\0';
  const DWORD written = WriteUnit(path, NewUnit(named ? lpDisplayName : lpServiceName, lpBinaryPathName));
  if (written != ERROR_SUCCESS) return FailNull(written);
  std::vector<std::vector<std::string>> commands = {{"daemon-reload"}};
  if (dwStartType == SERVICE_AUTO_START) commands.push_back({"enable", UnitName(lpServiceName)});
  if (!TellSystemd(commands)) {
    std::remove(path.c_str());
    return FailNull(ERROR_GEN_FAILURE);
  }
  return Open(true, lpServiceName, dwDesiredAccess, kServiceReadAccess);
}

BOOL ChangeServiceConfig2A(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo) {
  const SC_HANDLE__* service = ServiceToChange(hService);
  if (service == nullptr) return FALSE;
  if (lpInfo == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const std::string path = UnitPath(service->name);
  std::string text;
  if (!ReadUnit(path, &text)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  UnitFile unit(text);
  if (!Configure(unit, dwInfoLevel, lpInfo)) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD written = WriteUnit(path, unit.Text());
  if (written != ERROR_SUCCESS) return Fail(written);
  return TellSystemd({{"daemon-reload"}}) ? TRUE : Fail(ERROR_GEN_FAILURE);
}

BOOL DeleteService(SC_HANDLE hService) {
  const SC_HANDLE__* service = ServiceToChange(hService);
  if (service == nullptr) return FALSE;
  const std::string path = UnitPath(service->name);
  if (!Exists(path)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  if (!TellSystemd({{"disable", UnitName(service->name)}})) return Fail(ERROR_GEN_FAILURE);
  if (std::remove(path.c_str()) != 0) return Fail(ErrorOf(errno));
  return TellSystemd({{"daemon-reload"}}) ? TRUE : Fail(ERROR_GEN_FAILURE);
}

BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
  const SC_HANDLE__* service = ServiceToChange(hService);
  if (service == nullptr) return FALSE;
  if (dwControl != SERVICE_CONTROL_STOP) return Fail(ERROR_INVALID_SERVICE_CONTROL);
  if (lpServiceStatus == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const std::string unit = UnitName(service->name);
  if (!SystemdIsRunning() || !Systemctl({"is-active", "--quiet", unit})) {
    return Fail(ERROR_SERVICE_NOT_ACTIVE);
  }
  if (!Systemctl({"stop", "--no-block", unit})) return Fail(ERROR_GEN_FAILURE);
  *lpServiceStatus = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOP_PENDING, 0, 0, 0, 0, 0};
  return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
  return Handles().Remove(hSCObject) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}
