// The process's privileges. The one known is SeShutdownPrivilege, which root
// or a process with CAP_SYS_BOOT holds; adjusting it changes nothing and only
// tells whether it is held.
#include "platform/windows_api.h"

#include "platform/failure.h"
#include "platform/handle_registry.h"

#include <cstdint>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct Token {
  DWORD access;
};

HandleRegistry<Token>& Tokens() {
  static HandleRegistry<Token> tokens;
  return tokens;
}

// Windows' pseudo-handle of the current process.
HANDLE CurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }

// Windows' LUID of SeShutdownPrivilege.
const LUID kShutdownLuid = {19, 0};

bool HasBootCapability() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  return (data[CAP_TO_INDEX(CAP_SYS_BOOT)].effective & CAP_TO_MASK(CAP_SYS_BOOT)) != 0;
}

bool Holds(const LUID& privilege) {
  const bool shutdown =
      privilege.LowPart == kShutdownLuid.LowPart && privilege.HighPart == kShutdownLuid.HighPart;
  return shutdown && (geteuid() == 0 || HasBootCapability());
}

}  // namespace

HANDLE GetCurrentProcess() { return CurrentProcess(); }

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  if (ProcessHandle != CurrentProcess()) return Fail(ERROR_INVALID_HANDLE);
  if (TokenHandle == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *TokenHandle = Tokens().Add(Token{DesiredAccess});
  return TRUE;
}

BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
  if ((lpSystemName != nullptr && *lpSystemName != '\0') || lpName == nullptr || lpLuid == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (_stricmp(lpName, SE_SHUTDOWN_NAME) != 0) return Fail(ERROR_NO_SUCH_PRIVILEGE);
  *lpLuid = kShutdownLuid;
  return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD /*BufferLength*/,
                           PTOKEN_PRIVILEGES PreviousState, PDWORD /*ReturnLength*/) {
  const Token* token = Tokens().Find(TokenHandle);
  if (token == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if ((token->access & TOKEN_ADJUST_PRIVILEGES) == 0) return Fail(ERROR_ACCESS_DENIED);
  if (PreviousState != nullptr || (!DisableAllPrivileges && NewState == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  bool allAssigned = true;
  if (!DisableAllPrivileges) {
    // The array runs past its declared length of one, as on Windows.
    const LUID_AND_ATTRIBUTES* privileges = NewState->Privileges;
    for (DWORD i = 0; i < NewState->PrivilegeCount; ++i) {
      if ((privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0 && !Holds(privileges[i].Luid)) {
        allAssigned = false;
      }
    }
  }
  SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
  if (hObject == CurrentProcess()) return TRUE;
  return Tokens().Remove(hObject) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}
