#include "survey/shown_text.h"

#include "capture/first_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tillwire;

namespace {

using E = TextEncoding;

// A line shows readably in its encoding, or with dots without one; it is cut
// to its columns, a wide character counting two, never in a character's
// middle.
TEST(ShownText, ShowsTheLineInItsEncodingCutToItsColumns) {
  struct Case {
    std::string bytes;
    std::optional<E> encoding;
    std::size_t columns;
    std::string shown;
  };
  const Case cases[] = {
      {"\x88\x92\x8E\x83\x8E 45.00", E::kCp866, 40, "\xD0\x98\xD0\xA2\xD0\x9E\xD0\x93\xD0\x9E 45.00"},
      {"\x88\x92\x8E\x83\x8E 45.00", std::nullopt, 40, "..... 45.00"},
      {"\xBB\xB6\xD3\xAD\xB9\xE2", E::kGbk, 5, "\xE6\xAC\xA2\xE8\xBF\x8E"},
      {"\xBB\xB6\xD3\xAD\xB9", E::kGbk, 40, "\xE6\xAC\xA2\xE8\xBF\x8E"},  // cut short
      {"Total   ", std::nullopt, 40, "Total"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShownText(c.bytes, c.encoding, c.columns), c.shown) << c.bytes;
  }
}

// The line is masked as a whole, across the frames it came in, then cut: a
// card number across the cut shows no digit past its first 6.
TEST(ShownText, MasksTheLinesSecretsThenCuts) {
  const std::string x26(26, 'x');
  const std::string x30(30, 'x');
  struct Case {
    std::vector<std::string> chunks;
    std::string line;
  };
  const Case cases[] = {
      {{"PAY 4111 11", "11 1111 1111\r\nnext"}, "PAY 4111 11** **** 1111"},
      // Its first 40 characters, masked.
      {{"GET /login?user=alice&pa", "ss=hunter2 HTTP/1.1\r\n"},
       "GET /login?user=alice&pass=*** HTTP/"},
      {{"AUTH Sup3rS3cretSup3rS3cretSup3rS3cretSup3rS3cret\r\n"}, "AUTH ***"},
      {{"  Authorization: Basic ", "dXNlcjpwYXNz"}, "Authorization: ***"},
      // Cut first, these would show 8, 7 and 15 digits: no card number.
      {{x30 + " 5555-5555-5555-4444 end\n"}, x30 + " 5555-55**"},
      {{x26 + " 6-3-0-4-0-0-0-0-", "0-0-0-0-0-0-0-0-0-0-0\n"}, x26 + " 6-3-0-4-0-0-*"},
      {{"Paid with card number 4111 1111 1111 1111 thank you\n"},
       "Paid with card number 4111 11** **** 111"},
      // The value shrinks; what came after the cut stays out.
      {{"token=abcdefghijklmnopqrstuvwxyz0123456789 LATER\n"}, "token=***"},
      {{std::string(50, 'x') + " pass=hunter2\n"}, std::string(40, 'x')},
  };
  for (const Case& c : cases) {
    FirstLine line;
    for (const std::string& chunk : c.chunks) {
      line.Take(reinterpret_cast<const unsigned char*>(chunk.data()), chunk.size());
    }
    EXPECT_EQ(ShownText(line.Bytes(), std::nullopt, FirstLine::kShownColumns), c.line)
        << testing::PrintToString(c.chunks);
  }
}

}  // namespace
