#include "config/configuration.h"

#include "log/log_file.h"
#include "log/program_directory.h"

#include <cstdlib>
#include <set>

namespace {

// An attribute's text as TinyXML decoded it; a missing attribute is empty.
std::string AttributeText(const TiXmlElement& element, const char* name) {
  const char* value = element.Attribute(name);
  return value ? std::string(value) : std::string();
}

[[noreturn]] void ExitWithMessage(const char* message, int exitCode) {
  LogFile::Instance().StartLine() << message << std::endl;
  std::exit(exitCode);
}

// The NVR address of a Network element: the Address of its first NVR child.
// Entered in the NVR table, or reported when another element named it first.
std::string ReadNvr(const TiXmlElement& network, NvrTable& nvrTable) {
  const TiXmlElement* nvr = network.FirstChildElement("NVR");
  if (nvr == nullptr) return std::string();
  const std::string address = AttributeText(*nvr, "Address");
  if (address.empty()) return address;
  if (nvrTable.count(address) != 0) {
    LogFile::Instance().StartLine() << text::kNvrAlreadyDefined << address
                                    << text::kNvrAlreadyDefinedEnd << std::endl;
  } else {
    nvrTable.emplace(address, std::unique_ptr<NVRData>(new NVRData{address}));
  }
  return address;
}

void ReadTerminal(const TiXmlElement& element, const std::string& nvrAddress,
                  boost::asio::io_service& eventQueue, std::set<std::string>& usedNvrPorts,
                  TerminalTable& terminalTable) {
  const std::string srcAddress = AttributeText(element, "SrcAddress");
  const std::string dstAddress = AttributeText(element, "DstAddress");
  if (srcAddress.empty() && dstAddress.empty()) {
    LogFile::Instance().StartLine() << text::kInvalidTerminal << std::endl;
    return;
  }
  const std::string srcPort = AttributeText(element, "SrcPort");
  const std::string dstPort = AttributeText(element, "DstPort");
  const std::string nvrPort = AttributeText(element, "NvrPort");
  if (nvrPort.empty()) return;
  // The port is taken even when the terminal turns out to be a duplicate below.
  if (!usedNvrPorts.insert(nvrPort).second) {
    LogFile::Instance().StartLine() << text::kNvrPortInUse << nvrPort << text::kNvrPortInUseEnd
                                    << std::endl;
    return;
  }
  const std::string key = TerminalKey(srcAddress, srcPort, dstAddress, dstPort);
  if (terminalTable.count(key) != 0) return;
  terminalTable.emplace(key, std::unique_ptr<Terminal>(new Terminal(
                                 eventQueue, srcAddress, dstAddress, srcPort, dstPort,
                                 nvrAddress, nvrPort)));
}

}  // namespace

Configuration LoadConfiguration() {
  return LoadConfiguration(ProgramDirectory() + text::kConfigurationFileName);
}

Configuration LoadConfiguration(const std::string& path) {
  Configuration configuration;
  configuration.document.reset(new TiXmlDocument());
  if (!configuration.document->LoadFile(path)) {
    ExitWithMessage(text::kFailedToLoadConfiguration, kExitConfigurationNotLoaded);
  }
  const TiXmlElement* root = configuration.document->RootElement();
  if (root == nullptr) ExitWithMessage(text::kNoRootElement, kExitNoRootElement);
  // The last Network element decides, even when it has no adapter address.
  for (const TiXmlElement* network = root->FirstChildElement("Network"); network != nullptr;
       network = network->NextSiblingElement("Network")) {
    const char* address = network->Attribute("SniffAdapterAddress");
    configuration.adapterAddress =
        address ? std::optional<std::string>(address) : std::nullopt;
  }
  return configuration;
}

Tables BuildTables(const TiXmlDocument& document, boost::asio::io_service& eventQueue) {
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
      ReadTerminal(*terminal, nvrAddress, eventQueue, usedNvrPorts, tables.terminalTable);
    }
  }
  return tables;
}
