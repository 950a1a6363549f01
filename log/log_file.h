// The program log: Tillwire.log in LogDirectory() (the program directory but
// for a systemd service with a log directory of its own), shared by every
// thread, rotated to Tillwire.log.old once it has grown past 1 MiB.
//
// A line is written as
//     LogFile::Instance().StartLine() << "text " << number << std::endl;
// and lies in the file as "[ 2026-Dec-08 21:27:17 ] text 42" and the line end
// (CR LF on Windows, LF elsewhere). The text is gathered in the line itself;
// the finished line is written to the file in one write, under the log's lock,
// when std::endl flushes it (or, for a line that was not ended so, when the
// statement that wrote it is over). So lines of different threads never
// interleave, and no lock is held between two calls: a line ended by '\n' or
// abandoned by an exception cannot block another thread.
#ifndef TILLWIRE_LOG_LOG_FILE_H
#define TILLWIRE_LOG_LOG_FILE_H

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/thread/mutex.hpp>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ext/stdio_filebuf.h>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>

namespace tillwire {

class LogFile {
 public:
  // A file grows past this many bytes before it is rotated.
  static constexpr std::int64_t kRotationThreshold = 1048576;

  // One line of the log while it is being written: a stream that gathers the
  // text after its prefix. The first flush (std::endl) hands the line to the
  // log; a line never flushed is handed over when it is destroyed, unless an
  // exception is unwinding past it, in which case it is dropped.
  class Line : public std::ostream {
   public:
    Line(LogFile& log, std::string prefix);
    ~Line() override;
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

   private:
    class Buffer : public std::stringbuf {
     public:
      Buffer(LogFile& log, std::string prefix);
      // Writes the gathered text as one line, once; false when it was written before.
      bool Finish();

     protected:
      int sync() override;

     private:
      LogFile& log;
      const std::string prefix;
      bool finished = false;
    };

    Buffer buffer;
    const int exceptionsAtStart;
  };

  // The process's log in LogDirectory(), created on first use (safely when
  // several threads log first together) and destroyed at process exit.
  static LogFile& Instance();

  // A log in the given directory, which ends with a path separator. Touches no
  // file until the first line is written.
  explicit LogFile(const std::string& directory);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Begins a line: reads the local time for its prefix "[ " local time " ] "
  // and returns the line, to which the caller writes the rest. Takes no lock
  // and touches no file. Throws std::runtime_error only when the local time
  // cannot be read.
  Line StartLine();

  // Writes one finished line (prefix, text and line end) under the lock:
  // opens the file when it is closed (or reopens it after a failed write,
  // ending first a line that the failure left unfinished, so that every line
  // starts on a line of its own),
  // rotates it when its write position is past the threshold, and writes the
  // line to it; a line that the file cannot take (it cannot be opened, or the
  // write fails, as on a full disk) goes to standard output instead, until
  // the file works again. A link at the log's path (a symbolic link; on
  // Windows any reparse point) is never followed: the file counts as one that
  // cannot be opened, and the first line of each such episode on standard
  // output says so. Never fails over the file: a failed rotation is reported
  // in the log and tried again at a later line.
  void WriteLine(const std::string& prefix, const std::string& text);

  // The lines that the file did not take (they went to standard output),
  // since the log was made; any thread may ask.
  std::uint64_t LinesNotWritten() const { return linesNotWritten.load(std::memory_order_relaxed); }

  const std::string& LogPath() const { return logPath; }
  const std::string& RotatedPath() const { return rotatedPath; }

 private:
  // The file while it is open: the C stream that owns it, and the buffer
  // that the log writes through, which keeps nothing back (each line is
  // written at once, and what a failed write refused is never written later,
  // after it went to standard output).
  struct OpenFile {
    struct Closer {
      void operator()(std::FILE* stream) const { std::fclose(stream); }
    };
    explicit OpenFile(std::FILE* stream);
    std::unique_ptr<std::FILE, Closer> stream;
    __gnu_cxx::stdio_filebuf<char> buffer;
  };

  bool IsOpen() const { return openFile.has_value(); }
  void OpenForAppend();
  void Close();
  void ReportRefusedLink(const char* link);
  void EndTornLine();
  void RotateIfDue();
  void Rotate();

  std::optional<OpenFile> openFile;
  std::ostream file{nullptr};  // writes to openFile's buffer while it is open
  const std::string logPath;
  const std::string rotatedPath;
  boost::mutex lock;
  bool writtenSinceOpen = false;
  bool rotationFailing = false;
  bool writeFailed = false;  // until the file is open again after a failed write
  bool linkRefused = false;  // until the path is something other than a link
  std::atomic<std::uint64_t> linesNotWritten{0};
};

// Writes text as one whole line of the process's log. A plain function, for
// code that is handed a function to log with.
void LogLine(const char* text);
void LogLine(const std::string& text);

// The timestamp of a log line: "2026-Dec-08 21:27:17".
std::string FormatTimestamp(const boost::posix_time::ptime& time);

}  // namespace tillwire

#endif
