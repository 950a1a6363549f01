#include "log/log_file.h"

#include "log/program_directory.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/filesystem/operations.hpp>

#include <iostream>

namespace {

const char kLogName[] = "Tillwire.log";
const char kRotatedName[] = "Tillwire.log.old";

}  // namespace

std::string FormatTimestamp(const boost::posix_time::ptime& time) {
  const boost::posix_time::ptime wholeSeconds(
      time.date(), boost::posix_time::seconds(time.time_of_day().total_seconds()));
  return boost::posix_time::to_simple_string(wholeSeconds);
}

LogFile& LogFile::Instance() {
  static LogFile instance(ProgramDirectory());
  return instance;
}

LogFile::LogFile(const std::string& directory)
    : logPath(directory + kLogName),
      rotatedPath(directory + kRotatedName),
      lineBuffer(*this),
      lineStream(&lineBuffer) {}

LogFile::~LogFile() {
  boost::mutex::scoped_lock guard(lock);
  if (file.is_open()) file.close();
}

std::ostream& LogFile::StartLine() {
  lock.lock();
  try {
    // A write failed (a full disk, say): start over on a fresh stream, so that
    // logging resumes once the cause is gone.
    if (file.is_open() && file.fail()) file.close();
    if (!file.is_open()) OpenForAppend();
    RotateIfDue();
    const std::string prefix =
        "[ " + FormatTimestamp(boost::posix_time::second_clock::local_time()) + " ] ";
    std::ostream& target = file.is_open() ? static_cast<std::ostream&>(file) : std::cout;
    target << prefix;
    writtenSinceOpen = file.is_open();
    lineBuffer.Begin(target);
    lineStream.clear();
    lineOpen = true;
    return lineStream;
  } catch (...) {
    lock.unlock();
    throw;
  }
}

void LogFile::OpenForAppend() {
  file.open(logPath, std::ios::out | std::ios::app);
  if (file.is_open()) file.clear();
  writtenSinceOpen = false;
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
    if (!rotationFailing && file.is_open()) {
      file << "[ " << FormatTimestamp(boost::posix_time::second_clock::local_time()) << " ] "
           << error.what() << std::endl;
    }
    rotationFailing = true;
    return;
  }
  rotationFailing = false;
  file.open(logPath, std::ios::out | std::ios::trunc);
  if (file.is_open()) file.clear();
  writtenSinceOpen = false;
}

void LogFile::EndLine() {
  if (!lineOpen) return;
  lineOpen = false;
  lock.unlock();
}

LogFile::LineBuffer::int_type LogFile::LineBuffer::overflow(int_type c) {
  if (!traits_type::eq_int_type(c, traits_type::eof())) target->put(traits_type::to_char_type(c));
  return traits_type::not_eof(c);
}

// A failed write leaves its mark on the target stream, where StartLine looks
// for it; the caller's line stream stays good.
std::streamsize LogFile::LineBuffer::xsputn(const char* text, std::streamsize count) {
  target->write(text, count);
  return count;
}

int LogFile::LineBuffer::sync() {
  if (!owner.lineOpen) return 0;
  target->flush();
  owner.EndLine();
  return 0;
}

std::ostream& LogLine(const char* text) {
  return LogFile::Instance().StartLine() << text << std::endl;
}
