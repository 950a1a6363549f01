// What the engine holds for one terminal: its NVR listener, and the path of
// its payloads to the NVR's current session.
//
// The listener accepts and admits the NVR (see NvrListener); each admitted
// connection is a session that writes the payloads (see NvrSession). This
// object hands payloads to whichever session is current and answers for the
// NVR over all its sessions, for the engine and the playback pacer.
#ifndef TILLWIRE_OUTPUT_TERMINAL_CONNECTION_H
#define TILLWIRE_OUTPUT_TERMINAL_CONNECTION_H

#include "output/delivery_counts.h"
#include "output/nvr_listener.h"
#include "output/nvr_session.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tillwire {

class TerminalConnection {
 public:
  // Payloads waiting for the NVR are bounded by this many bytes.
  static constexpr std::size_t kMaxWaiting = NvrSession::kMaxWaiting;

  // Logs its creation, then binds and listens on the port at once
  // (synchronously) and starts accepting in the background; a port that
  // cannot be opened is logged and leaves the terminal without a listener for
  // good, and never fails outward. Its rejection lines count against
  // rejectionLinesInAll as well as against its own bound; that quota must
  // outlive the terminal.
  TerminalConnection(boost::asio::io_context& eventQueue, const std::string& nvrAddress,
                     const std::string& nvrPort, RejectionQuota& rejectionLinesInAll)
      : listener(eventQueue, nvrAddress, nvrPort, rejectionLinesInAll) {}
  // Closes the listener and the NVR's connection. The event queue must not be
  // driven after this: handlers still pending on it refer to the listener.
  ~TerminalConnection() = default;
  TerminalConnection(const TerminalConnection&) = delete;
  TerminalConnection& operator=(const TerminalConnection&) = delete;

  // Hands a payload to the connected NVR (see NvrSession::Send) and counts
  // its bytes as matched. Returns false, silently, when no NVR is connected
  // (the bytes count as not sent, for want of an NVR or of a listening port);
  // true otherwise, also for a length below 1, which sends nothing, and for a
  // payload dropped because the NVR is not keeping up.
  bool Send(const unsigned char* data, int length) {
    const std::uint64_t count = length > 0 ? static_cast<std::uint64_t>(length) : 0;
    counts.matched += count;
    NvrSession* session = listener.Session();
    if (session != nullptr && session->Send(data, length)) return true;
    (listener.Listening() ? counts.noNvr : counts.portNotOpen) += count;
    return false;
  }

  // What became of the terminal's bytes so far in the run.
  DeliveryCounts Counts() const {
    DeliveryCounts all = counts;
    all.sessions = listener.Counts();
    return all;
  }
  // False when the NvrPort could not be opened.
  bool Listening() const { return listener.Listening(); }
  // True once an NVR has connected in the run.
  bool NvrEverConnected() const { return listener.Session() != nullptr; }

  // True while an NVR is connected: Send then hands it payloads.
  bool NvrConnected() const {
    const NvrSession* session = listener.Session();
    return session != nullptr && session->Open();
  }

  // True while a write to the NVR is under way or payloads wait for one.
  bool Sending() const {
    const NvrSession* session = listener.Session();
    return session != nullptr && session->Sending();
  }
  // The bytes waiting behind the write in flight.
  std::size_t WaitingBytes() const {
    const NvrSession* session = listener.Session();
    return session != nullptr ? session->WaitingBytes() : 0;
  }
  // The bytes handed to the NVR's current connection and not written yet
  // (NvrSession::BytesUnderWay). Of the bytes that Counts() leaves
  // Unsettled, the rest were lost when a connection ended: a count that
  // never goes down.
  std::uint64_t BytesUnderWay() const {
    const NvrSession* session = listener.Session();
    return session != nullptr ? session->BytesUnderWay() : 0;
  }
  // Connections refused in the run (NvrListener::Rejected).
  std::uint64_t Rejected() const { return listener.Rejected(); }
  // Bytes the NVR has taken so far in the run, over all its connections:
  // those written, less those the system still holds unacknowledged where it
  // tells. It grows as the NVR's system acknowledges bytes: for an NVR that
  // reads slowly, in steps some seconds apart.
  std::uint64_t BytesTaken() const { return listener.BytesTaken(); }

  // Where the listener is bound (port 0 when it is not listening).
  boost::asio::ip::tcp::endpoint ListeningEndpoint() const {
    return listener.ListeningEndpoint();
  }
  // The listener's socket, for inspecting its options.
  boost::asio::ip::tcp::acceptor::native_handle_type ListenerHandle() {
    return listener.Handle();
  }
  // The NVR connection's socket, for inspecting its options; none while no
  // NVR is connected.
  std::optional<boost::asio::ip::tcp::socket::native_handle_type> ConnectionHandle() {
    if (!NvrConnected()) return std::nullopt;
    return listener.Session()->Handle();
  }

 private:
  NvrListener listener;
  // Matched and not sent; the sessions keep the rest of the account.
  DeliveryCounts counts;
};

}  // namespace tillwire

#endif
