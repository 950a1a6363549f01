#include "platform/socket_options.h"

// mstcpip.h needs winsock2.h's types first.
#include <winsock2.h>

#include <mstcpip.h>

namespace tillwire {

namespace {

// Windows sends a fixed ten probes before it gives up.
const int kProbes = 10;

// SO_EXCLUSIVEADDRUSE as an Asio socket option.
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

ULONG Milliseconds(std::chrono::seconds duration) {
  return static_cast<ULONG>(
      std::chrono::duration_cast<std::chrono::milliseconds>(duration).count());
}

}  // namespace

void ClaimPortAlone(boost::asio::ip::tcp::acceptor& acceptor) {
  acceptor.set_option(ExclusiveAddressUse());
}

void GiveUpSilentPeer(boost::asio::ip::tcp::socket& socket, std::chrono::seconds idle,
                      std::chrono::seconds deadAfter) {
  boost::system::error_code ignored;
  socket.set_option(boost::asio::socket_base::keep_alive(true), ignored);
  tcp_keepalive values{};
  values.onoff = 1;
  values.keepalivetime = Milliseconds(idle);
  values.keepaliveinterval = Milliseconds((deadAfter - idle) / kProbes);
  DWORD returned = 0;
  WSAIoctl(socket.native_handle(), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0,
           &returned, nullptr, nullptr);
}

}  // namespace tillwire
