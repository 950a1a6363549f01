// The one place that knows which platform Tillwire is built for.
//
// Tillwire's service host and a few helpers of the log are written against the
// Windows API by its own names. On Windows this header simply includes the
// system headers. Elsewhere it declares the small subset that Tillwire uses,
// with the Windows types and constant values, and platform/ implements it on
// POSIX (Linux with systemd and syslog), so that one body of code runs on both.
#ifndef TILLWIRE_PLATFORM_WINDOWS_API_H
#define TILLWIRE_PLATFORM_WINDOWS_API_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#else

#include <cstddef>

// Buffer sizes of the runtime library's path splitting, as on Windows.
#define _MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256

// Stores in *value the full path of the running executable (from
// /proc/self/exe). Returns 0 on success, an errno value otherwise.
int _get_pgmptr(char** value);

// Splits a path into drive, directory (with its trailing separator), file
// name and extension; any output may be null. POSIX paths have no drive, so
// drive is always empty. Outputs are cut to the _MAX_* sizes above.
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);

#endif

#endif
