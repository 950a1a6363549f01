#include "log/log_file.h"

#include "platform/program_directory.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/filesystem/operations.hpp>

#include <exception>
#include <iostream>

namespace tillwire {

namespace {

const char kLogName[] = "Tillwire.log";
const char kRotatedName[] = "Tillwire.log.old";

std::string LinePrefix() {
  return "[ " + FormatTimestamp(boost::posix_time::second_clock::local_time()) + " ] ";
}

void WriteToStandardOutput(const std::string& line) {
  std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
  std::cout.flush();
}

}  // namespace

std::string FormatTimestamp(const boost::posix_time::ptime& time) {
  const boost::posix_time::ptime wholeSeconds(
      time.date(), boost::posix_time::seconds(time.time_of_day().total_seconds()));
  return boost::posix_time::to_simple_string(wholeSeconds);
}

LogFile::Line::Buffer::Buffer(LogFile& log, std::string prefix)
    : log(log), prefix(std::move(prefix)) {}

bool LogFile::Line::Buffer::Finish() {
  if (finished) return false;
  finished = true;
  std::string text = str();
  // The line end is the log's own; a text ended by std::endl or '\n' brings one.
  if (!text.empty() && text.back() == '\n') text.pop_back();
  log.WriteLine(prefix, text);
  return true;
}

int LogFile::Line::Buffer::sync() {
  Finish();
  return 0;
}

LogFile::Line::Line(LogFile& log, std::string prefix)
    : std::ostream(nullptr),
      buffer(log, std::move(prefix)),
      exceptionsAtStart(std::uncaught_exceptions()) {
  rdbuf(&buffer);
}

LogFile::Line::~Line() {
  if (std::uncaught_exceptions() > exceptionsAtStart) return;
  try {
    buffer.Finish();
  } catch (...) {
    // A destructor must not throw; the line is lost.
  }
}

LogFile& LogFile::Instance() {
  static LogFile instance(ProgramDirectory());
  return instance;
}

// The stream keeps nothing back: each line is written at once, and what a
// failed write refused is not written later, when the stream is closed, after
// it already went to standard output.
LogFile::LogFile(const std::string& directory)
    : logPath(directory + kLogName), rotatedPath(directory + kRotatedName) {
  file.rdbuf()->pubsetbuf(nullptr, 0);
}

LogFile::~LogFile() {
  boost::mutex::scoped_lock guard(lock);
  if (file.is_open()) file.close();
}

LogFile::Line LogFile::StartLine() { return Line(*this, LinePrefix()); }

void LogFile::WriteLine(const std::string& prefix, const std::string& text) {
  // Built before the lock is taken: one write of the whole line under it.
  std::string line;
  line.reserve(prefix.size() + text.size() + 1);
  line.append(prefix).append(text).push_back('\n');
  boost::mutex::scoped_lock guard(lock);
  // A write failed (a full disk, say): start over on a fresh stream, so that
  // logging resumes once the cause is gone.
  if (file.is_open() && file.fail()) {
    file.close();
    writeFailed = true;
  }
  if (!file.is_open()) OpenForAppend();
  RotateIfDue();
  if (file.is_open()) {
    file.write(line.data(), static_cast<std::streamsize>(line.size()));
    file.flush();
    writtenSinceOpen = true;
  }
  // A line that the file did not take (it cannot be opened, or the disk is
  // full) is not lost: it goes whole to standard output. Part of it may lie
  // in the file; the next line that reaches the file ends that part first.
  if (!file.is_open() || file.fail()) WriteToStandardOutput(line);
}

void LogFile::OpenForAppend() {
  file.open(logPath, std::ios::out | std::ios::app);
  if (file.is_open()) {
    file.clear();
    if (writeFailed) EndTornLine();
    writeFailed = false;
  }
  writtenSinceOpen = false;
}

// A write that failed (a full disk) may have left the start of a line in the
// file; the next line must not be glued to it. Should the line end not fit
// either, the stream fails again and the next line tries again.
void LogFile::EndTornLine() {
  std::ifstream written(logPath, std::ios::in | std::ios::binary);
  char last = '\n';
  if (written.seekg(-1, std::ios::end) && written.get(last) && last != '\n') {
    file << '\n' << std::flush;
  }
}

// The size test reads the stream's own write position, which counts the bytes
// as they lie in the file (CR LF on Windows). It waits for a line written
// through the stream since it was opened (C libraries differ on where an
// append stream stands before its first write), so a file found over the
// threshold takes one more line before it is rotated, on every platform.
void LogFile::RotateIfDue() {
  if (!file.is_open() || !writtenSinceOpen) return;
  const std::int64_t position = file.tellp();
  if (position > kRotationThreshold) Rotate();
}

void LogFile::Rotate() {
  file.close();
  try {
    boost::filesystem::remove(rotatedPath);
    boost::filesystem::rename(logPath, rotatedPath);
  } catch (const boost::filesystem::filesystem_error& error) {
    // Keep logging to the current file and try again at a later line; say so
    // once per run of failures, not at every line.
    OpenForAppend();
    if (!rotationFailing && file.is_open()) file << LinePrefix() << error.what() << std::endl;
    rotationFailing = true;
    return;
  }
  rotationFailing = false;
  file.open(logPath, std::ios::out | std::ios::trunc);
  if (file.is_open()) file.clear();
  writtenSinceOpen = false;
}

void LogLine(const char* text) { LogFile::Instance().StartLine() << text << std::endl; }

}  // namespace tillwire
