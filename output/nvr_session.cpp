#include "output/nvr_session.h"

#include "log/log_file.h"
#include "output/output_texts.h"
#include "output/dead_peer_detection.h"
#include "output/unacknowledged_bytes.h"

#include <boost/asio/post.hpp>

#include <algorithm>

namespace tillwire {

NvrSession::NvrSession(boost::asio::io_context& eventQueue,
                       boost::asio::ip::tcp::socket connection, const std::string& terminalPort)
    : eventQueue(eventQueue), connection(std::move(connection)), terminalPort(terminalPort) {
  DetectDeadPeer(this->connection);
  // Room for the common case up front, so that sending does not allocate.
  inFlight.reserve(kMaxPayload);
  waiting.reserve(kMaxPayload);
}

std::uint64_t NvrSession::BytesTaken() const {
  if (ended) return counts.written;
  // SIOCOUTQ reads the socket without changing it; Asio's handle is not const.
  return counts.written - UnacknowledgedBytes(const_cast<boost::asio::ip::tcp::socket&>(connection));
}

void NvrSession::Close() {
  if (ended) return;
  ended = true;
  boost::system::error_code ignored;
  connection.close(ignored);
  inFlight.clear();
  inFlightDone = 0;
  waiting.clear();
  writing = false;
  dropping = false;
}

bool NvrSession::Send(const unsigned char* data, int length) {
  if (ended) return false;
  const std::size_t count = static_cast<std::size_t>(std::clamp(length, 0, kMaxPayload));
  if (count == 0) return true;
  if (!writing) {
    // The write starts when the engine next serves the event queue, so the
    // payloads of the frames read meanwhile go out with this one: one system
    // call for a whole batch of frames rather than one for its first frame
    // and one for the rest.
    writing = true;
    boost::asio::post(eventQueue, [self = shared_from_this()] { self->WriteWaiting(); });
  }
  if (waiting.size() + count > kMaxWaiting) {
    if (!dropping) {
      LogLine(text::NvrNotKeepingUp(terminalPort));
      dropping = true;
    }
    counts.droppedBytes += count;
    ++counts.droppedPayloads;
    return true;
  }
  waiting.insert(waiting.end(), data, data + count);
  return true;
}

// Starts writing all the payloads that wait, unless the session has ended
// since they were posted.
void NvrSession::WriteWaiting() {
  if (ended) return;
  inFlight.swap(waiting);
  waiting.clear();
  inFlightDone = 0;
  StartWrite();
}

// Writes the next part of inFlight, at most kMaxWrite bytes.
void NvrSession::StartWrite() {
  const std::size_t count = std::min(inFlight.size() - inFlightDone, kMaxWrite);
  connection.async_write_some(
      boost::asio::buffer(inFlight.data() + inFlightDone, count),
      [self = shared_from_this()](const boost::system::error_code& error, std::size_t written) {
        self->HandleWrite(error, written);
      });
}

void NvrSession::HandleWrite(const boost::system::error_code& error, std::size_t written) {
  // A write of a session ended since, or cancelled by its close.
  if (ended) return;
  if (error) {
    LogLine(text::WriteFailed(terminalPort, error.message()));
    Close();
    return;
  }
  counts.written += written;
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
  WriteWaiting();
}

}  // namespace tillwire
