#include "config/xml_file.h"

#include <fstream>
#include <iterator>

namespace tillwire {

namespace {

// XML's end-of-line handling, as TinyXML's file loading does it; the text
// ends at its first NUL, as there.
std::string NormalizeLineBreaks(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size() + kXmlPadding);
  for (std::size_t i = 0; i < bytes.size() && bytes[i] != '\0'; ++i) {
    if (bytes[i] != '\r') {
      text += bytes[i];
      continue;
    }
    text += '\n';
    if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
  }
  return text;
}

}  // namespace

bool LoadXmlFile(TiXmlDocument& document, const std::string& path) {
  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file) return false;
  const std::string bytes((std::istreambuf_iterator<char>(file)),
                          std::istreambuf_iterator<char>());
  if (bytes.empty()) return false;
  std::string text = NormalizeLineBreaks(bytes);
  text.append(kXmlPadding, '\0');
  document.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
  return !document.Error();
}

}  // namespace tillwire
