// An NVR on a thread of its own: connects to a terminal's port and reads, at
// full speed or paced, until the program closes the connection.
#ifndef TILLWIRE_TESTS_SUPPORT_READING_NVR_H
#define TILLWIRE_TESTS_SUPPORT_READING_NVR_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

class ReadingNvr {
 public:
  // Reads at most chunk bytes at a time and pauses that long after each read;
  // a chunk of 0 connects and reads nothing until it is destroyed.
  ReadingNvr(unsigned short port, std::size_t chunk = 65536,
             std::chrono::microseconds pause = std::chrono::microseconds(0));
  // Waits for the end of the connection.
  ~ReadingNvr();
  ReadingNvr(const ReadingNvr&) = delete;
  ReadingNvr& operator=(const ReadingNvr&) = delete;

  // Waits for the end of the connection and returns everything received.
  const std::string& Received();

 private:
  std::string received;
  std::atomic<bool> released{false};
  std::thread reader;
};

#endif
