#include "support/socket_settings.h"

#include <winsock2.h>

namespace tillwire {

// Windows takes the maximum segment size from the path, not from the client.
void MakeBuffersSmall(boost::asio::ip::tcp::socket& socket) {
  socket.set_option(boost::asio::socket_base::receive_buffer_size(4096));
}

bool HoldsPortAlone(boost::asio::ip::tcp::acceptor::native_handle_type listener) {
  int value = 0;
  int size = sizeof value;
  return getsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char*>(&value),
                    &size) == 0 &&
         value != 0;
}

}  // namespace tillwire
