// One terminal's TCP server for its NVR, and the path of its payloads to it.
//
// A TerminalConnection listens on the terminal's NvrPort on every IPv4
// interface, admits a connection only from the terminal's own NVR address and
// holds at most one NVR connection at a time; strangers are closed at once.
// It goes on accepting while its NVR is connected: a new connection from the
// NVR's address replaces the current one (an NVR that restarted is served at
// once, whatever became of its old connection), and a dead NVR is noticed by
// TCP keep-alive even when it never comes back.
// The NVR receives the terminal's payloads as one plain byte stream, in the
// order of Send, unchanged. All socket work is asynchronous on the engine's
// event queue, which only the engine's thread drives, so no lock is needed. Failures are logged and absorbed; none of
// them ends the program or touches another terminal.
#ifndef TILLWIRE_OUTPUT_TERMINAL_CONNECTION_H
#define TILLWIRE_OUTPUT_TERMINAL_CONNECTION_H

#include "output/accept_retry.h"
#include "output/rejection_log.h"

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tillwire {

namespace text {
inline constexpr char kCreatingTerminalConnectionPrefix[] = "Creating terminal connection: ";
inline constexpr char kAcceptorBindFailedPrefix[] = "Acceptor bind failed: Port ";
inline constexpr char kAcceptorBindFailedError[] = " Error: ";
inline constexpr char kTerminalPortPrefix[] = "Terminal port ";
inline constexpr char kAcceptFailed[] = " Accept failed: ";
inline constexpr char kAcceptedConnectionPrefix[] = "Accepted connection from NVR address: ";
inline constexpr char kAcceptedConnectionPort[] = " Port: ";
inline constexpr char kWriteFailed[] = " Write failed: ";
inline constexpr char kSendQueueFull[] = " NVR is not keeping up: dropping payloads until it catches up";
inline constexpr char kNvrReplaced[] = " NVR connected again: closing its previous connection";
}  // namespace text

// The TCP port that an NvrPort text names: the text read as atoi reads it
// (leading blanks, a sign, digits up to the first other character, 0 when
// there are none; out-of-range values saturate), keeping the low 16 bits.
// So "70000" is 4464 and "abc" is 0, for which the system picks a port.
unsigned short NvrPortNumber(const std::string& nvrPort);

class TerminalConnection {
 public:
  // Logs its creation, then opens, binds and listens on the port at once and
  // starts accepting. A port that cannot be opened is logged and leaves the
  // terminal without a listener for good; it never fails outward.
  // Its rejection lines count against rejectionLinesInAll as well as against
  // its own bound; that quota must outlive the terminal.
  TerminalConnection(boost::asio::io_service& eventQueue, const std::string& nvrAddress,
                     const std::string& nvrPort, RejectionQuota& rejectionLinesInAll);
  // Closes the listener and the NVR connection. The event queue must not be
  // driven after this: handlers still pending on it refer to this object.
  ~TerminalConnection();
  TerminalConnection(const TerminalConnection&) = delete;
  TerminalConnection& operator=(const TerminalConnection&) = delete;

  // Payloads larger than this are cut to it (no IPv4 packet carries more).
  static constexpr int kMaxPayload = 65535;
  // Payloads waiting behind the write in flight are bounded by this many
  // bytes; a payload that does not fit is dropped.
  static constexpr std::size_t kMaxWaiting = 1048576;
  // One write hands the system at most this many bytes, so that a slow NVR
  // shows its progress write by write.
  static constexpr std::size_t kMaxWrite = 65536;

  // Hands a payload to the connected NVR: copies its first length bytes (at
  // most kMaxPayload) and returns at once; the write starts when the event
  // queue is next served, with every payload sent meanwhile, after the writes
  // already started, and goes on in the background. Returns false, silently,
  // when no NVR is connected; true otherwise, also for a length below 1,
  // which sends nothing, and for a payload dropped because the NVR is not
  // keeping up (logged once per such episode).
  bool Send(const unsigned char* data, int length);

  // True while a write to the NVR is under way or payloads wait for one.
  bool Sending() const { return writing; }
  // The bytes waiting behind the write in flight.
  std::size_t WaitingBytes() const { return waiting.size(); }
  // Bytes the NVR has taken so far in the run, over all its connections:
  // those written, less those the system still holds unacknowledged where it
  // tells. It grows as the NVR's system acknowledges bytes: for an NVR that
  // reads slowly, in steps some seconds apart.
  std::uint64_t BytesTaken() const;

  // Where the listener is bound (port 0 when it is not listening).
  boost::asio::ip::tcp::endpoint ListeningEndpoint() const;
  // The listener's socket, for inspecting its options.
  boost::asio::ip::tcp::acceptor::native_handle_type ListenerHandle() {
    return acceptor.native_handle();
  }
  // The NVR connection's socket, for inspecting its options; none while no
  // NVR is connected.
  std::optional<boost::asio::ip::tcp::socket::native_handle_type> ConnectionHandle() {
    if (!connection) return std::nullopt;
    return connection->native_handle();
  }

 private:
  void StartAccept();
  void HandleAccept(const boost::system::error_code& error);
  void Admit();
  void CloseConnection();
  void WriteWaiting(std::uint64_t writeConnection);
  void StartWrite();
  void HandleWrite(std::uint64_t writeConnection, const boost::system::error_code& error,
                   std::size_t written);

  boost::asio::io_service& eventQueue;
  boost::asio::ip::tcp::acceptor acceptor;
  boost::asio::ip::tcp::endpoint peerEndpoint;
  // The pending accept's socket, while an accept is pending.
  std::unique_ptr<boost::asio::ip::tcp::socket> incoming;
  // The connected NVR, or none.
  std::unique_ptr<boost::asio::ip::tcp::socket> connection;
  const std::string nvrAddress;
  const std::string nvrPort;
  AcceptRetry acceptRetry;
  RejectionLog rejectionLog;

  // One write in flight at a time, from inFlight, which nothing changes until
  // all of it is written; payloads gather in waiting and go out together
  // next. inFlightDone bytes of inFlight are written. writing is true from the
  // first payload's Send until the NVR has taken everything.
  std::vector<unsigned char> inFlight;
  std::size_t inFlightDone = 0;
  std::vector<unsigned char> waiting;
  std::uint64_t bytesWritten = 0;
  bool writing = false;
  // Payloads were dropped (and that was logged) since the NVR last caught up.
  bool dropping = false;
  // Numbers the accepted connections, so that a completion of a connection
  // already closed never acts on the next one.
  std::uint64_t connectionNumber = 0;
};

}  // namespace tillwire

#endif
