#include "output/nvr_listener.h"

#include "log/log_file.h"
#include "output/output_texts.h"
#include "platform/socket_options.h"

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

}  // namespace

unsigned short NvrPortNumber(const std::string& nvrPort) {
  // strtol saturates where atoi's overflow is undefined; both keep the sign.
  const long value = std::strtol(nvrPort.c_str(), nullptr, 10);
  return static_cast<unsigned short>(static_cast<unsigned long>(value) & 0xFFFFu);
}

NvrListener::NvrListener(boost::asio::io_context& eventQueue, const std::string& nvrAddress,
                         const std::string& nvrPort, RejectionQuota& rejectionLinesInAll)
    : eventQueue(eventQueue),
      acceptor(eventQueue),
      peerEndpoint(boost::asio::ip::tcp::v4(), 0),
      nvrAddress(nvrAddress),
      nvrPort(nvrPort),
      terminalPort(TerminalPortPrefix(nvrPort)),
      nvrTerminalPort(TerminalPortPrefix(nvrAddress, nvrPort)),
      acceptRetry(eventQueue, nvrPort, [this] { StartAccept(); }),
      rejectionLog(eventQueue, nvrPort, rejectionLinesInAll) {
  LogLine(text::CreatingTerminalConnection(nvrAddress, nvrPort));
  try {
    const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::tcp::v4(),
                                                  NvrPortNumber(nvrPort));
    acceptor.open(endpoint.protocol());
    ClaimPortAlone(acceptor);
    acceptor.bind(endpoint);
    acceptor.listen(boost::asio::socket_base::max_connections);
  } catch (const std::exception& error) {
    LogLine(text::AcceptorBindFailed(nvrPort, error.what()));
    boost::system::error_code ignored;
    acceptor.close(ignored);
    return;
  }
  StartAccept();
}

NvrListener::~NvrListener() {
  boost::system::error_code ignored;
  acceptor.close(ignored);
  EndSession();
}

boost::asio::ip::tcp::endpoint NvrListener::ListeningEndpoint() const {
  boost::system::error_code error;
  const boost::asio::ip::tcp::endpoint endpoint = acceptor.local_endpoint(error);
  return error ? boost::asio::ip::tcp::endpoint() : endpoint;
}

std::uint64_t NvrListener::BytesTaken() const {
  return bytesTakenBefore + (session ? session->BytesTaken() : 0);
}

SessionCounts NvrListener::Counts() const {
  SessionCounts counts = countsBefore;
  if (session) counts += session->Counts();
  return counts;
}

void NvrListener::StartAccept() {
  incoming.emplace(eventQueue);
  acceptor.async_accept(*incoming, peerEndpoint,
                        [this](const boost::system::error_code& error) { HandleAccept(error); });
}

// Accepting goes on whatever the outcome, except after a failure that does
// not pass by itself, or when the listener is closed.
void NvrListener::HandleAccept(const boost::system::error_code& error) {
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
    LogLine(text::AcceptFailed(terminalPort, error.message()));
    return;
  }
  acceptRetry.Succeeded();
  const std::string peerAddress = peerEndpoint.address().to_string();
  if (peerAddress == nvrAddress) {
    Admit();
  } else {
    ++rejected;
    rejectionLog.Rejected(peerAddress);
    boost::system::error_code ignored;
    incoming->close(ignored);
  }
  StartAccept();
}

// The NVR's new connection takes the place of the current one, which may be
// dead without the system knowing yet. What was under way to the old one is
// dropped with it, so the new one starts at the beginning of a payload.
void NvrListener::Admit() {
  if (session && session->Open()) {
    LogLine(text::NvrConnectedAgain(nvrTerminalPort));
  }
  EndSession();
  session = std::make_shared<NvrSession>(eventQueue, std::move(*incoming), nvrTerminalPort);
  LogLine(text::AcceptedConnection(nvrAddress, nvrPort));
}

// Closes the current session, if any, and keeps the count of what its NVR took.
void NvrListener::EndSession() {
  if (!session) return;
  session->Close();
  bytesTakenBefore += session->BytesTaken();
  countsBefore += session->Counts();
  session.reset();
}

}  // namespace tillwire
