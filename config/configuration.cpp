#include "config/configuration.h"

#include "config/xml_file.h"
#include "platform/program_directory.h"

#include <tinyxml.h>

#include <memory>
#include <set>

namespace tillwire {

std::string text::NvrAlreadyDefined(const std::string& address) {
  return "NVR " + address + " already defined.  Skipping duplicate.";
}

std::string text::NvrPortInUse(const std::string& nvrPort) {
  return "NVR Port " + nvrPort + " is already in use. Ignoring.";
}

namespace {

// An attribute's text as TinyXML decoded it; a missing attribute is empty.
std::string AttributeText(const TiXmlElement& element, const char* name) {
  const char* value = element.Attribute(name);
  return value ? std::string(value) : std::string();
}

void Note(Tables& tables, std::string line) {
  tables.walk.push_back(TableStep{TableStep::Kind::kNote, std::move(line)});
}

// The NVR address of a Network element: the Address of its first NVR child.
// Entered in the NVR table, or noted when another element named it first.
std::string ReadNvr(const TiXmlElement& network, Tables& tables) {
  const TiXmlElement* nvr = network.FirstChildElement("NVR");
  if (nvr == nullptr) return std::string();
  const std::string address = AttributeText(*nvr, "Address");
  if (address.empty()) return address;
  if (tables.nvrTable.count(address) != 0) {
    Note(tables, text::NvrAlreadyDefined(address));
  } else {
    tables.nvrTable.emplace(address, std::unique_ptr<NVRData>(new NVRData{address}));
  }
  return address;
}

void ReadTerminal(const TiXmlElement& element, const std::string& nvrAddress,
                  std::set<std::string>& usedNvrPorts, Tables& tables) {
  TerminalRecord record;
  record.filter.srcAddress = AttributeText(element, "SrcAddress");
  record.filter.dstAddress = AttributeText(element, "DstAddress");
  if (record.filter.srcAddress.empty() && record.filter.dstAddress.empty()) {
    Note(tables, text::kInvalidTerminal);
    return;
  }
  record.filter.srcPort = AttributeText(element, "SrcPort");
  record.filter.dstPort = AttributeText(element, "DstPort");
  record.nvrAddress = nvrAddress;
  record.nvrPort = AttributeText(element, "NvrPort");
  if (record.nvrPort.empty()) return;
  // The port is taken even when the terminal turns out to be a duplicate below.
  if (!usedNvrPorts.insert(record.nvrPort).second) {
    Note(tables, text::NvrPortInUse(record.nvrPort));
    return;
  }
  const std::string key = TerminalKey(record.filter);
  if (!tables.terminalTable.emplace(key, std::move(record)).second) return;
  tables.walk.push_back(TableStep{TableStep::Kind::kAccepted, key});
}

// The NVR and terminal tables of the document's root, with the walk.
Tables ReadTables(const TiXmlElement& root) {
  Tables tables;
  std::set<std::string> usedNvrPorts;
  for (const TiXmlElement* network = root.FirstChildElement("Network"); network != nullptr;
       network = network->NextSiblingElement("Network")) {
    // Terminals admit only the NVR of their own Network element.
    const std::string nvrAddress = ReadNvr(*network, tables);
    for (const TiXmlElement* terminal = network->FirstChildElement("Terminal");
         terminal != nullptr; terminal = terminal->NextSiblingElement("Terminal")) {
      ReadTerminal(*terminal, nvrAddress, usedNvrPorts, tables);
    }
  }
  return tables;
}

}  // namespace

std::variant<Configuration, ConfigurationFailure> ReadConfiguration(const std::string& path) {
  TiXmlDocument document;
  if (const std::optional<std::string> reason = LoadXmlFile(document, path)) {
    return ConfigurationFailure{ConfigurationFailure::Problem::kNotLoaded,
                                {text::kFailedToLoadConfiguration, *reason}};
  }
  const TiXmlElement* root = document.RootElement();
  if (root == nullptr) {
    return ConfigurationFailure{ConfigurationFailure::Problem::kNoRootElement,
                                {text::kNoRootElement}};
  }
  Configuration configuration;
  // The last Network element decides, even when it has no adapter address.
  for (const TiXmlElement* network = root->FirstChildElement("Network"); network != nullptr;
       network = network->NextSiblingElement("Network")) {
    const char* address = network->Attribute("SniffAdapterAddress");
    configuration.adapterAddress =
        address ? std::optional<std::string>(address) : std::nullopt;
  }
  configuration.tables = ReadTables(*root);
  // As with Network, the last Metrics element decides; an empty directory
  // writes no metrics.
  for (const TiXmlElement* metrics = root->FirstChildElement("Metrics"); metrics != nullptr;
       metrics = metrics->NextSiblingElement("Metrics")) {
    const std::string directory = AttributeText(*metrics, "TextfileDirectory");
    configuration.metricsDirectory =
        directory.empty() ? std::nullopt : std::optional<std::string>(directory);
  }
  return configuration;
}

std::variant<Configuration, ConfigurationFailure> LoadConfiguration() {
  return ReadConfiguration(ProgramDirectory() + text::kConfigurationFileName);
}

}  // namespace tillwire
