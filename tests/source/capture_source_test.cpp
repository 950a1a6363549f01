#include "outcome/exit_codes.h"
#include "source/capture_source.h"
#include "support/log_watch.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

using namespace tillwire;

namespace {

TEST(FormatIpv4, PrintsDottedDecimalInTwelveSlots) {
  const unsigned char first[4] = {192, 168, 10, 2};
  const unsigned char other[4] = {0, 0, 0, 255};
  const char* kept = FormatIpv4(first);
  EXPECT_STREQ(kept, "192.168.10.2");
  for (int i = 0; i < 11; ++i) EXPECT_STREQ(FormatIpv4(other), "0.0.0.255");
  EXPECT_STREQ(kept, "192.168.10.2") << "valid for eleven more calls";
  FormatIpv4(other);
  EXPECT_STREQ(kept, "0.0.0.255") << "the twelfth call reuses its slot";
}

// A capture file that cannot be opened is a value for the caller to report:
// the source line and the library's text, and -1; nothing is logged here.
TEST(CaptureSource, UnopenableFileIsReturnedNotLogged) {
  TempDirectory directory;
  const std::string missing = directory.Path() + "missing.pcap";
  LogWatch watch;
  const OrStartFailure<CaptureHandle> result = OpenCaptureSource(missing, std::nullopt);
  const StartFailure* failure = std::get_if<StartFailure>(&result);
  ASSERT_NE(failure, nullptr);
  EXPECT_EQ(failure->exitCode, kExitCaptureNotOpened);
  ASSERT_EQ(failure->lines.size(), 2u);
  EXPECT_EQ(failure->lines[0], "Unable to open the file: file://" + missing);
  EXPECT_FALSE(failure->lines[1].empty()) << "the library's own text";
  EXPECT_TRUE(watch.Texts().empty());
}

}  // namespace
