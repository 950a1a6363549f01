// The capture source's texts for the log and the console, each a whole line
// (or, for a source's name, the whole name) made from its values. The run and
// the survey both use them: the source's name, its start failures, the
// unsupported link type and the read error.
#ifndef TILLWIRE_SOURCE_SOURCE_TEXTS_H
#define TILLWIRE_SOURCE_SOURCE_TEXTS_H

#include <cstdint>
#include <string>

namespace tillwire {
namespace text {

// A source as the lines name it: a capture file, "file://<path>", or an
// adapter, "<description or name> <address>".
std::string FileSource(const std::string& path);
std::string AdapterSource(const std::string& adapter, const std::string& address);

// The run's line for the source it opened: "Playing from <source>",
// "Listening on <source>".
std::string PlayingFromLine(const std::string& source);
std::string ListeningOnLine(const std::string& source);

// Why a source could not be opened.
inline constexpr char kNoInterfaces[] =
    "No interfaces found! Make sure WinPcap (Windows) or libpcap (Linux) is installed and that "
    "you are running with administrator or root privileges.";
inline constexpr char kNoAdapterAddress[] =
    "No SniffAdapterAddress in the last Network element of Tillwire.xml: cannot choose the "
    "adapter to listen on. Exiting.";
inline constexpr char kMatchingInterfaceNotFound[] = "Matching interface not found!";
// "Error in pcap_findalldevs: <reason>"
std::string FindAllDevsFailedLine(const std::string& reason);
// "Unable to open the file: <source>"
std::string UnableToOpenFileLine(const std::string& source);
// "Unable to open the adapter. <adapter name> is not supported by pcap library."
std::string UnableToOpenAdapterLine(const std::string& adapterName);

// The capture library (Windows): none, or one that lacks a function.
inline constexpr char kNoCaptureLibrary[] =
    "Unable to load wpcap.dll, the packet capture library. Install Npcap (with or without its "
    "WinPcap API-compatible mode) or WinPcap, then start Tillwire again.";
// "The wpcap.dll found lacks the function <name>. Install a current Npcap."
std::string CaptureLibraryIncompleteLine(const std::string& functionName);

// "Unsupported link type <number> (<name>): Tillwire reads ... Exiting."; a
// link type without a name in the capture library is "unknown".
std::string UnsupportedLinkTypeLine(int dataLinkType, const char* name);

// "Capture filter not set, capturing every frame: <reason>"
std::string FilterNotSetLine(const std::string& reason);

// "Capture dropped <n> frames in the last minute, <m> since the capture started"
std::string DroppedLine(std::uint64_t sinceLastLook, std::uint64_t sinceStart);

// "Error reading the packets: <the capture library's reason>"
std::string ReadErrorLine(const std::string& reason);

}  // namespace text
}  // namespace tillwire

#endif
