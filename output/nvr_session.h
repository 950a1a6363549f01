// One accepted connection of a terminal's NVR, and the payloads written to it.
//
// A session writes the payloads handed to it as one plain byte stream, in the
// order of Send, unchanged: one write in flight at a time, with the payloads
// sent meanwhile waiting behind it (bounded: a payload that does not fit is
// dropped whole). The connection carries TCP keep-alive, so that an NVR that
// vanished is noticed even while nothing is written. A failed write is logged
// once and ends the session for good; so does Close. All of it runs on the
// engine's event queue, which only the engine's thread drives, so no lock is
// needed.
//
// The pending completions share the session's ownership, as in Asio's chat
// server: a completion that arrives after its session was closed, or replaced
// by a new connection of the NVR, finds its own session, ended, and does
// nothing; it never touches another connection.
#ifndef TILLWIRE_OUTPUT_NVR_SESSION_H
#define TILLWIRE_OUTPUT_NVR_SESSION_H

#include "output/delivery_counts.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tillwire {

class NvrSession : public std::enable_shared_from_this<NvrSession> {
 public:
  // Payloads larger than this are cut to it (no IPv4 packet carries more).
  static constexpr int kMaxPayload = 65535;
  // Payloads waiting behind the write in flight are bounded by this many
  // bytes; a payload that does not fit is dropped.
  static constexpr std::size_t kMaxWaiting = 1048576;
  // One write hands the system at most this many bytes, so that a slow NVR
  // shows its progress write by write.
  static constexpr std::size_t kMaxWrite = 65536;

  // Takes over connection, an accepted connection of the NVR, and turns on
  // its dead-peer detection. terminalPort ("Terminal port NVR:PORT") starts
  // the session's log lines. Made with std::make_shared only: the pending
  // completions hold it.
  NvrSession(boost::asio::io_context& eventQueue, boost::asio::ip::tcp::socket connection,
             const std::string& terminalPort);
  NvrSession(const NvrSession&) = delete;
  NvrSession& operator=(const NvrSession&) = delete;

  // Hands a payload to the NVR: copies its first length bytes (at most
  // kMaxPayload) and returns at once; the write starts when the event queue
  // is next served, with every payload sent meanwhile, after the writes
  // already started, and goes on in the background. Returns false, silently,
  // once the session has ended; true otherwise, also for a length below 1,
  // which sends nothing, and for a payload dropped because the NVR is not
  // keeping up (logged once per such episode).
  bool Send(const unsigned char* data, int length);

  // True while a write is under way or payloads wait for one.
  bool Sending() const { return writing; }
  // The bytes waiting behind the write in flight.
  std::size_t WaitingBytes() const { return waiting.size(); }
  // The bytes handed to the session and not written yet: the rest of the
  // write in flight and those waiting behind it; none once it has ended
  // (what was under way then is lost with the connection).
  std::size_t BytesUnderWay() const {
    return ended ? 0 : inFlight.size() - inFlightDone + waiting.size();
  }
  // Bytes the NVR has taken on this connection: those written, less those
  // the system still holds unacknowledged where it tells. Once the session
  // has ended, all those written.
  std::uint64_t BytesTaken() const;
  // What the session did with the payloads handed to it so far.
  const SessionCounts& Counts() const { return counts; }

  // Closes the connection, dropping what is under way; the session has ended.
  void Close();
  // False once the session has ended.
  bool Open() const { return !ended; }

  // The connection's socket, for inspecting its options.
  boost::asio::ip::tcp::socket::native_handle_type Handle() { return connection.native_handle(); }

 private:
  void WriteWaiting();
  void StartWrite();
  void HandleWrite(const boost::system::error_code& error, std::size_t written);

  boost::asio::io_context& eventQueue;
  boost::asio::ip::tcp::socket connection;
  const std::string terminalPort;

  // One write in flight at a time, from inFlight, which nothing changes until
  // all of it is written; payloads gather in waiting and go out together
  // next. inFlightDone bytes of inFlight are written. writing is true from the
  // first payload's Send until the NVR has taken everything.
  std::vector<unsigned char> inFlight;
  std::size_t inFlightDone = 0;
  std::vector<unsigned char> waiting;
  SessionCounts counts;
  bool writing = false;
  // Payloads were dropped (and that was logged) since the NVR last caught up.
  bool dropping = false;
  // Close was called or a write failed: nothing is written any more.
  bool ended = false;
};

}  // namespace tillwire

#endif
