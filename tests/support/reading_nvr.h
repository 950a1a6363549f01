// An NVR on a thread of its own: connects to a terminal's port and reads, at
// full speed or paced, until the program closes the connection.
#ifndef TILLWIRE_TESTS_SUPPORT_READING_NVR_H
#define TILLWIRE_TESTS_SUPPORT_READING_NVR_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

namespace tillwire {

class ReadingNvr {
 public:
  // Reads at most chunk bytes at a time and pauses that long after each read;
  // a chunk of 0 connects and reads nothing until it is destroyed. With
  // smallBuffers, the connection is made so that the systems at both ends
  // hold only some tens of KiB ahead of the reads, as over a real network
  // (on loopback the sender would otherwise take in megabytes at once): a
  // small receive buffer, and on Linux a small segment size, which the
  // sender's buffer follows.
  ReadingNvr(unsigned short port, std::size_t chunk = 65536,
             std::chrono::microseconds pause = std::chrono::microseconds(0),
             bool smallBuffers = false);
  // Waits for the end of the connection.
  ~ReadingNvr();
  ReadingNvr(const ReadingNvr&) = delete;
  ReadingNvr& operator=(const ReadingNvr&) = delete;

  // Waits for the end of the connection and returns everything received.
  const std::string& Received();
  // From the next read on, reads whatever has arrived without pausing.
  void ReadAtFullSpeed() { fullSpeed = true; }

 private:
  std::string received;
  std::atomic<bool> released{false};
  std::atomic<bool> fullSpeed{false};
  std::thread reader;
};

}  // namespace tillwire

#endif
