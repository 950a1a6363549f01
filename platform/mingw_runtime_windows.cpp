// What the mingw-w64 import library of msvcrt.dll leaves out of the runtime
// library that Tillwire calls on Windows.
#include <errno.h>
#include <stdlib.h>

// The program's full path, as the runtime library keeps it in _pgmptr.
errno_t __cdecl _get_pgmptr(char** value) {
  if (value == nullptr || _pgmptr == nullptr) return EINVAL;
  *value = _pgmptr;
  return 0;
}
