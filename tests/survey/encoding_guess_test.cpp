#include "survey/encoding_guess.h"

#include <gtest/gtest.h>

#include <string>

using namespace tillwire;

namespace {

using E = TextEncoding;

// A shop's words in each encoding, as a till sends them, with no printer
// command to name the encoding: each is found by how its text reads.
TEST(EncodingGuess, FindsEachShopEncodingByHowItsTextReads) {
  struct Case {
    const char* language;
    std::string sample;
    E expected;
  };
  const Case cases[] = {
      {"UTF-8", "Caf\xC3\xA9 Cr\xC3\xA8me 3,50 \xE2\x82\xAC", E::kUtf8},
      {"German in CP1252", "Caf\xE9 Cr\xE8me 3,50 \x80 Gr\xFC\xDF" "e aus K\xF6ln", E::kCp1252},
      // CP437 reads "Gr\x81\xE1" "e" alike; its box-drawing "\xC6" is no letter.
      {"Portuguese in CP850", "P\xC6o de A\x87\xA3" "car, S\xC6o Jo\xC6o, Gr\x81\xE1" "e",
       E::kCp850},
      {"Polish in CP1250", "P\xB3" "atno\x9C\xE6 kart\xB9, dzi\xEAkujemy! \xAF\xF3\xB3\xE6", E::kCp1250},
      {"Polish in CP852", "P\x88" "atno\x98\x86 kart\xA5, dzi\xA9kujemy! \xBD\xA2\x88\x86", E::kCp852},
      {"Russian in CP866",
       "\x88\x92\x8E\x83\x8E 45.00 \x95\xAB\xA5\xA1 \xE0\xA6\xA0\xAD\xAE\xA9 "
       "\x91\x8F\x80\x91\x88\x81\x8E \x87\x80 \x8F\x8E\x8A\x93\x8F\x8A\x93",
       E::kCp866},
      {"Russian in CP1251",
       "\xC8\xD2\xCE\xC3\xCE 45.00 \xD5\xEB\xE5\xE1 \xF0\xE6\xE0\xED\xEE\xE9 "
       "\xD1\xCF\xC0\xD1\xC8\xC1\xCE \xC7\xC0 \xCF\xCE\xCA\xD3\xCF\xCA\xD3",
       E::kCp1251},
      {"Chinese in GBK",
       "\xBB\xB6\xD3\xAD\xB9\xE2\xC1\xD9 \xC3\xE6\xB0\xFC 12.50 \xBA\xCF\xBC\xC6 12.50 "
       "\xD0\xBB\xD0\xBB\xBB\xDD\xB9\xCB",
       E::kGbk},
      {"Chinese in Big5",
       "\xC5w\xAA\xEF\xA5\xFA\xC1{ \xC4\xD1\xA5] 12.50 \xA6X\xADp 12.50 \xC1\xC2\xC1\xC2\xB4"
       "f\xC5U",
       E::kBig5},
      {"Japanese in Shift-JIS",
       "\x97\xCC\x8E\xFB\x8F\x91 \x8D\x87\x8Cv \x82P\x82Q\x82T\x82O\x89~ "
       "\x82\xA0\x82\xE8\x82\xAA\x82\xC6\x82\xA4\x82\xB2\x82\xB4\x82\xA2\x82\xDC\x82\xB5\x82\xBD",
       E::kShiftJis},
      {"Korean in EUC-KR",
       "\xBF\xB5\xBC\xF6\xC1\xF5 \xC7\xD5\xB0\xE8 12,500\xBF\xF8 "
       "\xB0\xA8\xBB\xE7\xC7\xD5\xB4\xCF\xB4\xD9",
       E::kEucKr},
  };
  for (const Case& c : cases) {
    const std::optional<E> found = GuessEncoding(c.sample, std::nullopt, false);
    EXPECT_EQ(found ? EncodingName(*found) : "nothing", std::string(EncodingName(c.expected)))
        << c.language;
  }
}

// A printer command that names the table decides while the text is valid in
// it; bytes that read as no script's words are not text.
TEST(EncodingGuess, APrinterCommandDecidesAndNoiseIsNoText) {
  const std::string cyrillic = "\x88\x92\x8E\x83\x8E 45.00";
  EXPECT_EQ(GuessEncoding(cyrillic, 17, false), E::kCp866);          // ESC t 17
  EXPECT_EQ(GuessEncoding("\xE4 Kase", 16, false), E::kCp1252);      // ESC t 16
  EXPECT_EQ(GuessEncoding("\xBB\xB6\xD3\xAD", std::nullopt, true), E::kGbk);  // FS &
  EXPECT_EQ(GuessEncoding("\x9C\xB1\x01\xE3\xF0\x8A\x05\xD1\x92 \xC7\xA9\x02", std::nullopt, false),
            std::nullopt);
  EXPECT_EQ(GuessEncoding("", std::nullopt, false), std::nullopt);
}

}  // namespace
