#include "capture/printer_commands.h"

#include <cstring>

namespace tillwire {

namespace {

using Kind = CommandExtent::Kind;

CommandExtent Fixed(std::uint64_t length, CommandEffect effect = CommandEffect::kNone,
                    std::uint8_t parameter = 0) {
  return CommandExtent{Kind::kFixed, length, effect, parameter};
}

CommandExtent UntilNul(std::uint64_t length) { return CommandExtent{Kind::kUntilNul, length}; }

CommandExtent Incomplete() { return CommandExtent{}; }

bool OneOf(unsigned char byte, const char* set) {
  return byte != 0 && std::strchr(set, byte) != nullptr;
}

// A little-endian number of `count` bytes.
std::uint64_t LittleEndian(const unsigned char* bytes, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = count; i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

// ESC x ...
CommandExtent EscExtent(const unsigned char* h, std::size_t length) {
  if (length <= 1) return Incomplete();
  const unsigned char letter = h[1];
  switch (letter) {
    case '@': return Fixed(2, CommandEffect::kInitialise);
    case 'i':
    case 'm': return Fixed(2, CommandEffect::kCut);
    case 't':
      if (length <= 2) return Incomplete();
      return Fixed(3, CommandEffect::kCodePage, h[2]);
    case '%':
      // "ESC %-12345X" is the job separator of office printers' languages.
      if (length <= 2) return Incomplete();
      return Fixed(h[2] == '-' ? 9 : 3);
    case 'c':
      if (length <= 2) return Incomplete();
      return Fixed(OneOf(h[2], "345") ? 4 : 3);
    case 'p': return Fixed(5);
    case '$':
    case '\\':
    case 0x1D: return Fixed(4);  // ESC GS x n: Star's line mode
    case 'W': return Fixed(10);
    case 'D': return UntilNul(2);
    case '*': {
      // ESC * m nL nH: a bit image of n columns, one byte each (8 dots) or
      // three (24 dots).
      if (length <= 4) return Incomplete();
      const std::uint64_t columns = LittleEndian(h + 3, 2);
      return Fixed(5 + columns * (h[2] == 0 || h[2] == 1 ? 1 : 3));
    }
    default:
      return Fixed(OneOf(letter, "aE!d-GMJeRrV{3 ?UT=K") ? 3 : 2);
  }
}

// GS x ...
CommandExtent GsExtent(const unsigned char* h, std::size_t length) {
  if (length <= 1) return Incomplete();
  switch (h[1]) {
    case 'V':
      if (length <= 2) return Incomplete();
      return Fixed(OneOf(h[2], "AabBgh") ? 4 : 3, CommandEffect::kCut);
    case 'v': {
      // GS v 0 m xL xH yL yH: a raster image of x bytes by y dots.
      if (length <= 7) return Incomplete();
      return Fixed(8 + LittleEndian(h + 4, 2) * LittleEndian(h + 6, 2));
    }
    case '(':
      // GS ( x pL pH: 2-D codes, graphics and the like, p bytes follow.
      if (length <= 4) return Incomplete();
      return Fixed(5 + LittleEndian(h + 3, 2));
    case '8':
      // GS 8 L p1..p4: graphics with a four-byte length.
      if (length <= 6) return Incomplete();
      return Fixed(7 + LittleEndian(h + 3, 4));
    case 'k':
      // GS k m: a barcode, its data up to a NUL (m 0-6) or of length n.
      if (length <= 2) return Incomplete();
      if (h[2] <= 6) return UntilNul(3);
      if (length <= 3) return Incomplete();
      return Fixed(4 + h[3]);
    case '*':
      // GS * x y: a downloaded bit image of x by y bytes of 8 dots.
      if (length <= 3) return Incomplete();
      return Fixed(4 + static_cast<std::uint64_t>(h[2]) * h[3] * 8);
    case 'L':
    case 'W':
    case '$':
    case '\\':
    case 'P': return Fixed(4);
    default: return Fixed(3);
  }
}

// FS x ...
CommandExtent FsExtent(const unsigned char* h, std::size_t length) {
  if (length <= 1) return Incomplete();
  switch (h[1]) {
    case '&': return Fixed(2, CommandEffect::kDoubleByte);
    case '.': return Fixed(2);
    case 'p':
    case 'S': return Fixed(4);
    default: return Fixed(3);
  }
}

// DLE x ...: the real-time commands.
CommandExtent DleExtent(const unsigned char* h, std::size_t length) {
  if (length <= 1) return Incomplete();
  if (h[1] == 0x04 || h[1] == 0x05) return Fixed(3);
  if (h[1] == 0x14) return Fixed(5);
  return Fixed(2);
}

}  // namespace

CommandExtent ExtentOf(const unsigned char* header, std::size_t length) {
  switch (header[0]) {
    case kEsc: return EscExtent(header, length);
    case kGs: return GsExtent(header, length);
    case kFs: return FsExtent(header, length);
    default: return DleExtent(header, length);
  }
}

}  // namespace tillwire
