// Loading Tillwire.xml without the parser reading past its input, with the
// results of TinyXML's own file loading.
#include "config/xml_file.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <optional>

using namespace tillwire;

namespace {

// What a loaded document amounts to: failed, or its text as TinyXML prints it.
std::string Outcome(bool loaded, const TiXmlDocument& document) {
  if (!loaded) return "failed";
  TiXmlPrinter printer;
  document.Accept(&printer);
  return printer.Str();
}

TEST(XmlFile, LoadsAsTinyXmlsOwnFileLoadingDoes) {
  const std::string cases[] = {
      "<T><Network SniffAdapterAddress=\"192.168.10.2\"><NVR Address=\"1.2.3.4\"/></Network></T>",
      "\xef\xbb\xbf<T a=\"\xc3\xa9\"/>",                       // byte-order mark, UTF-8 text
      "<T a=\"x\r\ny\" b=\"p\rq\">line\r\nbreaks\r\r\n</T>\r\n",  // CR LF and lone CR
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><T a=\"\xe9\"/>",
      "<T a=\"&amp;&#65;&lt;\"><![CDATA[x]]><!-- c --></T>",
      std::string("<T a=\"1\"/>\0<U/>", 14),  // the text ends at a NUL
      std::string("\0<T/>", 5),
      "<T><U></T>",
      "\x01\x02\xff\xfe garbage",
      "<?xml version=\"1.0\"?>",
      "   ",
      "",
  };
  for (const std::string& content : cases) {
    SCOPED_TRACE(testing::PrintToString(content));
    TempDirectory directory;
    const std::string path = directory.Path() + "Tillwire.xml";
    WriteFile(path, content);
    TiXmlDocument ours;
    TiXmlDocument theirs;
    const std::optional<std::string> reason = LoadXmlFile(ours, path);
    EXPECT_EQ(Outcome(!reason, ours), Outcome(theirs.LoadFile(path), theirs));
    if (reason) {
      EXPECT_EQ(*reason, theirs.ErrorDesc()) << "TinyXML's own reason";
    }
  }
}

// A file that cannot be opened gives the system's reason, which the fixed
// failure line would otherwise drop.
TEST(XmlFile, AFileThatCannotBeOpenedGivesTheSystemsReason) {
  TiXmlDocument missing;
  EXPECT_EQ(LoadXmlFile(missing, "/nonexistent/Tillwire.xml"),
            std::optional<std::string>(std::strerror(ENOENT)));
}

// Malformed multi-byte text that once made the parser read past its buffer
// (the sanitizer build catches any read past it); what it parses to matters less.
TEST(XmlFile, MalformedMultiByteTextStaysInsideTheBuffer) {
  const std::string fixture = ReadFile(TILLWIRE_XML_OVERREAD);
  ASSERT_EQ(fixture.size(), 46u);
  // The fixture as it is, with line breaks, and cut at every length.
  std::vector<std::string> variants{fixture, fixture + "\r\n", "\r" + fixture};
  for (std::size_t length = 1; length < fixture.size(); ++length) {
    variants.push_back(fixture.substr(0, length));
  }
  for (const std::string& content : variants) {
    TempDirectory directory;
    WriteFile(directory.Path() + "Tillwire.xml", content);
    TiXmlDocument document;
    LoadXmlFile(document, directory.Path() + "Tillwire.xml");
  }
  TempDirectory directory;
  WriteFile(directory.Path() + "Tillwire.xml", fixture);
  TiXmlDocument document;
  EXPECT_TRUE(LoadXmlFile(document, directory.Path() + "Tillwire.xml").has_value());
}

}  // namespace
