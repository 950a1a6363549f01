// Failing as the Windows API does: the reason goes to the calling thread's
// last error, and the result is FALSE or a null handle.
#ifndef TILLWIRE_PLATFORM_FAILURE_H
#define TILLWIRE_PLATFORM_FAILURE_H

#include "platform/windows_api.h"

#include <cstddef>

inline BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

inline std::nullptr_t FailNull(DWORD error) {
  SetLastError(error);
  return nullptr;
}

#endif
