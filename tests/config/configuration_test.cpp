#include "config/configuration.h"
#include "output/terminal_connections.h"
#include "report/filter_notes.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using namespace tillwire;

namespace {

std::string WriteConfiguration(const TempDirectory& directory, const std::string& xml) {
  const std::string path = directory.Path() + "Tillwire.xml";
  WriteFile(path, xml);
  return path;
}

// What a test compares of a built terminal table: key and admitted NVR, in order.
std::vector<std::pair<std::string, std::string>> Summary(const TerminalTable& table) {
  std::vector<std::pair<std::string, std::string>> summary;
  for (const auto& entry : table) summary.emplace_back(entry.first, entry.second.nvrAddress);
  return summary;
}

// The configuration of a file that loads.
Configuration Read(const std::string& path) {
  std::variant<Configuration, ConfigurationFailure> result = ReadConfiguration(path);
  if (const auto* failure = std::get_if<ConfigurationFailure>(&result)) {
    ADD_FAILURE() << "did not load: " << failure->lines.front();
    return Configuration{};
  }
  return std::move(std::get<Configuration>(result));
}

// The configuration of a file whose root element holds body.
Configuration ReadBody(const std::string& body) {
  TempDirectory directory;
  return Read(WriteConfiguration(directory, "<Root>" + body + "</Root>"));
}

// The texts of the walk's steps of one kind, in the walk's order.
std::vector<std::string> Steps(const Tables& tables, TableStep::Kind kind) {
  std::vector<std::string> texts;
  for (const TableStep& step : tables.walk) {
    if (step.kind == kind) texts.push_back(step.text);
  }
  return texts;
}

TEST(Configuration, WorkedExample) {
  const std::string first = std::to_string(FreePort());
  const std::string second = std::to_string(FreePort());
  TempDirectory directory;
  const std::string path = WriteConfiguration(directory, R"(<Tillwire>
  <Network SniffAdapterAddress="192.168.10.2">
    <NVR Address="1.2.3.4"/>
    <Terminal SrcAddress="192.168.10.31" NvrPort=")" + first + R"("/>
    <Terminal DstAddress="192.168.10.40" DstPort="9100" NvrPort=")" + second + R"("/>
    <Terminal SrcAddress="192.168.10.32" NvrPort=")" + first + R"("/>
  </Network>
</Tillwire>)");
  LogWatch watch;
  const Configuration configuration = Read(path);
  EXPECT_EQ(configuration.adapterAddress, std::optional<std::string>("192.168.10.2"));

  const Tables& tables = configuration.tables;
  boost::asio::io_context eventQueue;
  RejectionQuota rejectionLines(eventQueue);
  TerminalConnections connections(tables, eventQueue, rejectionLines);
  using Entry = std::pair<std::string, std::string>;
  EXPECT_EQ(Summary(tables.terminalTable),
            (std::vector<Entry>{{"192.168.10.31:::", "1.2.3.4"},
                                {"::192.168.10.40:9100", "1.2.3.4"}}));
  ASSERT_EQ(tables.nvrTable.size(), 1u);
  EXPECT_EQ(tables.nvrTable.at("1.2.3.4")->address, "1.2.3.4");
  const TerminalRecord& terminal = tables.terminalTable.at("192.168.10.31:::");
  EXPECT_EQ(terminal.filter.srcAddress, "192.168.10.31");
  EXPECT_EQ(terminal.nvrPort, first);
  ASSERT_EQ(connections.Size(), 2u);
  EXPECT_EQ(std::to_string(connections[0].ListeningEndpoint().port()), first);
  EXPECT_EQ(std::to_string(connections[1].ListeningEndpoint().port()), second);
  EXPECT_EQ(watch.Texts(), (std::vector<std::string>{
                               "Creating terminal connection: 1.2.3.4:" + first,
                               "Creating terminal connection: 1.2.3.4:" + second,
                               "NVR Port " + first + " is already in use. Ignoring.",
                           }));
}

// The run names each filter that can never match among the file's notes, in
// the file's order, and still listens for its terminal.
TEST(Configuration, FiltersThatCanNeverMatchAreLoggedInTheFilesOrder) {
  const std::string first = std::to_string(FreePort());
  const std::string second = std::to_string(FreePort());
  TempDirectory directory;
  Configuration configuration = Read(WriteConfiguration(directory, R"(<Tillwire><Network>
    <NVR Address="1.2.3.4"/>
    <Terminal SrcAddress="172.30.5.021" NvrPort=")" + first + R"("/>
    <Terminal SrcAddress="10.0.0.2" NvrPort=")" + first + R"("/>
    <Terminal SrcAddress="10.0.0.3 " DstPort="06001" NvrPort=")" + second + R"("/>
  </Network></Tillwire>)"));
  LogWatch watch;
  NoteNeverMatchingFilters(configuration.tables);
  boost::asio::io_context eventQueue;
  RejectionQuota rejectionLines(eventQueue);
  const TerminalConnections connections(configuration.tables, eventQueue, rejectionLines);
  const std::string address =
      "an address is written as packets show it, four numbers 0-255 separated by dots, without "
      "leading zeros or blanks, such as 172.30.5.21";
  const std::string port =
      "a port is written as packets show it, a number 0-65535 without leading zeros, signs or "
      "blanks, such as 6001";
  EXPECT_EQ(watch.Texts(),
            (std::vector<std::string>{
                "Filter never matches: terminal 172.30.5.021::: (NvrPort " + first +
                    ") SrcAddress \"172.30.5.021\": " + address,
                "Creating terminal connection: 1.2.3.4:" + first,
                "NVR Port " + first + " is already in use. Ignoring.",
                "Filter never matches: terminal 10.0.0.3 :::06001 (NvrPort " + second +
                    ") SrcAddress \"10.0.0.3 \": " + address,
                "Filter never matches: terminal 10.0.0.3 :::06001 (NvrPort " + second +
                    ") DstPort \"06001\": " + port,
                "Creating terminal connection: 1.2.3.4:" + second,
            }));
  EXPECT_EQ(connections.Size(), 2u);
}

// The sample that the Windows package ships, comments and all, reads as its
// comments describe it.
TEST(Configuration, PackagedSampleReadsAsDocumented) {
  const Configuration configuration = Read(TILLWIRE_SAMPLE_CONFIGURATION);
  EXPECT_EQ(configuration.adapterAddress, std::optional<std::string>("192.168.10.2"));
  const Tables& tables = configuration.tables;
  using Entry = std::pair<std::string, std::string>;
  EXPECT_EQ(Summary(tables.terminalTable),
            (std::vector<Entry>{{"192.168.10.31:::", "192.168.10.50"},
                                {"::192.168.10.40:9100", "192.168.10.50"}}));
  // The Metrics element is shown commented out.
  EXPECT_EQ(configuration.metricsDirectory, std::nullopt);
}

TEST(Configuration, AdapterAddressComesFromTheLastNetworkElement) {
  struct Case {
    const char* body;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {R"(<Network SniffAdapterAddress="10.0.0.1"/><Network/>)", std::nullopt},
      {R"(<Network/><Network SniffAdapterAddress="10.0.0.2"/>)", std::string("10.0.0.2")},
      {R"(<Network SniffAdapterAddress=""/>)", std::string()},
      {R"(<Other SniffAdapterAddress="10.0.0.3"/>)", std::nullopt},
      {R"(<Network SniffAdapterAddress=" 10.0.0.&#52; "/>)", std::string(" 10.0.0.4 ")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(ReadBody(c.body).adapterAddress, c.expected);
  }
}

TEST(Configuration, MetricsDirectoryComesFromTheLastMetricsElement) {
  struct Case {
    const char* body;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {R"(<Network/>)", std::nullopt},
      {R"(<Metrics TextfileDirectory="/var/lib/prometheus/node-exporter"/>)",
       std::string("/var/lib/prometheus/node-exporter")},
      {R"(<Metrics TextfileDirectory="/a"/><Metrics TextfileDirectory="/b"/>)", std::string("/b")},
      {R"(<Metrics TextfileDirectory="/a"/><Metrics/>)", std::nullopt},
      {R"(<Metrics TextfileDirectory=""/>)", std::nullopt},
      {R"(<Network><Metrics TextfileDirectory="/nested"/></Network>)", std::nullopt},
      {R"(<Metrics TextfileDirectory="C:\Program Files\windows_exporter\textfile_inputs"/>)",
       std::string(R"(C:\Program Files\windows_exporter\textfile_inputs)")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(ReadBody(c.body).metricsDirectory, c.expected);
  }
}

TEST(Configuration, TablesFollowTheFileRules) {
  using Entry = std::pair<std::string, std::string>;
  struct Case {
    const char* name;
    const char* body;
    std::vector<Entry> terminals;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"the first NVR child counts, wherever it stands",
       R"(<Network><Terminal SrcAddress="10.0.0.1" NvrPort="0"/>
                   <NVR Address="1.2.3.4"/><NVR Address="1.2.3.5"/></Network>)",
       {{"10.0.0.1:::", "1.2.3.4"}},
       {}},
      {"a repeated NVR is reported and still admitted by its own terminals",
       R"(<Network><NVR Address="1.2.3.4"/><Terminal SrcAddress="10.0.0.1" NvrPort="0"/></Network>
          <Network><NVR Address="1.2.3.4"/><Terminal SrcAddress="10.0.0.2" NvrPort="00"/></Network>)",
       {{"10.0.0.1:::", "1.2.3.4"}, {"10.0.0.2:::", "1.2.3.4"}},
       {"NVR 1.2.3.4 already defined.  Skipping duplicate."}},
      {"terminals see only the NVR of their own element",
       R"(<Network><NVR Address="1.2.3.4"/><Terminal SrcAddress="10.0.0.1" NvrPort="0"/></Network>
          <Network><Terminal SrcAddress="10.0.0.2" NvrPort="00"/></Network>
          <Network><NVR/><NVR Address="5.6.7.8"/><Terminal SrcAddress="10.0.0.3" NvrPort="000"/></Network>)",
       {{"10.0.0.1:::", "1.2.3.4"}, {"10.0.0.2:::", ""}, {"10.0.0.3:::", ""}},
       {}},
      {"terminals without an address or a port",
       R"(<Network><Terminal NvrPort="0"/><Terminal SrcPort="9100" NvrPort="00"/>
                   <Terminal SrcAddress="10.0.0.1"/><Terminal SrcAddress="10.0.0.2" NvrPort=""/>
                   <Terminal SrcAddress="10.0.0.3" NvrPort="0"/></Network>)",
       {{"10.0.0.3:::", ""}},
       {text::kInvalidTerminal, text::kInvalidTerminal}},
      {"a duplicate terminal is skipped silently and keeps its port taken",
       R"(<Network><Terminal SrcAddress="10.0.0.1" NvrPort="0"/>
                   <Terminal SrcAddress="10.0.0.1" NvrPort="00"/>
                   <Terminal SrcAddress="10.0.0.2" NvrPort="00"/>
                   <Terminal SrcAddress="10.0.0.3" NvrPort="0"/></Network>)",
       {{"10.0.0.1:::", ""}},
       {"NVR Port 00 is already in use. Ignoring.", "NVR Port 0 is already in use. Ignoring."}},
      {"keys sort byte by byte: a digit before a colon",
       R"(<Network><Terminal DstAddress="10.0.0.9" DstPort="9100" NvrPort="0"/>
                   <Terminal SrcAddress="10.0.0.5" NvrPort="00"/>
                   <Terminal SrcAddress="10.0.0.5" SrcPort="1" DstAddress="10.0.0.9" NvrPort="000"/></Network>)",
       {{"10.0.0.5:1:10.0.0.9:", ""}, {"10.0.0.5:::", ""}, {"::10.0.0.9:9100", ""}},
       {}},
      {"only Network children count, and texts are decoded, not trimmed",
       R"(<Terminal SrcAddress="10.0.0.1" NvrPort="0"/>
          <Network><Group><Terminal SrcAddress="10.0.0.2" NvrPort="00"/></Group>
                   <Terminal SrcAddress=" 10.0.0.&#51;" NvrPort="000"/></Network>)",
       {{" 10.0.0.3:::", ""}},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogWatch watch;
    const Configuration configuration = ReadBody(c.body);
    const Tables& tables = configuration.tables;
    EXPECT_EQ(Summary(tables.terminalTable), c.terminals);
    EXPECT_EQ(Steps(tables, TableStep::Kind::kNote), c.messages);
    EXPECT_TRUE(watch.Texts().empty()) << "the run logs the notes";
    std::vector<std::string> keys;
    for (const auto& terminal : c.terminals) keys.push_back(terminal.first);
    std::vector<std::string> accepted = Steps(tables, TableStep::Kind::kAccepted);
    std::sort(accepted.begin(), accepted.end());
    EXPECT_EQ(accepted, keys) << "each terminal of the table accepted once";
  }
}

// Ports are compared as texts here; whether the second one can listen is the
// listener's affair, and its failure leaves the terminal configured.
TEST(Configuration, SamePortWrittenTwoWaysGivesTwoTerminals) {
  const std::string port = std::to_string(FreePort());
  TempDirectory directory;
  const Configuration configuration = Read(WriteConfiguration(
      directory, R"(<Root><Network><Terminal SrcAddress="10.0.0.1" NvrPort=")" + port +
                     R"("/><Terminal SrcAddress="10.0.0.2" NvrPort="0)" + port +
                     R"("/></Network></Root>)"));
  LogWatch watch;
  const Tables& tables = configuration.tables;
  boost::asio::io_context eventQueue;
  RejectionQuota rejectionLines(eventQueue);
  const TerminalConnections connections(tables, eventQueue, rejectionLines);
  EXPECT_EQ(tables.terminalTable.size(), 2u);
  const std::vector<std::string> messages = watch.Texts();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[2].rfind("Acceptor bind failed: Port 0" + port + " Error: ", 0), 0u)
      << messages[2];
}

TEST(Configuration, UnusableFileGivesItsProblemAndMessage) {
  struct Case {
    const char* name;
    const char* content;  // null: no file at all
    ConfigurationFailure::Problem problem;
    std::vector<std::string> lines;  // the fixed line, and the reason it would drop
  };
  const std::string failed = text::kFailedToLoadConfiguration;
  const auto notLoaded = ConfigurationFailure::Problem::kNotLoaded;
  const Case cases[] = {
      {"missing", nullptr, notLoaded, {failed, std::strerror(ENOENT)}},
      {"empty", "", notLoaded, {failed, "Error document empty."}},
      {"unclosed tags", "<Tillwire><Network><Terminal SrcAddress=\"1", notLoaded,
       {failed, "Error parsing Element."}},
      {"not XML", "\x01\x02\xff\xfe garbage", notLoaded, {failed, "Error document empty."}},
      {"no root element", "<?xml version=\"1.0\"?><!-- nothing here -->",
       ConfigurationFailure::Problem::kNoRootElement, {text::kNoRootElement}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDirectory directory;
    const std::string path = directory.Path() + "Tillwire.xml";
    if (c.content != nullptr) WriteFile(path, c.content);
    LogWatch watch;
    const std::variant<Configuration, ConfigurationFailure> result = ReadConfiguration(path);
    const ConfigurationFailure* failure = std::get_if<ConfigurationFailure>(&result);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->problem, c.problem);
    EXPECT_EQ(failure->lines, c.lines);
    EXPECT_TRUE(watch.Texts().empty()) << "the caller logs it";
  }
}

TEST(Configuration, HostileFileGivesACleanTable) {
  std::string body = "<Root><Network><NVR Address=\"\xc3\xa9\xff\"/>";
  const std::string hugeAddress(1 << 20, '7');
  body += "<Terminal SrcAddress=\"" + hugeAddress + "\" NvrPort=\"0\"/>";
  body += "<Terminal SrcAddress=\"\xe5\x9c\xb0\xe5\x9d\x80\" NvrPort=\"00\"/>";
  const int many = 2000;
  for (int i = 0; i < many; ++i) {
    body += "<Terminal DstAddress=\"10.0.0.1\" DstPort=\"" + std::to_string(i) +
            "\" NvrPort=\"0x" + std::to_string(i) + "\"/>";
  }
  body += "</Network></Root>";
  TempDirectory directory;
  const Configuration configuration = Read(WriteConfiguration(directory, body));
  const Tables& tables = configuration.tables;
  EXPECT_EQ(tables.terminalTable.size(), static_cast<std::size_t>(many + 2));
  EXPECT_EQ(tables.terminalTable.count(hugeAddress + ":::"), 1u);
  EXPECT_EQ(tables.terminalTable.at("\xe5\x9c\xb0\xe5\x9d\x80:::").nvrAddress, "\xc3\xa9\xff");
}

}  // namespace
