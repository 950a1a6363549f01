// Character encodings that shops' tills and printers use, converted to UTF-8
// by the system's own converter (iconv on Linux, MultiByteToWideChar on
// Windows), never by tables of Tillwire's own.
#ifndef TILLWIRE_PLATFORM_TEXT_ENCODING_H
#define TILLWIRE_PLATFORM_TEXT_ENCODING_H

#include <optional>
#include <string>
#include <string_view>

namespace tillwire {

enum class TextEncoding {
  kUtf8,
  kCp437,
  kCp850,
  kCp852,
  kCp858,
  kCp866,
  kCp1250,
  kCp1251,
  kCp1252,
  kIso8859_1,
  kIso8859_2,
  kIso8859_5,
  kIso8859_15,
  kGbk,
  kGb18030,
  kBig5,
  kShiftJis,
  kEucKr,
};

// The encoding's name, as NVRs' settings and iconv know it: "UTF-8",
// "CP866", "ISO-8859-2", "GBK", "Big5", "Shift_JIS", "EUC-KR".
const char* EncodingName(TextEncoding encoding);

// The bytes as UTF-8; nothing when they are not valid in the encoding (a
// byte or sequence it does not define, a sequence cut short) or the system
// cannot convert from it.
std::optional<std::string> ToUtf8(std::string_view bytes, TextEncoding encoding);

}  // namespace tillwire

#endif
