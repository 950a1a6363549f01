#include "support/nvr_client.h"

#include <array>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>

namespace tillwire {

struct NvrClient::State : std::enable_shared_from_this<NvrClient::State> {
  explicit State(boost::asio::io_context& eventQueue) : socket(eventQueue) {}

  void Read() {
    auto self = shared_from_this();
    readPending = true;
    socket.async_read_some(boost::asio::buffer(buffer),
                           [self](const boost::system::error_code& error, std::size_t count) {
                             self->readPending = false;
                             self->received.append(self->buffer.data(), count);
                             if (error) {
                               self->closed = true;
                               return;
                             }
                             if (self->reading) self->Read();
                           });
  }

  void Connect(const boost::asio::ip::tcp::endpoint& server) {
    auto self = shared_from_this();
    socket.async_connect(server, [self](const boost::system::error_code& error) {
      if (error) {
        self->closed = true;
        return;
      }
      self->connected = true;
      if (self->reading) self->Read();
    });
  }

  boost::asio::ip::tcp::socket socket;
  std::array<char, 65536> buffer;
  std::string received;
  bool connected = false;
  bool closed = false;
  bool reading = false;
  bool readPending = false;
};

NvrClient::NvrClient(boost::asio::io_context& eventQueue, unsigned short port,
                     const std::string& localAddress, bool readAtOnce)
    : state(std::make_shared<State>(eventQueue)) {
  state->reading = readAtOnce;
  state->socket.open(boost::asio::ip::tcp::v4());
  state->socket.bind(
      boost::asio::ip::tcp::endpoint(boost::asio::ip::address::from_string(localAddress), 0));
  state->Connect({boost::asio::ip::address_v4::loopback(), port});
}

NvrClient::NvrClient(boost::asio::io_context& eventQueue,
                     boost::asio::ip::tcp::socket::native_handle_type openSocket,
                     const boost::asio::ip::tcp::endpoint& server)
    : state(std::make_shared<State>(eventQueue)) {
  state->reading = true;
  state->socket.assign(boost::asio::ip::tcp::v4(), openSocket);
  state->Connect(server);
}

NvrClient::~NvrClient() {
  boost::system::error_code ignored;
  state->socket.close(ignored);
}

bool NvrClient::Connected() const { return state->connected; }
bool NvrClient::Closed() const { return state->closed; }
const std::string& NvrClient::Received() const { return state->received; }

void NvrClient::StartReading() {
  state->reading = true;
  if (state->connected && !state->readPending && !state->closed) state->Read();
}

void NvrClient::StopReading() { state->reading = false; }

void NvrClient::Reset() {
  boost::system::error_code ignored;
  state->socket.set_option(boost::asio::socket_base::linger(true, 0), ignored);
  state->socket.close(ignored);
}

std::unique_ptr<NvrClient> ConnectWhenListening(boost::asio::io_context& eventQueue,
                                                unsigned short port,
                                                std::chrono::milliseconds timeout) {
  std::unique_ptr<NvrClient> nvr;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    nvr = std::make_unique<NvrClient>(eventQueue, port);
    PollUntil(eventQueue, [&] { return nvr->Connected() || nvr->Closed(); });
    if (nvr->Connected()) break;
    // Refused: the program has not bound the port yet.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  return nvr;
}

bool PollUntil(boost::asio::io_context& eventQueue, const std::function<bool()>& done,
               std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    eventQueue.poll();
    eventQueue.restart();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Picked at random below the systems' ranges of ephemeral ports, where the
// outgoing connections of tests running alongside take theirs, and tried.
unsigned short FreePort() {
  static std::mt19937 random{std::random_device{}()};
  boost::asio::io_context eventQueue;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const auto port =
        static_cast<unsigned short>(std::uniform_int_distribution<int>(20000, 32000)(random));
    boost::asio::ip::tcp::acceptor probe(eventQueue);
    boost::system::error_code error;
    probe.open(boost::asio::ip::tcp::v4(), error);
    probe.bind({boost::asio::ip::address_v4::any(), port}, error);
    if (!error) return port;
  }
  throw std::runtime_error("no free TCP port between 20000 and 32000");
}

}  // namespace tillwire
