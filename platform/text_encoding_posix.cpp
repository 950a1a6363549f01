#include "platform/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace tillwire {

namespace {

// One conversion descriptor, closed with its scope.
class Converter {
 public:
  explicit Converter(TextEncoding from) : descriptor(iconv_open("UTF-8", EncodingName(from))) {}
  ~Converter() {
    if (Opened()) iconv_close(descriptor);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool Opened() const { return descriptor != reinterpret_cast<iconv_t>(-1); }
  iconv_t Descriptor() const { return descriptor; }

 private:
  const iconv_t descriptor;
};

}  // namespace

std::optional<std::string> ToUtf8(std::string_view bytes, TextEncoding encoding) {
  Converter converter(encoding);
  if (!converter.Opened()) return std::nullopt;
  // Four bytes of UTF-8 at most for each byte of the source.
  std::string utf8(bytes.size() * 4, '\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char* out = &utf8[0];
  std::size_t outLeft = utf8.size();
  if (iconv(converter.Descriptor(), &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1)) {
    return std::nullopt;
  }
  utf8.resize(utf8.size() - outLeft);
  return utf8;
}

}  // namespace tillwire
