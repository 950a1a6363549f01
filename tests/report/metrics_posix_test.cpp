// The metrics file's replacement as a collector sees it (POSIX): a reader
// that opened the old file keeps reading the old text whole, so the new
// text never lands in the file that is being read.
#include "report/metrics_textfile.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

using namespace tillwire;

namespace {

TEST(MetricsTextfile, AReaderOfTheOldFileIsNeverCutShort) {
  TempDirectory directory;
  MetricsTextfile file(directory.Path());
  const std::string old(100000, 'o');
  ASSERT_TRUE(file.Write(old));
  const int reader = open(file.Path().c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  struct stat before {};
  ASSERT_EQ(fstat(reader, &before), 0);

  // The service's sandbox may run it with a strict umask.
  const mode_t umaskBefore = umask(077);
  const bool written = file.Write("new 1\n");
  umask(umaskBefore);
  ASSERT_TRUE(written);
  std::string read(old.size() + 1, '\0');
  const ssize_t count = pread(reader, &read[0], read.size(), 0);
  close(reader);
  EXPECT_EQ(count, static_cast<ssize_t>(old.size()));
  EXPECT_EQ(read.substr(0, old.size()), old);
  struct stat after {};
  ASSERT_EQ(stat(file.Path().c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino) << "a new file took the name";
  EXPECT_EQ(after.st_mode & 0777, 0644u) << "readable by the collector's user";
  EXPECT_EQ(ReadFile(file.Path()), "new 1\n");
}

}  // namespace
