#include "config/xml_file.h"

#include <cerrno>
#include <cstring>
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

// The system's text for an error number; a stream that failed without one
// gets a text of its own.
std::string SystemReason(int error) {
  return error != 0 ? std::strerror(error) : "The file cannot be read.";
}

}  // namespace

std::optional<std::string> LoadXmlFile(TiXmlDocument& document, const std::string& path) {
  errno = 0;
  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file) return SystemReason(errno);
  const std::string bytes((std::istreambuf_iterator<char>(file)),
                          std::istreambuf_iterator<char>());
  if (file.bad()) return SystemReason(errno);
  // An empty text is TinyXML's "Error document empty.", as in its own loading.
  std::string text = NormalizeLineBreaks(bytes);
  text.append(kXmlPadding, '\0');
  document.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
  if (document.Error()) return std::string(document.ErrorDesc());
  return std::nullopt;
}

}  // namespace tillwire
