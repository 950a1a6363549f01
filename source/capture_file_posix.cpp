#include "source/capture_file.h"

#include "source/event_queue_wait.h"

#include <boost/thread/thread.hpp>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tillwire {

namespace {

int DescriptorOf(void* cookie) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(cookie));
}

// The pipe's read for the stream that the capture library reads: waits for
// the writer's bytes (or the end of the pipe) in steps of kStopCheck, and
// fails with EINTR once a stop is requested.
ssize_t ReadWaiting(void* cookie, char* buffer, std::size_t size) {
  const int descriptor = DescriptorOf(cookie);
  for (;;) {
    if (boost::this_thread::interruption_requested()) {
      errno = EINTR;
      return -1;
    }
    pollfd ready{descriptor, POLLIN, 0};
    const int count = poll(&ready, 1, static_cast<int>(kStopCheck.count()));
    if (count < 0 && errno != EINTR) return -1;
    if (count <= 0) continue;
    const ssize_t got = read(descriptor, buffer, size);
    if (got >= 0 || (errno != EAGAIN && errno != EINTR)) return got;
  }
}

int CloseDescriptor(void* cookie) { return close(DescriptorOf(cookie)); }

// A failed open of the pipe, with the system's reason as the capture
// library gives it for a file ("PATH: No such file or directory").
CaptureHandle OpenFailed(const std::string& path, int error, char* errorText) {
  std::snprintf(errorText, PCAP_ERRBUF_SIZE, "%s: %s", path.c_str(), std::strerror(error));
  return nullptr;
}

// Opened without waiting (a FIFO's open would wait for a writer), read
// through ReadWaiting.
CaptureHandle OpenPipe(const std::string& path, char* errorText) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return OpenFailed(path, errno, errorText);
  const cookie_io_functions_t functions{&ReadWaiting, nullptr, nullptr, &CloseDescriptor};
  FILE* stream =
      fopencookie(reinterpret_cast<void*>(static_cast<std::intptr_t>(descriptor)), "r", functions);
  if (stream == nullptr) {
    const int error = errno;
    close(descriptor);
    return OpenFailed(path, error, errorText);
  }
  // The handle owns the stream from here on and closes it; a failed open
  // leaves it to the caller.
  CaptureHandle handle(pcap_fopen_offline(stream, errorText));
  if (handle == nullptr) std::fclose(stream);
  return handle;
}

bool IsPipe(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

}  // namespace

CaptureHandle OpenCaptureFile(const std::string& path, char* errorText) {
  if (IsPipe(path)) return OpenPipe(path, errorText);
  return CaptureHandle(pcap_open_offline(path.c_str(), errorText));
}

}  // namespace tillwire
