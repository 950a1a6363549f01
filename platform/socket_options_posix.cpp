#include "platform/socket_options.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace tillwire {

namespace {

const int kProbes = 5;

void SetTcpOption(int handle, int name, int value) {
  setsockopt(handle, IPPROTO_TCP, name, &value, sizeof value);
}

}  // namespace

void ClaimPortAlone(boost::asio::ip::tcp::acceptor& acceptor) {
  acceptor.set_option(boost::asio::socket_base::reuse_address(true));
}

void GiveUpSilentPeer(boost::asio::ip::tcp::socket& socket, std::chrono::seconds idle,
                      std::chrono::seconds deadAfter) {
  boost::system::error_code ignored;
  socket.set_option(boost::asio::socket_base::keep_alive(true), ignored);
  const int handle = socket.native_handle();
  SetTcpOption(handle, TCP_KEEPIDLE, static_cast<int>(idle.count()));
  SetTcpOption(handle, TCP_KEEPINTVL, static_cast<int>(((deadAfter - idle) / kProbes).count()));
  SetTcpOption(handle, TCP_KEEPCNT, kProbes);
  SetTcpOption(
      handle, TCP_USER_TIMEOUT,
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadAfter).count()));
}

}  // namespace tillwire
