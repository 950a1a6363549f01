// The log where a POSIX system lets a test bring about what the log must
// survive: a full disk (a resource limit, a small file system mounted as
// root) and links planted beside the log.
#include "log/log_file.h"
#include "support/log_watch.h"
#include "support/temp_directory.h"

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tillwire;

namespace {

// A full disk without root: while it lives, the process may write no file
// past the given size (RLIMIT_FSIZE; with SIGXFSZ ignored such a write fails
// with EFBIG, as one on a full disk fails with ENOSPC).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : oldHandler(std::signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit limit{bytes, old.rlim_max};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) throw std::runtime_error("setrlimit");
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  const sighandler_t oldHandler;
  rlimit old{};
};

// Lines that a full disk refuses go to standard output, every one of them;
// once the file takes lines again the next line reopens it, and the console
// gets no more.
TEST(LogFile, LinesAFullDiskRefusesGoToStandardOutputUntilItRecovers) {
  TempDirectory directory;
  LogFile log(directory.Path());
  const std::string earlier = std::string(4095, 'x') + "\n";
  WriteFile(log.LogPath(), earlier);
  testing::internal::CaptureStdout();
  {
    FileSizeLimit full(earlier.size());
    for (const char* text : {"banner", "Listening on lo 127.0.0.1", "Rejected connection"}) {
      log.StartLine() << text << std::endl;
    }
  }
  log.StartLine() << "space again" << std::endl;
  const std::string console = testing::internal::GetCapturedStdout();

  EXPECT_EQ(LogTexts(console), (std::vector<std::string>{"banner", "Listening on lo 127.0.0.1",
                                                         "Rejected connection"}));
  EXPECT_EQ(LogTexts(ReadFile(log.LogPath()).substr(earlier.size())),
            std::vector<std::string>{"space again"});
}

// A small file system that fills up mid-line, and gets space back: the torn
// line is ended before the next, which starts on a line of its own.
TEST(LogFile, ALineAfterAFullDiskStartsOnItsOwnLine) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  TempDirectory directory;
  const std::string mount = directory.Path() + "tw11b-small";
  boost::filesystem::create_directory(mount);
  ASSERT_EQ(std::system(("mount -t tmpfs -o size=16k tw11b " + mount).c_str()), 0);
  struct Unmount {
    std::string path;
    ~Unmount() { EXPECT_EQ(std::system(("umount " + path).c_str()), 0); }
  } unmount{mount};

  LogFile log(mount + "/");
  log.StartLine() << "before the disk filled" << std::endl;
  {
    std::ofstream filler(mount + "/filler", std::ios::binary);
    const std::string block(1024, 'f');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
  }
  const std::string longLine(8192, 'x');
  testing::internal::CaptureStdout();
  log.StartLine() << longLine << std::endl;
  log.StartLine() << "refused as well" << std::endl;
  const std::string torn = ReadFile(log.LogPath());
  ASSERT_GT(torn.size(), FileLineLength("before the disk filled")) << "nothing of it was written";
  ASSERT_NE(torn.back(), '\n') << "the line was not torn";

  boost::filesystem::remove(mount + "/filler");
  log.StartLine() << "space again" << std::endl;
  EXPECT_EQ(LogTexts(testing::internal::GetCapturedStdout()),
            (std::vector<std::string>{longLine, "refused as well"}))
      << "the refused lines, whole, on the console";
  const std::vector<std::string> texts = LogTexts(ReadFile(log.LogPath()));
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts.front(), "before the disk filled");
  EXPECT_EQ(longLine.rfind(texts[1], 0), 0u) << "the torn line: " << texts[1].substr(0, 40);
  EXPECT_EQ(texts.back(), "space again");
}

// Where a link planted beside the log points: a file elsewhere (such as one
// only root may read), which following the link would append to, or nothing,
// which following it would create.
struct LinkTarget {
  const char* name;
  const char* content;  // null: the link dangles
};
const LinkTarget kLinkTargets[] = {{"a file elsewhere", "root's own\n"}, {"dangling", nullptr}};

// Plants a link at path to a file in a directory of its own below directory,
// and returns the target's path.
std::string PlantLink(const TempDirectory& directory, const std::string& path,
                      const LinkTarget& target) {
  const std::string elsewhere = directory.Path() + "elsewhere/";
  boost::filesystem::create_directory(elsewhere);
  const std::string targetPath = elsewhere + "target";
  if (target.content != nullptr) {
    WriteFile(targetPath, target.content);
    boost::filesystem::permissions(targetPath, boost::filesystem::owner_read |
                                                   boost::filesystem::owner_write);
  }
  boost::filesystem::create_symlink(targetPath, path);
  return targetPath;
}

// Asserts that the target is as it was planted: the same bytes, or still absent.
void ExpectUntouched(const std::string& targetPath, const LinkTarget& target) {
  if (target.content == nullptr) {
    EXPECT_FALSE(boost::filesystem::exists(targetPath)) << "the link's target was created";
  } else {
    EXPECT_EQ(ReadFile(targetPath), target.content);
  }
}

// A link at Tillwire.log is a log that cannot be written: the lines go to
// standard output after one line that says why, the target is neither written
// nor created, and the file takes the lines again once the link is gone.
TEST(LogFile, ALinkAtTheLogIsNotFollowed) {
  for (const LinkTarget& target : kLinkTargets) {
    SCOPED_TRACE(target.name);
    TempDirectory directory;
    LogFile log(directory.Path());
    const std::string targetPath = PlantLink(directory, log.LogPath(), target);
    testing::internal::CaptureStdout();
    log.StartLine() << "banner" << std::endl;
    log.StartLine() << "Listening on lo 127.0.0.1" << std::endl;
    boost::filesystem::remove(log.LogPath());
    log.StartLine() << "to the file again" << std::endl;
    const std::string console = testing::internal::GetCapturedStdout();

    EXPECT_EQ(LogTexts(console),
              (std::vector<std::string>{
                  "Log file not opened: symbolic link not followed: \"" + log.LogPath() + "\"",
                  "banner", "Listening on lo 127.0.0.1"}));
    ExpectUntouched(targetPath, target);
    EXPECT_EQ(LogTexts(ReadFile(log.LogPath())), std::vector<std::string>{"to the file again"});
  }
}

// Rotation removes or replaces a link at Tillwire.log.old, never its target.
TEST(LogFile, RotationLeavesTheTargetOfALinkAtTheOldFileAlone) {
  for (const LinkTarget& target : kLinkTargets) {
    SCOPED_TRACE(target.name);
    TempDirectory directory;
    LogFile log(directory.Path());
    const std::string earlier(LogFile::kRotationThreshold + 1, 'x');
    WriteFile(log.LogPath(), earlier);
    const std::string targetPath = PlantLink(directory, log.RotatedPath(), target);
    log.StartLine() << "appended" << std::endl;
    log.StartLine() << "after the rotation" << std::endl;

    ExpectUntouched(targetPath, target);
    EXPECT_FALSE(boost::filesystem::is_symlink(log.RotatedPath()));
    EXPECT_EQ(ReadFile(log.RotatedPath()).substr(0, earlier.size()), earlier);
    EXPECT_EQ(LogTexts(ReadFile(log.LogPath())), std::vector<std::string>{"after the rotation"});
  }
}

}  // namespace
