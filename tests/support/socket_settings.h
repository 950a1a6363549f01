// Socket options that the tests set on their own sockets, or read from the
// program's, where the systems differ.
#ifndef TILLWIRE_TESTS_SUPPORT_SOCKET_SETTINGS_H
#define TILLWIRE_TESTS_SUPPORT_SOCKET_SETTINGS_H

#include <boost/asio/ip/tcp.hpp>

namespace tillwire {

// Makes a client socket, before it connects, hold little ahead of its
// reads: a 4 KiB receive buffer, and where the system lets a client choose
// it (Linux), 500-byte segments, which the sender's buffer follows.
void MakeBuffersSmall(boost::asio::ip::tcp::socket& socket);

// Whether the option by which a listener holds its port alone is set on the
// listening socket: SO_EXCLUSIVEADDRUSE on Windows, SO_REUSEADDR elsewhere.
// False when it cannot be read.
bool HoldsPortAlone(boost::asio::ip::tcp::acceptor::native_handle_type listener);

}  // namespace tillwire

#endif
