// The executable's own path, as GetModuleFileNameA reports it.
#include "platform/windows_api.h"

#include "platform/failure.h"
#include "platform/module_file_name.h"

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (hModule != nullptr) return Fail(ERROR_INVALID_HANDLE);
  char* path = nullptr;
  if (_get_pgmptr(&path) != 0) return Fail(ERROR_GEN_FAILURE);
  return CopyModuleFileName(path, lpFilename, nSize);
}
