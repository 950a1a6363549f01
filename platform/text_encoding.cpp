#include "platform/text_encoding.h"

namespace tillwire {

const char* EncodingName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf8: return "UTF-8";
    case TextEncoding::kCp437: return "CP437";
    case TextEncoding::kCp850: return "CP850";
    case TextEncoding::kCp852: return "CP852";
    case TextEncoding::kCp858: return "CP858";
    case TextEncoding::kCp866: return "CP866";
    case TextEncoding::kCp1250: return "CP1250";
    case TextEncoding::kCp1251: return "CP1251";
    case TextEncoding::kCp1252: return "CP1252";
    case TextEncoding::kIso8859_1: return "ISO-8859-1";
    case TextEncoding::kIso8859_2: return "ISO-8859-2";
    case TextEncoding::kIso8859_5: return "ISO-8859-5";
    case TextEncoding::kIso8859_15: return "ISO-8859-15";
    case TextEncoding::kGbk: return "GBK";
    case TextEncoding::kGb18030: return "GB18030";
    case TextEncoding::kBig5: return "Big5";
    case TextEncoding::kShiftJis: return "Shift_JIS";
    case TextEncoding::kEucKr: return "EUC-KR";
  }
  return "";
}

}  // namespace tillwire
