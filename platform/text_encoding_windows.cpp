#include "platform/text_encoding.h"

#include <windows.h>

namespace tillwire {

namespace {

// The Windows code page of each encoding.
UINT CodePageOf(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf8: return CP_UTF8;
    case TextEncoding::kCp437: return 437;
    case TextEncoding::kCp850: return 850;
    case TextEncoding::kCp852: return 852;
    case TextEncoding::kCp858: return 858;
    case TextEncoding::kCp866: return 866;
    case TextEncoding::kCp1250: return 1250;
    case TextEncoding::kCp1251: return 1251;
    case TextEncoding::kCp1252: return 1252;
    case TextEncoding::kIso8859_1: return 28591;
    case TextEncoding::kIso8859_2: return 28592;
    case TextEncoding::kIso8859_5: return 28595;
    case TextEncoding::kIso8859_15: return 28605;
    case TextEncoding::kGbk: return 936;
    case TextEncoding::kGb18030: return 54936;
    case TextEncoding::kBig5: return 950;
    case TextEncoding::kShiftJis: return 932;
    // Unified Hangul Code: EUC-KR and the syllables it lacks; it reads EUC-KR
    // text alike, and every Windows (Wine too) has it, unlike 51949.
    case TextEncoding::kEucKr: return 949;
  }
  return 0;
}

}  // namespace

std::optional<std::string> ToUtf8(std::string_view bytes, TextEncoding encoding) {
  if (bytes.empty()) return std::string();
  const int size = static_cast<int>(bytes.size());
  // MB_ERR_INVALID_CHARS: a sequence the code page does not define fails
  // the conversion rather than becoming a replacement character.
  std::wstring wide(bytes.size(), L'\0');
  const int wideLength = MultiByteToWideChar(CodePageOf(encoding), MB_ERR_INVALID_CHARS,
                                             bytes.data(), size, &wide[0], size);
  if (wideLength == 0) return std::nullopt;
  const int utf8Length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(utf8Length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], utf8Length, nullptr, nullptr);
  return utf8;
}

}  // namespace tillwire
