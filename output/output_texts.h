// The NVR side's log lines, each written whole from its values. A terminal's
// port is named as TerminalPortPrefix names it, so that a support engineer
// can find every line of one NVR port with one search.
#ifndef TILLWIRE_OUTPUT_OUTPUT_TEXTS_H
#define TILLWIRE_OUTPUT_OUTPUT_TEXTS_H

#include <cstdint>
#include <string>

namespace tillwire {

// "Terminal port PORT": how the listener's lines about accepting begin.
std::string TerminalPortPrefix(const std::string& nvrPort);
// "Terminal port NVR:PORT": how the lines about the NVR's connection begin.
std::string TerminalPortPrefix(const std::string& nvrAddress, const std::string& nvrPort);

namespace text {

// "Creating terminal connection: NVR:PORT"
std::string CreatingTerminalConnection(const std::string& nvrAddress, const std::string& nvrPort);
// "Acceptor bind failed: Port PORT Error: REASON"
std::string AcceptorBindFailed(const std::string& nvrPort, const std::string& reason);
// "<terminal port> Accept failed: REASON"
std::string AcceptFailed(const std::string& terminalPort, const std::string& reason);
// "<terminal port> Accept failed for now, retrying: REASON"
std::string AcceptFailedForNow(const std::string& terminalPort, const std::string& reason);
// "Accepted connection from NVR address: NVR Port: PORT"
std::string AcceptedConnection(const std::string& nvrAddress, const std::string& nvrPort);
// "<terminal port> NVR connected again: closing its previous connection"
std::string NvrConnectedAgain(const std::string& terminalPort);
// "<terminal port> Write failed: REASON"
std::string WriteFailed(const std::string& terminalPort, const std::string& reason);
// "<terminal port> NVR is not keeping up: dropping payloads until it catches up"
std::string NvrNotKeepingUp(const std::string& terminalPort);
// "Rejected connection from address: PEER on port PORT"
std::string RejectedConnection(const std::string& peerAddress, const std::string& nvrPort);

// Where rejections not logged one by one were counted: one NVR port, or all.
std::string OnPort(const std::string& nvrPort);
inline constexpr char kOnAllPorts[] = " on all ports";
// "Rejected connections not logged one by one: COUNT<where>"
std::string RejectionsNotLogged(std::uint64_t count, const std::string& where);

}  // namespace text

}  // namespace tillwire

#endif
