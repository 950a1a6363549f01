// The commands of receipt printers in a till's byte stream, read as
// commands rather than as text or noise: ESC/POS (ESC, GS, FS and DLE
// sequences, as Epson's and most other receipt printers take them) and the
// ESC GS sequences of Star's line mode, which the same reading serves.
//
// A command's length follows from its first bytes: a fixed number of
// parameters, a length that the command declares (raster and bit images,
// 2-D codes: skipped by that size, however many frames they span), or data
// up to a NUL (some barcodes, tab positions). An ESC or GS sequence that is
// not known is taken as the escape, its letter and, for GS, one parameter,
// which is what most of those commands take. Pure functions.
#ifndef TILLWIRE_CAPTURE_PRINTER_COMMANDS_H
#define TILLWIRE_CAPTURE_PRINTER_COMMANDS_H

#include <cstddef>
#include <cstdint>

namespace tillwire {

inline constexpr unsigned char kDle = 0x10;
inline constexpr unsigned char kEsc = 0x1B;
inline constexpr unsigned char kFs = 0x1C;
inline constexpr unsigned char kGs = 0x1D;

// Whether a byte begins a printer command.
inline bool BeginsPrinterCommand(unsigned char byte) {
  return byte == kEsc || byte == kGs || byte == kFs || byte == kDle;
}

// What a command means for the analysis of receipts.
enum class CommandEffect : std::uint8_t {
  kNone,
  kInitialise,  // ESC @: the printer starts afresh, as a receipt begins
  kCut,         // GS V, ESC i, ESC m: the paper is cut, a receipt ends
  kCodePage,    // ESC t n: the character code table n
  kDoubleByte,  // FS &: two-byte characters (the Chinese, Japanese or Korean mode)
};

// The extent of a command whose first `length` bytes are header[0..length).
struct CommandExtent {
  enum class Kind : std::uint8_t {
    kIncomplete,  // more bytes are needed to know its length
    kFixed,       // `length` bytes in all
    kUntilNul,    // `length` bytes, then data up to and with a NUL byte
  };
  Kind kind = Kind::kIncomplete;
  std::uint64_t length = 0;
  CommandEffect effect = CommandEffect::kNone;
  std::uint8_t parameter = 0;  // ESC t's code table
};

// The most header bytes ExtentOf asks for before it knows a command's
// extent (GS v 0 with its image's size).
inline constexpr std::size_t kLongestCommandHeader = 8;

// The extent of the command that header (of `length` bytes, 1 to
// kLongestCommandHeader, header[0] beginning a command) begins.
CommandExtent ExtentOf(const unsigned char* header, std::size_t length);

}  // namespace tillwire

#endif
