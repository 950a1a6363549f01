#include "source/source_texts.h"

namespace tillwire {
namespace text {

std::string FileSource(const std::string& path) { return "file://" + path; }

std::string AdapterSource(const std::string& adapter, const std::string& address) {
  return adapter + " " + address;
}

std::string PlayingFromLine(const std::string& source) { return "Playing from " + source; }

std::string ListeningOnLine(const std::string& source) { return "Listening on " + source; }

std::string FindAllDevsFailedLine(const std::string& reason) {
  return "Error in pcap_findalldevs: " + reason;
}

std::string UnableToOpenFileLine(const std::string& source) {
  return "Unable to open the file: " + source;
}

std::string UnableToOpenAdapterLine(const std::string& adapterName) {
  return "Unable to open the adapter. " + adapterName + " is not supported by pcap library.";
}

std::string CaptureLibraryIncompleteLine(const std::string& functionName) {
  return "The wpcap.dll found lacks the function " + functionName + ". Install a current Npcap.";
}

std::string UnsupportedLinkTypeLine(int dataLinkType, const char* name) {
  return "Unsupported link type " + std::to_string(dataLinkType) + " (" +
         (name != nullptr ? name : "unknown") +
         "): Tillwire reads Ethernet, Linux cooked (v1 and v2), raw IPv4 and BSD loopback "
         "captures. Exiting.";
}

std::string FilterNotSetLine(const std::string& reason) {
  return "Capture filter not set, capturing every frame: " + reason;
}

std::string DroppedLine(std::uint64_t sinceLastLook, std::uint64_t sinceStart) {
  return "Capture dropped " + std::to_string(sinceLastLook) + " frames in the last minute, " +
         std::to_string(sinceStart) + " since the capture started";
}

std::string ReadErrorLine(const std::string& reason) {
  return "Error reading the packets: " + reason;
}

}  // namespace text
}  // namespace tillwire
