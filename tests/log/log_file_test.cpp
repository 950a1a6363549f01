#include "log/log_file.h"
#include "platform/program_directory.h"
#include "support/log_watch.h"
#include "support/temp_directory.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>

using namespace tillwire;

namespace {

using boost::gregorian::date;
using boost::posix_time::ptime;
using boost::posix_time::time_duration;

// "[ " + 20-character timestamp + " ] "
const std::size_t kPrefixLength = 25;

bool Exists(const std::string& path) { return boost::filesystem::exists(path); }

TEST(LogTimestamp, FormatsLocalTimeLikeTheLogReaderExpects) {
  struct Case {
    ptime time;
    const char* expected;
  };
  const Case cases[] = {
      {ptime(date(2026, 12, 8), time_duration(21, 27, 17)), "2026-Dec-08 21:27:17"},
      {ptime(date(2027, 3, 1), time_duration(9, 5, 3)), "2027-Mar-01 09:05:03"},
      {ptime(date(2026, 12, 31), time_duration(23, 59, 59)), "2026-Dec-31 23:59:59"},
      {ptime(date(2027, 1, 1), time_duration(0, 0, 0)), "2027-Jan-01 00:00:00"},
      {ptime(date(2028, 2, 29), time_duration(12, 0, 0, 999999)), "2028-Feb-29 12:00:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, FormatTimestamp(c.time));
}

TEST(LogFile, FirstLineCreatesTheFileAndLaterRunsAppend) {
  TempDirectory directory;
  {
    LogFile log(directory.Path());
    EXPECT_FALSE(Exists(log.LogPath())) << "creating the log touches no file";
    log.StartLine() << "first " << 42 << std::endl;
  }
  {
    LogFile log(directory.Path());
    log.StartLine() << "Received Stop request from Service Control Manager" << std::endl;
  }
  const std::string content = ReadFile(directory.Path() + "Tillwire.log");
  const std::string first = content.substr(0, content.find('\n') + 1);
  EXPECT_TRUE(HasLogPrefix(first)) << first;
  EXPECT_EQ(first.substr(kPrefixLength), std::string("first 42") + kFileLineEnd);
  EXPECT_EQ(content.size(), FileLineLength("first 42") +
                                FileLineLength("Received Stop request from Service Control Manager"));
  EXPECT_EQ(LogTexts(content),
            (std::vector<std::string>{"first 42",
                                      "Received Stop request from Service Control Manager"}));
}

// The size test is strict and runs at line starts, on the stream's position.
TEST(LogFile, RotatesOnlyPastTheThreshold) {
  struct Case {
    std::int64_t sizeAfterFirstLine;
    bool rotates;
  };
  for (const Case c : {Case{LogFile::kRotationThreshold, false},
                       Case{LogFile::kRotationThreshold + 1, true}}) {
    SCOPED_TRACE(c.sizeAfterFirstLine);
    TempDirectory directory;
    LogFile log(directory.Path());
    const std::string earlier(c.sizeAfterFirstLine - FileLineLength("one more"), 'x');
    WriteFile(log.LogPath(), earlier);
    WriteFile(log.RotatedPath(), "an earlier rotation");

    // Just opened: the position reads 0, so the file takes one more line.
    log.StartLine() << "one more" << std::endl;
    ASSERT_EQ(static_cast<std::int64_t>(boost::filesystem::file_size(log.LogPath())),
              c.sizeAfterFirstLine);
    log.StartLine() << "next" << std::endl;

    if (c.rotates) {
      EXPECT_EQ(ReadFile(log.RotatedPath()).substr(0, earlier.size()), earlier);
      EXPECT_EQ(static_cast<std::int64_t>(boost::filesystem::file_size(log.RotatedPath())),
                c.sizeAfterFirstLine);
      EXPECT_EQ(LogTexts(ReadFile(log.LogPath())), std::vector<std::string>{"next"});
    } else {
      EXPECT_EQ(ReadFile(log.RotatedPath()), "an earlier rotation");
      EXPECT_EQ(static_cast<std::int64_t>(boost::filesystem::file_size(log.LogPath())),
                c.sizeAfterFirstLine + static_cast<std::int64_t>(FileLineLength("next")));
    }
  }
}

TEST(LogFile, UnopenableFileGoesToStandardOutputWithPrefix) {
  TempDirectory directory;
  LogFile log(directory.Path() + "missing" + "/");
  testing::internal::CaptureStdout();
  log.StartLine() << "to the console" << std::endl;
  log.StartLine() << "again" << std::endl;
  const std::string output = testing::internal::GetCapturedStdout();
  EXPECT_EQ(LogTexts(output), (std::vector<std::string>{"to the console", "again"}));
}

// Someone keeps a directory where the rotated file should go: the log goes on
// in the current file, says once why, and rotates as soon as it can.
TEST(LogFile, FailedRotationKeepsLoggingAndRetries) {
  TempDirectory directory;
  LogFile log(directory.Path());
  WriteFile(log.LogPath(), std::string(LogFile::kRotationThreshold + 1, 'x'));
  boost::filesystem::create_directories(log.RotatedPath() + "/blocker");
  log.StartLine() << "appended" << std::endl;

  log.StartLine() << "still written" << std::endl;
  log.StartLine() << "and this" << std::endl;
  std::vector<std::string> texts = LogTexts(ReadFile(log.LogPath()).substr(
      static_cast<std::size_t>(LogFile::kRotationThreshold + 1)));
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0], "appended");
  EXPECT_EQ(texts[1].rfind("boost::filesystem::remove: ", 0), 0u) << texts[1];
  EXPECT_NE(texts[1].find(log.RotatedPath()), std::string::npos) << texts[1];
  EXPECT_EQ(texts[2], "still written");
  EXPECT_EQ(texts[3], "and this");

  boost::filesystem::remove_all(log.RotatedPath());
  log.StartLine() << "rotated at last" << std::endl;
  EXPECT_EQ(LogTexts(ReadFile(log.LogPath())), std::vector<std::string>{"rotated at last"});
  EXPECT_TRUE(boost::filesystem::is_regular_file(log.RotatedPath()));
}

TEST(LogFile, LinesOfManyThreadsNeverInterleave) {
  TempDirectory directory;
  LogFile log(directory.Path());
  const int threads = 4;
  const int linesEach = 2500;
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([&log, t] {
      for (int i = 0; i < linesEach; ++i) {
        log.StartLine() << "thread " << t << " line " << i << " " << std::string(t * 7, '#')
                        << std::endl;
      }
    });
  }
  for (std::thread& writer : writers) writer.join();

  std::set<std::string> seen;
  for (const std::string& text : LogTexts(ReadFile(log.LogPath()))) {
    ASSERT_EQ(text.rfind("thread ", 0), 0u) << text;
    seen.insert(text);
  }
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(threads * linesEach));
  for (int t = 0; t < threads; ++t) {
    EXPECT_EQ(seen.count("thread " + std::to_string(t) + " line 7 " + std::string(t * 7, '#')), 1u);
  }
}

// Writes a line from another thread; true when it was written in time, so a
// lock left held by an earlier line fails the test instead of hanging it.
bool AnotherThreadLogs(LogFile& log, const std::string& text) {
  auto written = std::make_shared<std::promise<void>>();
  std::thread([&log, text, written] {
    log.StartLine() << text << std::endl;
    written->set_value();
  }).detach();
  return written->get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}

struct Unprintable {};
std::ostream& operator<<(std::ostream& out, const Unprintable&) {
  throw std::runtime_error("cannot print");
  return out;
}

// No lock outlives the statement that writes a line, however that line ends.
TEST(LogFile, ALineEndedOtherwiseBlocksNoOtherThread) {
  TempDirectory directory;
  LogFile log(directory.Path());
  log.StartLine() << "ended by a newline\n";
  ASSERT_TRUE(AnotherThreadLogs(log, "after the newline"));
  EXPECT_THROW(log.StartLine() << "abandoned " << Unprintable() << std::endl,
               std::runtime_error);
  ASSERT_TRUE(AnotherThreadLogs(log, "after the exception"));
  log.StartLine() << "never ended";
  EXPECT_EQ(LogTexts(ReadFile(log.LogPath())),
            (std::vector<std::string>{"ended by a newline", "after the newline",
                                      "after the exception", "never ended"}));
}

TEST(ProgramLog, LivesBesideTheExecutable) {
  const std::string directory = ProgramDirectory();
  ASSERT_EQ(directory.back(), boost::filesystem::path::preferred_separator);
  EXPECT_TRUE(boost::filesystem::exists(directory + TILLWIRE_TEST_EXECUTABLE_NAME)) << directory;

  LogWatch watch;
  LogLine("written by LogLine");
  EXPECT_EQ(watch.Texts(), std::vector<std::string>{"written by LogLine"});
  EXPECT_EQ(&LogFile::Instance(), &LogFile::Instance());
}

}  // namespace
