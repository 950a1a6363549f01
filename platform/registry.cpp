// The registry as the event log's keys need it off Windows: syslog has no
// message files, so keys open and take values without keeping anything.
#include "platform/windows_api.h"

#include "platform/handle_registry.h"

namespace {

// Nothing is kept for a key; the handle only shows that it was opened.
struct Key {};

HandleRegistry<Key>& Keys() {
  static HandleRegistry<Key> keys;
  return keys;
}

}  // namespace

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR lpClass,
                        DWORD /*dwOptions*/, REGSAM /*samDesired*/, void* lpSecurityAttributes,
                        PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (hKey != HKEY_LOCAL_MACHINE || lpSubKey == nullptr || phkResult == nullptr ||
      lpClass != nullptr || lpSecurityAttributes != nullptr || lpdwDisposition != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  *phkResult = reinterpret_cast<HKEY>(Keys().Add(Key{}));
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR /*lpValueName*/, DWORD /*Reserved*/, DWORD /*dwType*/,
                       const BYTE* /*lpData*/, DWORD /*cbData*/) {
  return Keys().Find(hKey) != nullptr ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegCloseKey(HKEY hKey) {
  return Keys().Remove(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (hKey != HKEY_LOCAL_MACHINE || lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  return ERROR_FILE_NOT_FOUND;
}
