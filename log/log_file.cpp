#include "log/log_file.h"

#include "platform/log_directory.h"
#include "platform/unfollowed_file.h"

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
  static LogFile instance(LogDirectory());
  return instance;
}

// A buffer of one character is libstdc++'s unbuffered file buffer.
LogFile::OpenFile::OpenFile(std::FILE* stream)
    : stream(stream), buffer(stream, std::ios::out | std::ios::app, 1) {}

LogFile::LogFile(const std::string& directory)
    : logPath(directory + kLogName), rotatedPath(directory + kRotatedName) {}

LogFile::~LogFile() {
  boost::mutex::scoped_lock guard(lock);
  Close();
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
  if (IsOpen() && file.fail()) {
    Close();
    writeFailed = true;
  }
  if (!IsOpen()) OpenForAppend();
  RotateIfDue();
  if (IsOpen()) {
    file.write(line.data(), static_cast<std::streamsize>(line.size()));
    file.flush();
    writtenSinceOpen = true;
  }
  // A line that the file did not take (it cannot be opened, or the disk is
  // full) is not lost: it goes whole to standard output. Part of it may lie
  // in the file; the next line that reaches the file ends that part first.
  if (!IsOpen() || file.fail()) {
    linesNotWritten.fetch_add(1, std::memory_order_relaxed);
    WriteToStandardOutput(line);
  }
}

void LogFile::OpenForAppend() {
  const UnfollowedFile opened = OpenUnfollowed(logPath);
  ReportRefusedLink(opened.refusedLink);
  writtenSinceOpen = false;
  if (opened.stream == nullptr) return;
  openFile.emplace(opened.stream);
  file.rdbuf(&openFile->buffer);  // and clears the state of the last file
  if (writeFailed) EndTornLine();
  writeFailed = false;
}

void LogFile::Close() {
  file.rdbuf(nullptr);
  openFile.reset();
}

// Said on standard output, where the lines go while the link is there: once
// when the link is found, and again only after the path was something else
// in between.
void LogFile::ReportRefusedLink(const char* link) {
  if (link != nullptr && !linkRefused) {
    WriteToStandardOutput(LinePrefix() + "Log file not opened: " + link + " not followed: \"" +
                          logPath + "\"\n");
  }
  linkRefused = link != nullptr;
}

// A write that failed (a full disk) may have left the start of a line in the
// file; the next line must not be glued to it. Should the line end not fit
// either, the stream fails again and the next line tries again.
void LogFile::EndTornLine() {
  if (!EndsWithLineEnd(openFile->stream.get())) file << '\n' << std::flush;
}

// The size test reads the stream's own write position, which counts the bytes
// as they lie in the file (CR LF on Windows). It waits for a line written
// through the stream since it was opened (C libraries differ on where an
// append stream stands before its first write), so a file found over the
// threshold takes one more line before it is rotated, on every platform.
void LogFile::RotateIfDue() {
  if (!IsOpen() || !writtenSinceOpen) return;
  const std::int64_t position = file.tellp();
  if (position > kRotationThreshold) Rotate();
}

// Removing and renaming act on the names themselves: a link at either path is
// removed or replaced, never followed, and its target is left as it is.
void LogFile::Rotate() {
  Close();
  try {
    boost::filesystem::remove(rotatedPath);
    boost::filesystem::rename(logPath, rotatedPath);
  } catch (const boost::filesystem::filesystem_error& error) {
    // Keep logging to the current file and try again at a later line; say so
    // once per run of failures, not at every line.
    OpenForAppend();
    if (!rotationFailing && IsOpen()) file << LinePrefix() << error.what() << std::endl;
    rotationFailing = true;
    return;
  }
  rotationFailing = false;
  OpenForAppend();
}

void LogLine(const char* text) { LogFile::Instance().StartLine() << text << std::endl; }

void LogLine(const std::string& text) { LogLine(text.c_str()); }

}  // namespace tillwire
