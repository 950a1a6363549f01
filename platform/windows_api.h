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

// How an administrator starts and stops the installed service.
inline constexpr char kServiceStartCommand[] = "net start tillwire";
inline constexpr char kServiceStopCommand[] = "net stop tillwire";
// What a console start without options prints: how to install and start the
// service with the platform's own tools. A printf format with two "%s", both
// the service's name.
inline constexpr char kConsoleHelpFormat[] =
    "This application is designed to be run as a Windows service.\n"
    "It cannot be run from the command line.\n"
    "\n"
    "To install as a service, run using the command line option  /install\n"
    "then start it from the Windows Services panel.\n"
    "The service name to look for is '%s'.\n"
    "You may also start the installed service from a command prompt with the command\n"
    "    sc start %s\n";

#else

#include <climits>
#include <cstddef>
#include <cstdint>

// How an administrator starts and stops the installed service.
inline constexpr char kServiceStartCommand[] = "systemctl start Tillwire";
inline constexpr char kServiceStopCommand[] = "systemctl stop Tillwire";
// What a console start without options prints: how to install and start the
// service with the platform's own tools. A printf format with two "%s", both
// the service's name.
inline constexpr char kConsoleHelpFormat[] =
    "This application is designed to be run as a systemd service.\n"
    "It cannot be run from the command line.\n"
    "\n"
    "To install as a service, run as root using the command line option  -install\n"
    "then start it with\n"
    "    systemctl start %s\n"
    "Its service events are shown by\n"
    "    journalctl -t %s\n";

// Buffer sizes of the runtime library's path splitting. Windows cuts paths
// at 260 characters; a POSIX path may be as long as PATH_MAX, and cutting it
// would name another directory.
#define _MAX_PATH PATH_MAX
#define _MAX_DRIVE 3
#define _MAX_DIR PATH_MAX
#define _MAX_FNAME PATH_MAX
#define _MAX_EXT PATH_MAX

// Stores in *value the full path of the running executable (from
// /proc/self/exe). Returns 0 on success, an errno value otherwise.
int _get_pgmptr(char** value);

// Splits a path into drive, directory (with its trailing separator), file
// name and extension; any output may be null. POSIX paths have no drive, so
// drive is always empty. Outputs are cut to the _MAX_* sizes above.
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);

// Compares two strings as strcasecmp does: negative, zero or positive.
int _stricmp(const char* left, const char* right);

// ---------------------------------------------------------------------------
// Types, with the Windows sizes: DWORD is 32 bits here too (print it through
// std::to_string or a stream, not a printf length that differs per platform).

typedef int BOOL;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef void* PSID;

// Opaque handles, distinct types as on Windows so that one cannot be passed
// for another.
struct HINSTANCE__;
typedef HINSTANCE__* HMODULE;
struct SC_HANDLE__;
typedef SC_HANDLE__* SC_HANDLE;
struct SERVICE_STATUS_HANDLE__;
typedef SERVICE_STATUS_HANDLE__* SERVICE_STATUS_HANDLE;
struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef LONG LSTATUS;
typedef unsigned char BYTE;

// Windows' calling convention; the one convention of the platform here.
#define WINAPI

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef struct _SERVICE_STATUS {
  DWORD dwServiceType;
  DWORD dwCurrentState;
  DWORD dwControlsAccepted;
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
} SERVICE_STATUS, *LPSERVICE_STATUS;

typedef void(WINAPI* LPSERVICE_MAIN_FUNCTIONA)(DWORD dwNumServicesArgs, LPSTR* lpServiceArgVectors);
typedef void(WINAPI* LPHANDLER_FUNCTION)(DWORD dwControl);

typedef struct _SERVICE_TABLE_ENTRYA {
  LPSTR lpServiceName;
  LPSERVICE_MAIN_FUNCTIONA lpServiceProc;
} SERVICE_TABLE_ENTRYA, *LPSERVICE_TABLE_ENTRYA;

typedef struct _SERVICE_DESCRIPTIONA {
  LPSTR lpDescription;
} SERVICE_DESCRIPTIONA, *LPSERVICE_DESCRIPTIONA;

typedef enum _SC_ACTION_TYPE { SC_ACTION_NONE = 0, SC_ACTION_RESTART = 1 } SC_ACTION_TYPE;

typedef struct _SC_ACTION {
  SC_ACTION_TYPE Type;
  DWORD Delay;  // milliseconds
} SC_ACTION, *LPSC_ACTION;

typedef struct _SERVICE_FAILURE_ACTIONSA {
  DWORD dwResetPeriod;
  LPSTR lpRebootMsg;
  LPSTR lpCommand;
  DWORD cActions;
  SC_ACTION* lpsaActions;
} SERVICE_FAILURE_ACTIONSA, *LPSERVICE_FAILURE_ACTIONSA;

typedef struct _SERVICE_FAILURE_ACTIONS_FLAG {
  BOOL fFailureActionsOnNonCrashFailures;
} SERVICE_FAILURE_ACTIONS_FLAG, *LPSERVICE_FAILURE_ACTIONS_FLAG;

typedef struct _LUID {
  DWORD LowPart;
  LONG HighPart;
} LUID, *PLUID;

typedef struct _LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
} LUID_AND_ATTRIBUTES;

typedef struct _TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;

// ---------------------------------------------------------------------------
// Constants, with their Windows values.

#define MAX_PATH 260

#define SERVICE_WIN32_OWN_PROCESS 0x00000010
#define SERVICE_STOPPED 0x00000001
#define SERVICE_START_PENDING 0x00000002
#define SERVICE_STOP_PENDING 0x00000003
#define SERVICE_RUNNING 0x00000004
#define SERVICE_ACCEPT_STOP 0x00000001
#define SERVICE_ACCEPT_SHUTDOWN 0x00000004
#define SERVICE_CONTROL_STOP 0x00000001
#define SERVICE_CONTROL_INTERROGATE 0x00000004
#define SERVICE_CONTROL_SHUTDOWN 0x00000005
#define SERVICE_AUTO_START 0x00000002
#define SERVICE_ERROR_NORMAL 0x00000001
#define SERVICE_CONFIG_DESCRIPTION 1
#define SERVICE_CONFIG_FAILURE_ACTIONS 2
#define SERVICE_CONFIG_FAILURE_ACTIONS_FLAG 4

#define SERVICE_ALL_ACCESS 0xF01FF
#define SC_MANAGER_ALL_ACCESS 0xF003F
#define GENERIC_READ 0x80000000
#define GENERIC_WRITE 0x40000000

#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_INFORMATION_TYPE 0x0004

#define TOKEN_QUERY 0x0008
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define SE_PRIVILEGE_ENABLED 0x00000002
#define SE_SHUTDOWN_NAME "SeShutdownPrivilege"

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_INVALID_DATA 13
#define ERROR_GEN_FAILURE 31
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_INVALID_SERVICE_CONTROL 1052
#define ERROR_SERVICE_ALREADY_RUNNING 1056
#define ERROR_SERVICE_DOES_NOT_EXIST 1060
#define ERROR_SERVICE_NOT_ACTIVE 1062
#define ERROR_FAILED_SERVICE_CONTROLLER_CONNECT 1063
#define ERROR_SERVICE_SPECIFIC_ERROR 1066
#define ERROR_SERVICE_EXISTS 1073
#define ERROR_NOT_ALL_ASSIGNED 1300
#define ERROR_NO_SUCH_PRIVILEGE 1313

// ---------------------------------------------------------------------------
// The calling thread. Every function below that fails returns FALSE (or a
// null handle, or 0) and leaves the reason in the calling thread's last error.

// The calling thread's last error: a 32-bit value of its own, 0 in a new
// thread.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// Suspends the calling thread for at least dwMilliseconds (nanosleep, resumed
// after signals).
void Sleep(DWORD dwMilliseconds);

// Copies the executable's path (from /proc/self/exe) to lpFilename and
// returns its length. hModule must be null (the executable), else
// ERROR_INVALID_HANDLE. A buffer of nSize too small gets the first nSize - 1
// characters and a terminator; the result is then nSize, with
// ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// ---------------------------------------------------------------------------
// Event log: syslog (facility daemon). lpUNCServerName must be null or empty.

// Opens syslog under lpSourceName (openlog). The handle names the source for
// ReportEventA until DeregisterEventSource.
HANDLE RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName);

// Logs the event's strings, joined by blanks, under the handle's source:
// EVENTLOG_ERROR_TYPE at LOG_ERR, every other type at LOG_INFO. Category,
// event id, user and raw data are not logged. TRUE once handed to syslog
// (which cannot report delivery); ERROR_INVALID_HANDLE for a handle that is
// not a registered source.
BOOL ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                  WORD wNumStrings, DWORD dwDataSize, LPCSTR* lpStrings, LPVOID lpRawData);

// Frees the handle (closelog when it is the source syslog uses).
BOOL DeregisterEventSource(HANDLE hEventLog);

// ---------------------------------------------------------------------------
// The service's side: the process runs as a systemd unit of Type=notify.

// Runs the service when systemd started the process as a notify service
// (NOTIFY_SOCKET set); fails with ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
// otherwise, as on Windows from a console. Blocks SIGTERM in the calling
// thread (so call it before the process starts other threads, which would
// otherwise receive SIGTERM and die of it), runs the first entry's main
// function on a new thread with its name as the only argument, and turns each
// SIGTERM (systemd's stop, also at shutdown) into SERVICE_CONTROL_STOP for
// the registered handler, called on the calling thread; a stop that arrives
// before the service reports SERVICE_ACCEPT_STOP waits until it does.
// Returns TRUE once SERVICE_STOPPED has been reported (by the main function,
// the handler or any thread) and the main function has returned; restores the
// signal mask. ERROR_SERVICE_ALREADY_RUNNING while another call runs.
BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* lpServiceStartTable);

// Keeps lpHandlerProc for the dispatcher's controls and returns the handle
// for SetServiceStatus. The service name is not checked.
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR lpServiceName,
                                                  LPHANDLER_FUNCTION lpHandlerProc);

// Tells systemd the service's state with sd_notify: start pending
// "STATUS=Starting" and, for a wait hint, "EXTEND_TIMEOUT_USEC=" (the hint in
// microseconds); running "READY=1"; stop pending "STOPPING=1"; stopped a
// "STATUS=" text naming a non-zero exit code. ERROR_INVALID_DATA for any other
// state (pausing is not supported); ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
// when the message cannot be sent (the state still counts for the
// dispatcher).
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus);

// ---------------------------------------------------------------------------
// The installer's side: a service is the unit file <name>.service in
// /etc/systemd/system, and systemctl is told of changes (daemon-reload,
// enable, disable) only while systemd runs the machine. A handle allows
// changes when it was opened with more than read access; that needs root
// (else ERROR_ACCESS_DENIED). Handles of the wrong kind, or closed ones, fail
// with ERROR_INVALID_HANDLE; a systemctl or file operation that fails, with
// ERROR_GEN_FAILURE (systemctl's own message is on standard error).

// Opens the local service manager; a machine name is ERROR_INVALID_PARAMETER
// and the database name is ignored.
SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess);

// Opens an installed service: ERROR_SERVICE_DOES_NOT_EXIST without its unit
// file. Service names are unit names: ASCII letters, digits, ':', '-', '_'
// and '.', else ERROR_INVALID_NAME (here and in CreateServiceA).
SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess);

// Writes the unit file ([Unit] Description= the display name, and Wants= and
// After=network-online.target; [Service] Type=notify and ExecStart= the
// executable, [Install]
// WantedBy=multi-user.target), reloads systemd and, for SERVICE_AUTO_START,
// enables the unit. lpBinaryPathName is the executable's path, bare or in
// double quotes (as the installer writes a path with blanks); it is written
// with systemd's quoting, so a path with blanks stays one word. systemd runs
// no executable whose path holds a quote, a backslash or a control
// character: such a path is ERROR_INVALID_NAME. Only
// SERVICE_WIN32_OWN_PROCESS is supported; group, tag, dependencies, account
// and password are ignored (the unit runs as root, like LocalSystem).
// ERROR_SERVICE_EXISTS when the unit file exists; when a systemctl call
// fails, the unit file is removed again.
SC_HANDLE CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
                         DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                         DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
                         LPDWORD lpdwTagId, LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                         LPCSTR lpPassword);

// Rewrites the unit file and reloads systemd. SERVICE_CONFIG_DESCRIPTION:
// Description= becomes the text (a null text changes nothing). Failure
// actions: a first action SC_ACTION_RESTART gives Restart=on-failure and
// RestartSec= its delay; no actions or SC_ACTION_NONE remove both; null
// actions change nothing. Later actions and the reset period have no systemd
// counterpart and are ignored. SERVICE_CONFIG_FAILURE_ACTIONS_FLAG changes
// nothing: Restart=on-failure also restarts a service whose process exits
// with a code other than 0. Other levels: ERROR_INVALID_PARAMETER.
BOOL ChangeServiceConfig2A(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo);

// Disables the unit, removes its unit file and reloads systemd. A running
// service keeps running until it stops, as on Windows.
BOOL DeleteService(SC_HANDLE hService);

// SERVICE_CONTROL_STOP only: "systemctl stop --no-block" and
// *lpServiceStatus reads SERVICE_STOP_PENDING. ERROR_SERVICE_NOT_ACTIVE when
// the unit is not active (always, while systemd does not run);
// ERROR_INVALID_SERVICE_CONTROL for other controls.
BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus);

// Frees a manager or service handle.
BOOL CloseServiceHandle(SC_HANDLE hSCObject);

// ---------------------------------------------------------------------------
// The console of a program run from a terminal: SIGINT (Ctrl-C) and SIGTERM
// (kill, the end of a session) stand for the console's control events.

#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1

typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD dwCtrlType);

// Adds (Add TRUE) or removes (FALSE) a handler of the console's control
// events. From the first addition on, SIGINT is delivered as CTRL_C_EVENT and
// SIGTERM as CTRL_BREAK_EVENT, on a thread of this layer's own, to the
// handlers, the one added last first, until one returns TRUE; when none does
// (or none is left), the signal ends the process as it would have without a
// handler, as Windows' default handler does. A null handler (Windows: ignore
// Ctrl-C) is not supported: ERROR_INVALID_PARAMETER, as is the removal of a
// handler that was not added. Not for a service run: there the dispatcher
// reads SIGTERM as the stop control.
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add);

// ---------------------------------------------------------------------------
// Privileges. The only one known is SE_SHUTDOWN_NAME, held by root or by a
// process with CAP_SYS_BOOT.

// A pseudo-handle of the current process that needs no closing.
HANDLE GetCurrentProcess();

// Opens the current process's token (ProcessHandle must be
// GetCurrentProcess()); close it with CloseHandle.
BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle);

// The LUID of SE_SHUTDOWN_NAME (Windows' value); ERROR_NO_SUCH_PRIVILEGE for
// other names. lpSystemName must be null or empty.
BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid);

// As on Windows, succeeds also when a privilege to enable is not held: the
// last error is then ERROR_NOT_ALL_ASSIGNED, else ERROR_SUCCESS. Nothing
// changes in the process. The token needs TOKEN_ADJUST_PRIVILEGES (else
// ERROR_ACCESS_DENIED); PreviousState is not supported and must be null.
BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                           PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength);

// Closes a token handle; the process pseudo-handle closes as a no-op.
BOOL CloseHandle(HANDLE hObject);

// ---------------------------------------------------------------------------
// Registry: only the event log's keys, where Windows finds an event source's
// message file. syslog needs none, so this registry holds nothing: keys open
// and take values without keeping them. Unlike the functions above, these
// return their error code instead of setting the last error.

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002)))
#define REG_OPTION_NON_VOLATILE 0x00000000
#define KEY_SET_VALUE 0x0002
#define REG_EXPAND_SZ 2
#define REG_DWORD 4

// Opens a key under hKey (only HKEY_LOCAL_MACHINE) as created; close it with
// RegCloseKey. lpClass, lpSecurityAttributes and lpdwDisposition must be null.
LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, void* lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition);

// Accepts a value for an open key (and forgets it).
LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                       const BYTE* lpData, DWORD cbData);

LSTATUS RegCloseKey(HKEY hKey);

// ERROR_FILE_NOT_FOUND: no key is ever kept.
LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);

#endif

#endif
