// Loading an XML file into TinyXML without letting its parser read past the
// text.
//
// TinyXML's parser trusts the length that a multi-byte (UTF-8) lead byte
// announces and may step over the terminating NUL of malformed text, reading
// past the end of the buffer its own file loading made. Here the file's text
// goes to the parser with NUL padding behind it, which any such step lands
// in, so the parse ends inside the buffer.
#ifndef TILLWIRE_CONFIG_XML_FILE_H
#define TILLWIRE_CONFIG_XML_FILE_H

#include <tinyxml.h>

#include <cstddef>
#include <optional>
#include <string>

namespace tillwire {

// NUL bytes behind the text: more than the longest step of the parser (a
// four-byte sequence) past the terminating NUL.
inline constexpr std::size_t kXmlPadding = 16;

// Loads the file at path into document with the same result as
// TiXmlDocument::LoadFile: the file read as bytes, its line breaks (CR LF, and
// CR alone) read as LF, and the text parsed with TinyXML's default encoding
// detection. Nothing when it loaded; otherwise why not: the system's reason
// for a file that cannot be opened or read ("Too many open files"), or
// TinyXML's description of why the text does not parse (an empty file is
// "Error document empty.").
std::optional<std::string> LoadXmlFile(TiXmlDocument& document, const std::string& path);

}  // namespace tillwire

#endif
