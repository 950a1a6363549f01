// The first line of a byte stream that shows a visible character: what the
// survey prints of a conversation's text.
//
// Lines end at CR or LF. Blanks and control bytes at the line's start are
// left out (a printer's status bytes between a till's frames start no line);
// within it, a tab is kept as a blank, a control byte as '.', and bytes of
// 0x80 and above as they came: which characters they are depends on an
// encoding that whoever shows the line finds later.
//
// Only bytes are copied, at most kReadLength of them: enough for the
// kShownColumns characters that are shown, in two bytes each, and after them
// the longest card number (secret_mask.h), so that one that begins within
// the shown part is masked as a whole.
#ifndef TILLWIRE_CAPTURE_FIRST_LINE_H
#define TILLWIRE_CAPTURE_FIRST_LINE_H

#include "capture/secret_mask.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tillwire {

class FirstLine {
 public:
  static constexpr std::size_t kShownColumns = 40;
  static constexpr std::size_t kReadLength = 2 * kShownColumns + kLongestCardText;

  // Reads the stream's next bytes; nothing once the line is complete.
  void Take(const unsigned char* data, std::size_t length);
  // The line, or the part of it read so far; empty until a visible
  // character came.
  std::string_view Bytes() const;

 private:
  char line[kReadLength] = {};
  std::uint8_t length = 0;
  bool complete = false;
};

}  // namespace tillwire

#endif
