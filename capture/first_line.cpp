#include "capture/first_line.h"

namespace tillwire {

namespace {

bool IsVisible(unsigned char byte) { return byte > 0x20 && byte != 0x7F; }

char Kept(unsigned char byte) {
  if (byte == '\t') return ' ';
  return byte < 0x20 || byte == 0x7F ? '.' : static_cast<char>(byte);
}

}  // namespace

void FirstLine::Take(const unsigned char* data, std::size_t count) {
  for (std::size_t i = 0; i < count && !complete; ++i) {
    const unsigned char byte = data[i];
    if (byte == '\r' || byte == '\n') {
      complete = length > 0;
      continue;
    }
    if (length == 0 && !IsVisible(byte)) continue;
    line[length++] = Kept(byte);
    complete = length == kReadLength;
  }
}

std::string_view FirstLine::Bytes() const { return std::string_view(line, length); }

}  // namespace tillwire
