#include "config/configuration.h"

#include "config/xml_file.h"
#include "engine/exit_codes.h"
#include "log/log_file.h"
#include "platform/program_directory.h"

#include <set>

namespace tillwire {

namespace {

// An attribute's text as TinyXML decoded it; a missing attribute is empty.
std::string AttributeText(const TiXmlElement& element, const char* name) {
  const char* value = element.Attribute(name);
  return value ? std::string(value) : std::string();
}

// The NVR address of a Network element: the Address of its first NVR child.
// Entered in the NVR table, or reported when another element named it first.
std::string ReadNvr(const TiXmlElement& network, NvrTable& nvrTable) {
  const TiXmlElement* nvr = network.FirstChildElement("NVR");
  if (nvr == nullptr) return std::string();
  const std::string address = AttributeText(*nvr, "Address");
  if (address.empty()) return address;
  if (nvrTable.count(address) != 0) {
    LogFile::Instance().StartLine() << text::kNvrAlreadyDefinedPrefix << address
                                    << text::kNvrAlreadyDefinedSuffix << std::endl;
  } else {
    nvrTable.emplace(address, std::unique_ptr<NVRData>(new NVRData{address}));
  }
  return address;
}

void ReadTerminal(const TiXmlElement& element, const std::string& nvrAddress,
                  const ListenerFactory& makeListener, std::set<std::string>& usedNvrPorts,
                  TerminalTable& terminalTable) {
  TerminalRecord record;
  record.filter.srcAddress = AttributeText(element, "SrcAddress");
  record.filter.dstAddress = AttributeText(element, "DstAddress");
  if (record.filter.srcAddress.empty() && record.filter.dstAddress.empty()) {
    LogFile::Instance().StartLine() << text::kInvalidTerminal << std::endl;
    return;
  }
  record.filter.srcPort = AttributeText(element, "SrcPort");
  record.filter.dstPort = AttributeText(element, "DstPort");
  record.nvrAddress = nvrAddress;
  record.nvrPort = AttributeText(element, "NvrPort");
  if (record.nvrPort.empty()) return;
  // The port is taken even when the terminal turns out to be a duplicate below.
  if (!usedNvrPorts.insert(record.nvrPort).second) {
    LogFile::Instance().StartLine() << text::kNvrPortInUsePrefix << record.nvrPort
                                    << text::kNvrPortInUseSuffix << std::endl;
    return;
  }
  const std::string key = TerminalKey(record.filter);
  if (terminalTable.count(key) != 0) return;
  std::unique_ptr<TerminalConnection> listener = makeListener ? makeListener(record) : nullptr;
  terminalTable.emplace(key, std::unique_ptr<Terminal>(
                                 new Terminal{std::move(record), std::move(listener)}));
}

}  // namespace

OrStartFailure<Configuration> ReadConfiguration(const std::string& path) {
  Configuration configuration;
  configuration.document.reset(new TiXmlDocument());
  if (const std::optional<std::string> reason = LoadXmlFile(*configuration.document, path)) {
    return StartFailure{kExitConfigurationNotLoaded, {text::kFailedToLoadConfiguration, *reason}};
  }
  const TiXmlElement* root = configuration.document->RootElement();
  if (root == nullptr) return StartFailure{kExitNoRootElement, {text::kNoRootElement}};
  // The last Network element decides, even when it has no adapter address.
  for (const TiXmlElement* network = root->FirstChildElement("Network"); network != nullptr;
       network = network->NextSiblingElement("Network")) {
    const char* address = network->Attribute("SniffAdapterAddress");
    configuration.adapterAddress =
        address ? std::optional<std::string>(address) : std::nullopt;
  }
  return configuration;
}

OrStartFailure<Configuration> LoadConfiguration() {
  return ReadConfiguration(ProgramDirectory() + text::kConfigurationFileName);
}

Tables BuildTables(const TiXmlDocument& document, const ListenerFactory& makeListener) {
  Tables tables;
  std::set<std::string> usedNvrPorts;
  const TiXmlElement* root = document.RootElement();
  if (root == nullptr) return tables;
  for (const TiXmlElement* network = root->FirstChildElement("Network"); network != nullptr;
       network = network->NextSiblingElement("Network")) {
    // Terminals admit only the NVR of their own Network element.
    const std::string nvrAddress = ReadNvr(*network, tables.nvrTable);
    for (const TiXmlElement* terminal = network->FirstChildElement("Terminal");
         terminal != nullptr; terminal = terminal->NextSiblingElement("Terminal")) {
      ReadTerminal(*terminal, nvrAddress, makeListener, usedNvrPorts, tables.terminalTable);
    }
  }
  return tables;
}

}  // namespace tillwire
