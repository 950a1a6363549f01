// An NVR for tests: a TCP client that records what it receives.
//
// It runs on the same event queue as the code under test, so a test drives
// both with PollUntil and no thread of its own.
#ifndef TILLWIRE_TESTS_SUPPORT_NVR_CLIENT_H
#define TILLWIRE_TESTS_SUPPORT_NVR_CLIENT_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace tillwire {

class NvrClient {
 public:
  // Starts connecting to 127.0.0.1:port from localAddress (any port), and
  // reads whatever arrives once connected, unless told to wait for
  // StartReading (an NVR that has stopped reading).
  NvrClient(boost::asio::io_context& eventQueue, unsigned short port,
            const std::string& localAddress = "127.0.0.1", bool readAtOnce = true);
  // Starts connecting to server through a TCP socket that the caller has
  // opened (in another network namespace, say) and hands over; reads at once.
  NvrClient(boost::asio::io_context& eventQueue,
            boost::asio::ip::tcp::socket::native_handle_type openSocket,
            const boost::asio::ip::tcp::endpoint& server);
  ~NvrClient();

  bool Connected() const;
  // The server closed the connection, or it failed.
  bool Closed() const;
  const std::string& Received() const;
  // Closes the connection abruptly (RST), as an NVR that crashes.
  void Reset();
  // Starts reading, or reading again.
  void StartReading();
  // Reads nothing more once the read under way (of at most 64 KiB) is done,
  // as an NVR that pauses.
  void StopReading();

 private:
  struct State;
  std::shared_ptr<State> state;
};

// Polls the event queue until done() holds or the time is up; returns done().
bool PollUntil(boost::asio::io_context& eventQueue, const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// An NVR client on 127.0.0.1:port that connects as soon as something listens
// there: a refused connection is tried again until the timeout. The client
// is connected unless nothing listened in time.
std::unique_ptr<NvrClient> ConnectWhenListening(
    boost::asio::io_context& eventQueue, unsigned short port,
    std::chrono::milliseconds timeout = std::chrono::seconds(8));

// A TCP port that nothing uses at the moment of the call, and that no
// outgoing connection is likely to take before the test listens on it.
unsigned short FreePort();

}  // namespace tillwire

#endif
