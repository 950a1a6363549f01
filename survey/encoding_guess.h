// Which encoding a till's text is in, found from the bytes of 0x80 and above
// that it sends (PayloadText::Sample), so that the survey can count them as
// text, show them readably and tell the installer what to set at the NVR.
//
// In this order:
// - UTF-8, when the sample is valid UTF-8 (other encodings' text seldom is);
// - the code table that ESC t selected, when it is one of TextEncoding's and
//   the sample is valid in it;
// - otherwise each encoding in turn (FS &'s two-byte mode: only the two-byte
//   ones), the system converting the sample; the one whose text reads most
//   like words wins, the earlier on a tie, when at least 90% of its
//   characters of 0x80 and above stand in such words. A word reads like one
//   when its letters are of one script (Latin, Greek, Cyrillic, Han and kana,
//   Hangul), with no control or other symbol among them; currency signs and
//   the like go anywhere, a rule of one box-drawing character is no word.
//   Latin words with letters beyond ASCII read like words only when most of
//   the text's Latin letters are ASCII (Cyrillic text read as CP1252 is
//   nearly all accented letters). GBK's text (Chinese) is nearly all bytes
//   of 0xA1 and above, which tells it from Shift-JIS's.
#ifndef TILLWIRE_SURVEY_ENCODING_GUESS_H
#define TILLWIRE_SURVEY_ENCODING_GUESS_H

#include "capture/payload_text.h"
#include "platform/text_encoding.h"

#include <optional>
#include <string_view>

namespace tillwire {

// The encoding of a direction's text; nothing when it sent no byte of 0x80
// or above, when it is not mostly text even with them (binary), or when no
// encoding reads them as text.
std::optional<TextEncoding> GuessEncoding(const PayloadText& text);

// The same for a sample and what the printer commands chose.
std::optional<TextEncoding> GuessEncoding(std::string_view sample,
                                          std::optional<std::uint8_t> codePage, bool doubleByte);

// The share (0 to 1) of the characters of 0x80 and above of a UTF-8 text
// that stand in words that read like words, as above; 0 without any.
double WordLikeShare(std::string_view utf8);

}  // namespace tillwire

#endif
