// The packet-capture library, as the program finds it at run time.
//
// On Linux libpcap is linked into the program and always there. On Windows
// the pcap API comes from wpcap.dll, the DLL that the capture driver installs
// (Npcap in System32\Npcap, and in System32 in its WinPcap-compatible mode;
// WinPcap in System32). The executable imports it late, so that it starts,
// installs and removes the service without any driver; the DLL is needed
// only once the engine opens its capture source.
#ifndef TILLWIRE_SOURCE_CAPTURE_LIBRARY_H
#define TILLWIRE_SOURCE_CAPTURE_LIBRARY_H

#include <optional>
#include <string>

namespace tillwire {

// Makes the pcap API callable. Returns nothing when it is, otherwise the one
// line for the log that says what is missing and what to install. Cheap after
// the first success; for the engine's thread.
std::optional<std::string> LoadCaptureLibrary();

}  // namespace tillwire

#endif
