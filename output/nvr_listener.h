// One terminal's TCP server for its NVR: who may connect, and which
// connection is the NVR's.
//
// A listener listens on the terminal's NvrPort on every IPv4 interface,
// admits a connection only from the terminal's own NVR address and holds at
// most one NVR session at a time; strangers are closed at once, and logged
// within the rejection lines' bounds. It goes on accepting while its NVR is
// connected: a new connection from the NVR's address replaces the current
// session at once (an NVR that restarted is served at once, whatever became
// of its old connection). Accept failures that pass by themselves are retried.
// Its work runs on the engine's event queue; failures are logged and
// absorbed, and none of them ends the program or touches another terminal.
#ifndef TILLWIRE_OUTPUT_NVR_LISTENER_H
#define TILLWIRE_OUTPUT_NVR_LISTENER_H

#include "output/accept_retry.h"
#include "output/nvr_session.h"
#include "output/rejection_log.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tillwire {

// The TCP port that an NvrPort text names: the text read as atoi reads it
// (leading blanks, a sign, digits up to the first other character, 0 when
// there are none; out-of-range values saturate), keeping the low 16 bits.
// So "70000" is 4464 and "abc" is 0, for which the system picks a port.
unsigned short NvrPortNumber(const std::string& nvrPort);

class NvrListener {
 public:
  // Logs the terminal connection's creation, then opens, binds and listens on
  // the port at once (synchronously) and starts accepting, which goes on in
  // the background. A port that cannot be opened is logged and leaves the
  // terminal without a listener for good; it never fails outward. Its
  // rejection lines count against rejectionLinesInAll as well as against its
  // own bound; that quota must outlive the listener.
  NvrListener(boost::asio::io_context& eventQueue, const std::string& nvrAddress,
              const std::string& nvrPort, RejectionQuota& rejectionLinesInAll);
  // Closes the listener and ends the current session. The event queue must
  // not be driven after this: the accept's handlers still pending on it refer
  // to this object.
  ~NvrListener();
  NvrListener(const NvrListener&) = delete;
  NvrListener& operator=(const NvrListener&) = delete;

  // The NVR's current session, ended or not; null until the NVR first connects.
  NvrSession* Session() { return session.get(); }
  const NvrSession* Session() const { return session.get(); }
  // Bytes the NVR has taken in the run, over all its sessions.
  std::uint64_t BytesTaken() const;
  // What the NVR's sessions did with the payloads, over all of them.
  SessionCounts Counts() const;
  // False when the port could not be opened.
  bool Listening() const { return acceptor.is_open(); }
  // Connections refused in the run (from hosts other than the NVR), logged or not.
  std::uint64_t Rejected() const { return rejected; }

  // Where the listener is bound (port 0 when it is not listening).
  boost::asio::ip::tcp::endpoint ListeningEndpoint() const;
  // The listener's socket, for inspecting its options.
  boost::asio::ip::tcp::acceptor::native_handle_type Handle() { return acceptor.native_handle(); }

 private:
  void StartAccept();
  void HandleAccept(const boost::system::error_code& error);
  void Admit();
  void EndSession();

  boost::asio::io_context& eventQueue;
  boost::asio::ip::tcp::acceptor acceptor;
  boost::asio::ip::tcp::endpoint peerEndpoint;
  // The pending accept's socket, while an accept is pending.
  std::optional<boost::asio::ip::tcp::socket> incoming;
  const std::string nvrAddress;
  const std::string nvrPort;
  // "Terminal port PORT" and "Terminal port NVR:PORT", the starts of the
  // lines about accepting and about the NVR's connection.
  const std::string terminalPort;
  const std::string nvrTerminalPort;
  AcceptRetry acceptRetry;
  RejectionLog rejectionLog;
  // The NVR's current session, shared with its pending completions.
  std::shared_ptr<NvrSession> session;
  // Bytes the NVR took on its sessions before the current one, and what
  // those sessions did.
  std::uint64_t bytesTakenBefore = 0;
  SessionCounts countsBefore;
  std::uint64_t rejected = 0;
};

}  // namespace tillwire

#endif
