#include "output/terminal_connection.h"

#include "log/log_file.h"
#include "output/dead_peer_detection.h"
#include "output/send_queue.h"

#include <boost/asio/placeholders.hpp>
#include <boost/asio/post.hpp>
#include <boost/bind/bind.hpp>

#include <algorithm>
#include <cstdlib>
#include <exception>

namespace tillwire {

namespace {

// The accept was aborted by the local system (Windows ERROR_CONNECTION_ABORTED):
// like a cancelled accept, this is not a peer.
const int kConnectionAbortedByLocalSystem = 1236;

bool IsAbortedAccept(const boost::system::error_code& error) {
  return error == boost::asio::error::operation_aborted ||
         error.value() == kConnectionAbortedByLocalSystem;
}

#ifdef _WIN32
// Windows' SO_EXCLUSIVEADDRUSE as an Asio socket option.
class ExclusiveAddressUse {
 public:
  template <typename Protocol>
  int level(const Protocol&) const { return SOL_SOCKET; }
  template <typename Protocol>
  int name(const Protocol&) const { return SO_EXCLUSIVEADDRUSE; }
  template <typename Protocol>
  const int* data(const Protocol&) const { return &value; }
  template <typename Protocol>
  std::size_t size(const Protocol&) const { return sizeof value; }

 private:
  int value = 1;
};
#endif

// Makes the listener the port's only owner. On Windows SO_REUSEADDR would let
// any other socket bind the port as well and take the NVR's connections, so
// the listener is exclusive there. On POSIX systems address reuse only lets a
// new run bind while connections of the last one linger in TIME_WAIT; no
// second socket can listen on the port.
void ClaimPort(boost::asio::ip::tcp::acceptor& acceptor) {
#ifdef _WIN32
  acceptor.set_option(ExclusiveAddressUse());
#else
  acceptor.set_option(boost::asio::socket_base::reuse_address(true));
#endif
}

}  // namespace

unsigned short NvrPortNumber(const std::string& nvrPort) {
  // strtol saturates where atoi's overflow is undefined; both keep the sign.
  const long value = std::strtol(nvrPort.c_str(), nullptr, 10);
  return static_cast<unsigned short>(static_cast<unsigned long>(value) & 0xFFFFu);
}

TerminalConnection::TerminalConnection(boost::asio::io_service& eventQueue,
                                       const std::string& nvrAddress, const std::string& nvrPort,
                                       RejectionQuota& rejectionLinesInAll)
    : eventQueue(eventQueue),
      acceptor(eventQueue),
      peerEndpoint(boost::asio::ip::tcp::v4(), 0),
      nvrAddress(nvrAddress),
      nvrPort(nvrPort),
      acceptRetry(eventQueue, nvrPort, [this] { StartAccept(); }),
      rejectionLog(eventQueue, nvrPort, rejectionLinesInAll) {
  LogFile::Instance().StartLine() << text::kCreatingTerminalConnectionPrefix << nvrAddress << ":"
                                  << nvrPort << std::endl;
  try {
    const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::tcp::v4(),
                                                  NvrPortNumber(nvrPort));
    acceptor.open(endpoint.protocol());
    ClaimPort(acceptor);
    acceptor.bind(endpoint);
    acceptor.listen(boost::asio::socket_base::max_connections);
  } catch (const std::exception& error) {
    LogFile::Instance().StartLine() << text::kAcceptorBindFailedPrefix << nvrPort
                                    << text::kAcceptorBindFailedError << error.what()
                                    << std::endl;
    boost::system::error_code ignored;
    acceptor.close(ignored);
    return;
  }
  StartAccept();
}

TerminalConnection::~TerminalConnection() {
  boost::system::error_code ignored;
  acceptor.close(ignored);
  CloseConnection();
}

boost::asio::ip::tcp::endpoint TerminalConnection::ListeningEndpoint() const {
  boost::system::error_code error;
  const boost::asio::ip::tcp::endpoint endpoint = acceptor.local_endpoint(error);
  return error ? boost::asio::ip::tcp::endpoint() : endpoint;
}

std::uint64_t TerminalConnection::BytesTaken() const {
  return bytesWritten - (connection ? UnacknowledgedBytes(*connection) : 0);
}

void TerminalConnection::StartAccept() {
  incoming.reset(new boost::asio::ip::tcp::socket(eventQueue));
  acceptor.async_accept(*incoming, peerEndpoint,
                        boost::bind(&TerminalConnection::HandleAccept, this,
                                    boost::asio::placeholders::error));
}

// Accepting goes on whatever the outcome, except after a failure that does
// not pass by itself, or when the listener is closed.
void TerminalConnection::HandleAccept(const boost::system::error_code& error) {
  if (IsAbortedAccept(error)) {
    // No peer came of it; keep listening unless the listener itself is gone.
    if (acceptor.is_open()) StartAccept();
    return;
  }
  if (AcceptRetry::IsTransient(error)) {
    acceptRetry.Failed(error);
    return;
  }
  if (error) {
    LogFile::Instance().StartLine() << text::kTerminalPortPrefix << nvrPort << text::kAcceptFailed
                                    << error.message() << std::endl;
    return;
  }
  acceptRetry.Succeeded();
  const std::string peerAddress = peerEndpoint.address().to_string();
  if (peerAddress == nvrAddress) {
    Admit();
  } else {
    rejectionLog.Rejected(peerAddress);
    boost::system::error_code ignored;
    incoming->close(ignored);
  }
  StartAccept();
}

// The NVR's new connection takes the place of the current one, which may be
// dead without the system knowing yet. What was under way to the old one is
// dropped with it, so the new one starts at the beginning of a payload.
void TerminalConnection::Admit() {
  if (connection) {
    LogFile::Instance().StartLine() << text::kTerminalPortPrefix << nvrAddress << ":" << nvrPort
                                    << text::kNvrReplaced << std::endl;
    CloseConnection();
  }
  connection = std::move(incoming);
  DetectDeadPeer(*connection);
  LogFile::Instance().StartLine() << text::kAcceptedConnectionPrefix << nvrAddress
                                  << text::kAcceptedConnectionPort << nvrPort << std::endl;
  // Room for the common case up front, so that sending does not allocate.
  inFlight.reserve(kMaxPayload);
  waiting.reserve(kMaxPayload);
}

void TerminalConnection::CloseConnection() {
  if (!connection) return;
  boost::system::error_code ignored;
  connection->close(ignored);
  connection.reset();
  // Nothing lost on the way to this NVR is sent to the next connection.
  ++connectionNumber;
  inFlight.clear();
  inFlightDone = 0;
  waiting.clear();
  writing = false;
  dropping = false;
}

bool TerminalConnection::Send(const unsigned char* data, int length) {
  if (!connection || !connection->is_open()) return false;
  const std::size_t count = static_cast<std::size_t>(std::clamp(length, 0, kMaxPayload));
  if (count == 0) return true;
  if (!writing) {
    // The write starts when the engine next serves the event queue, so the
    // payloads of the frames read meanwhile go out with this one: one system
    // call for a whole batch of frames rather than one for its first frame
    // and one for the rest.
    writing = true;
    boost::asio::post(eventQueue,
                      boost::bind(&TerminalConnection::WriteWaiting, this, connectionNumber));
  }
  if (waiting.size() + count > kMaxWaiting) {
    if (!dropping) {
      LogFile::Instance().StartLine() << text::kTerminalPortPrefix << nvrAddress << ":" << nvrPort
                                      << text::kSendQueueFull << std::endl;
      dropping = true;
    }
    return true;
  }
  waiting.insert(waiting.end(), data, data + count);
  return true;
}

// Writes the next part of inFlight, at most kMaxWrite bytes.
void TerminalConnection::StartWrite() {
  writing = true;
  const std::size_t count = std::min(inFlight.size() - inFlightDone, kMaxWrite);
  connection->async_write_some(
      boost::asio::buffer(inFlight.data() + inFlightDone, count),
      boost::bind(&TerminalConnection::HandleWrite, this, connectionNumber,
                  boost::asio::placeholders::error, boost::asio::placeholders::bytes_transferred));
}

void TerminalConnection::HandleWrite(std::uint64_t writeConnection,
                                     const boost::system::error_code& error, std::size_t written) {
  // A write of a connection closed since, or cancelled by our own close.
  if (writeConnection != connectionNumber || error == boost::asio::error::operation_aborted) {
    return;
  }
  if (error) {
    LogFile::Instance().StartLine() << text::kTerminalPortPrefix << nvrAddress << ":" << nvrPort
                                    << text::kWriteFailed << error.message() << std::endl;
    CloseConnection();
    return;
  }
  bytesWritten += written;
  inFlightDone += written;
  if (inFlightDone < inFlight.size()) {
    StartWrite();
    return;
  }
  if (waiting.empty()) {
    // Caught up: a later overflow is a new episode, worth a line of its own.
    writing = false;
    dropping = false;
    return;
  }
  WriteWaiting(connectionNumber);
}

// Starts writing all the payloads that wait, unless their connection has
// been closed since.
void TerminalConnection::WriteWaiting(std::uint64_t writeConnection) {
  if (writeConnection != connectionNumber) return;
  inFlight.swap(waiting);
  waiting.clear();
  inFlightDone = 0;
  StartWrite();
}

}  // namespace tillwire
