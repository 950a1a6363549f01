#include "survey/unicode_text.h"

namespace tillwire {

namespace {

// The length of a sequence that begins with this byte, 0 for a byte that
// begins none.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

}  // namespace

char32_t NextCharacter(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = SequenceLength(lead);
  if (length <= 1 || at + length > text.size()) {
    ++at;
    return lead;
  }
  char32_t character = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) {
      ++at;
      return lead;
    }
    character = (character << 6) | (next & 0x3F);
  }
  at += length;
  return character;
}

bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

std::size_t BytesWithin(std::string_view text, std::size_t columns) {
  std::size_t at = 0;
  std::size_t used = 0;
  while (at < text.size()) {
    std::size_t next = at;
    const std::size_t width = IsWide(NextCharacter(text, next)) ? 2 : 1;
    if (used + width > columns) break;
    used += width;
    at = next;
  }
  return at;
}

std::size_t ColumnsOf(std::string_view text) {
  std::size_t columns = 0;
  for (std::size_t at = 0; at < text.size();) columns += IsWide(NextCharacter(text, at)) ? 2 : 1;
  return columns;
}

}  // namespace tillwire
