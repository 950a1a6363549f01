// The one start of a capture (StartCapture), as the run calls it (logging
// its source) and as the survey does (quiet, the source's name handed back).
#include "outcome/exit_codes.h"
#include "source/capture_start.h"
#include "source/source_texts.h"
#include "support/capture_writer.h"
#include "support/log_watch.h"
#include "support/temp_directory.h"
#include "support/wait_until.h"

#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <boost/filesystem.hpp>
#include <sys/stat.h>
#endif

#include <cerrno>
#include <cstring>

namespace tillwire {
namespace {

enum class Answer { kSession, kStopped, kUnsupportedLinkType, kStartFailure };

Answer AnswerOf(const CaptureStart& start) {
  switch (start.index()) {
    case 0:
      return Answer::kSession;
    case 1:
      return Answer::kStopped;
    case 2:
      return Answer::kUnsupportedLinkType;
    default:
      return Answer::kStartFailure;
  }
}

TEST(CaptureStart, AnswersTheSessionOrWhyThereIsNone) {
  TempDirectory directory;
  const std::string ethernet = directory.Path() + "ethernet.pcap";
  { CaptureWriter writer(ethernet); }
  const std::string wifi = directory.Path() + "wifi.pcap";
  { CaptureWriter writer(wifi, DLT_IEEE802_11); }
  const std::string missing = directory.Path() + "missing.pcap";
  struct Case {
    const char* name;
    std::string file;
    Answer answer;
    bool opened;  // the file opened: the run logs "Playing from ..."
  };
  const Case cases[] = {
      {"an Ethernet capture", ethernet, Answer::kSession, true},
      {"a capture of a link type not decoded", wifi, Answer::kUnsupportedLinkType, true},
      {"a file that cannot be opened", missing, Answer::kStartFailure, false},
  };
  for (const Case& c : cases) {
    for (const bool quiet : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (quiet ? ", quiet" : ", logged"));
      const std::string source = "file://" + c.file;
      LogWatch watch;
      boost::asio::io_context eventQueue;
      std::string shown;
      const CaptureStart start =
          StartCapture(c.file, std::string("10.0.0.1"), eventQueue, quiet ? &shown : nullptr);
      ASSERT_EQ(AnswerOf(start), c.answer);
      if (const auto* session = std::get_if<CaptureSession>(&start)) {
        EXPECT_FALSE(session->Live()) << "a capture file";
        EXPECT_EQ(session->Link(), LinkLayer::kEthernet);
      }
      if (const auto* unsupported = std::get_if<UnsupportedLinkType>(&start)) {
        EXPECT_EQ(unsupported->line,
                  "Unsupported link type 105 (IEEE802_11): Tillwire reads Ethernet, Linux cooked "
                  "(v1 and v2), raw IPv4 and BSD loopback captures. Exiting.");
      }
      if (const auto* failure = std::get_if<StartFailure>(&start)) {
        EXPECT_EQ(failure->exitCode, kExitCaptureNotOpened);
        ASSERT_EQ(failure->lines.size(), 2u);
        EXPECT_EQ(failure->lines[0], "Unable to open the file: " + source);
        EXPECT_EQ(failure->shown == FailureShown::kConsole, quiet);
      }
      EXPECT_EQ(shown, quiet && c.opened ? source : "");
      const std::vector<std::string> logged{"Playing from " + source};
      EXPECT_EQ(watch.Texts(), !quiet && c.opened ? logged : std::vector<std::string>());
    }
  }
}

#ifndef _WIN32
// Whether this process holds the file open.
bool HoldsOpen(const std::string& path) {
  boost::system::error_code error;
  for (boost::filesystem::directory_iterator fd("/proc/self/fd", error), end; !error && fd != end;
       fd.increment(error)) {
    if (boost::filesystem::read_symlink(fd->path(), error).string() == path) return true;
  }
  return false;
}

// A pipe whose writer has not written the capture's header: a stop request
// ends the start, which opened nothing and logged nothing; the survey is
// handed the file's name all the same.
TEST(CaptureStart, AStopBeforeAPipesHeaderOpensNothing) {
  TempDirectory directory;
  const std::string pipe = directory.Path() + "mirror.pcap";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "quiet" : "logged");
    LogWatch watch;
    boost::asio::io_context eventQueue;
    std::string shown;
    bool stopped = false;
    boost::thread starting([&] {
      const CaptureStart start =
          StartCapture(pipe, std::nullopt, eventQueue, quiet ? &shown : nullptr);
      stopped = std::holds_alternative<StoppedBeforeCapture>(start);
    });
    // Opened, its header awaited.
    EXPECT_TRUE(WaitUntil([&] { return HoldsOpen(pipe); }));
    starting.interrupt();
    starting.join();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(shown, quiet ? "file://" + pipe : "");
    EXPECT_EQ(watch.Texts(), std::vector<std::string>());
  }
}
#endif

}  // namespace
}  // namespace tillwire
