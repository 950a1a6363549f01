#include "output/output_texts.h"

namespace tillwire {

namespace {

const char kTerminalPort[] = "Terminal port ";

}  // namespace

std::string TerminalPortPrefix(const std::string& nvrPort) { return kTerminalPort + nvrPort; }

std::string TerminalPortPrefix(const std::string& nvrAddress, const std::string& nvrPort) {
  return kTerminalPort + nvrAddress + ":" + nvrPort;
}

namespace text {

std::string CreatingTerminalConnection(const std::string& nvrAddress, const std::string& nvrPort) {
  return "Creating terminal connection: " + nvrAddress + ":" + nvrPort;
}

std::string AcceptorBindFailed(const std::string& nvrPort, const std::string& reason) {
  return "Acceptor bind failed: Port " + nvrPort + " Error: " + reason;
}

std::string AcceptFailed(const std::string& terminalPort, const std::string& reason) {
  return terminalPort + " Accept failed: " + reason;
}

std::string AcceptFailedForNow(const std::string& terminalPort, const std::string& reason) {
  return terminalPort + " Accept failed for now, retrying: " + reason;
}

std::string AcceptedConnection(const std::string& nvrAddress, const std::string& nvrPort) {
  return "Accepted connection from NVR address: " + nvrAddress + " Port: " + nvrPort;
}

std::string NvrConnectedAgain(const std::string& terminalPort) {
  return terminalPort + " NVR connected again: closing its previous connection";
}

std::string WriteFailed(const std::string& terminalPort, const std::string& reason) {
  return terminalPort + " Write failed: " + reason;
}

std::string NvrNotKeepingUp(const std::string& terminalPort) {
  return terminalPort + " NVR is not keeping up: dropping payloads until it catches up";
}

std::string RejectedConnection(const std::string& peerAddress, const std::string& nvrPort) {
  return "Rejected connection from address: " + peerAddress + OnPort(nvrPort);
}

std::string OnPort(const std::string& nvrPort) { return " on port " + nvrPort; }

std::string RejectionsNotLogged(std::uint64_t count, const std::string& where) {
  return "Rejected connections not logged one by one: " + std::to_string(count) + where;
}

}  // namespace text

}  // namespace tillwire
