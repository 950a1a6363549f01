// The program log: Tillwire.log in the program directory, shared by every
// thread, rotated to Tillwire.log.old once it has grown past 1 MiB.
//
// A line is written as
//     LogFile::Instance().StartLine() << "text " << number << std::endl;
// and lies in the file as "[ 2026-Dec-08 21:27:17 ] text 42" and the line end
// (CR LF on Windows, LF elsewhere). StartLine takes the log's lock and the
// std::endl that ends the line releases it, so lines of different threads
// never interleave. A line that was started must be ended with std::endl.
#ifndef TILLWIRE_LOG_LOG_FILE_H
#define TILLWIRE_LOG_LOG_FILE_H

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/thread/mutex.hpp>

#include <cstdint>
#include <fstream>
#include <ostream>
#include <streambuf>
#include <string>

class LogFile {
 public:
  // A file grows past this many bytes before it is rotated.
  static constexpr std::int64_t kRotationThreshold = 1048576;

  // The process's log in ProgramDirectory(), created on first use (safely when
  // several threads log first together) and destroyed at process exit.
  static LogFile& Instance();

  // A log in the given directory, which ends with a path separator. Touches no
  // file until the first line is started.
  explicit LogFile(const std::string& directory);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Begins a line: opens the file when it is closed (or reopens it after a
  // failed write), rotates it when its write position is past the threshold,
  // and writes the prefix "[ " local time " ] ". Returns the stream for the
  // rest of the line, which goes to the file, or to standard output when the
  // file cannot be opened. Never fails over the file: a failed rotation is
  // reported in the log and tried again at a later line. Throws
  // std::runtime_error only when the local time cannot be read; then nothing
  // was written and the lock is free.
  std::ostream& StartLine();

  const std::string& LogPath() const { return logPath; }
  const std::string& RotatedPath() const { return rotatedPath; }

 private:
  // Passes the text of the open line to its target stream; the flush of
  // std::endl flushes the target and ends the line, releasing the lock.
  class LineBuffer : public std::streambuf {
   public:
    explicit LineBuffer(LogFile& owner) : owner(owner) {}
    void Begin(std::ostream& target) { this->target = &target; }

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

   private:
    LogFile& owner;
    std::ostream* target = nullptr;
  };

  void OpenForAppend();
  void RotateIfDue();
  void Rotate();
  void EndLine();

  std::ofstream file;
  const std::string logPath;
  const std::string rotatedPath;
  boost::mutex lock;
  bool lineOpen = false;
  bool writtenSinceOpen = false;
  bool rotationFailing = false;
  LineBuffer lineBuffer;
  std::ostream lineStream;
};

// Writes text as one whole line of the process's log and returns the stream
// it went to. A plain function, for code that is handed a function to log with.
std::ostream& LogLine(const char* text);

// The timestamp of a log line: "2026-Dec-08 21:27:17".
std::string FormatTimestamp(const boost::posix_time::ptime& time);

#endif
