// What belongs to the calling thread alone: its last error, and sleeping.
#include "platform/windows_api.h"

#include <cerrno>
#include <ctime>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

}  // namespace

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

void Sleep(DWORD dwMilliseconds) {
  timespec remaining{static_cast<time_t>(dwMilliseconds / 1000),
                     static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}
