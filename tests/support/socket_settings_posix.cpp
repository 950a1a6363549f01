#include "support/socket_settings.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace tillwire {

void MakeBuffersSmall(boost::asio::ip::tcp::socket& socket) {
  socket.set_option(boost::asio::socket_base::receive_buffer_size(4096));
  const int segmentSize = 500;
  setsockopt(socket.native_handle(), IPPROTO_TCP, TCP_MAXSEG, &segmentSize, sizeof segmentSize);
}

bool HoldsPortAlone(boost::asio::ip::tcp::acceptor::native_handle_type listener) {
  int value = 0;
  socklen_t size = sizeof value;
  return getsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &value, &size) == 0 && value != 0;
}

}  // namespace tillwire
