#include "survey/shown_text.h"

#include "capture/secret_mask.h"
#include "survey/unicode_text.h"

namespace tillwire {

namespace {

// The longest character of the encodings, in bytes (GB18030's four).
constexpr std::size_t kLongestCharacter = 4;

std::string Dotted(std::string_view bytes) {
  std::string text(bytes);
  for (char& byte : text) {
    if (static_cast<unsigned char>(byte) >= 0x80) byte = '.';
  }
  return text;
}

// The bytes in UTF-8, without a last character cut short.
std::string Decoded(std::string_view bytes, std::optional<TextEncoding> encoding) {
  if (!encoding) return Dotted(bytes);
  for (std::size_t cut = 0; cut < kLongestCharacter && cut < bytes.size(); ++cut) {
    if (std::optional<std::string> text = ToUtf8(bytes.substr(0, bytes.size() - cut), *encoding)) {
      return *text;
    }
  }
  return Dotted(bytes);
}

}  // namespace

std::string ShownText(std::string_view bytes, std::optional<TextEncoding> encoding,
                      std::size_t columns) {
  const std::string text = Decoded(bytes, encoding);
  std::string shown = MaskSecrets(text, BytesWithin(text, columns));
  shown.erase(shown.find_last_not_of(' ') + 1);
  return shown;
}

}  // namespace tillwire
