// The socket options that Tillwire sets on its NVR connections and
// listeners where the systems differ: how a listener owns its port, and how
// a connection to a peer that went silent is given up.
#ifndef TILLWIRE_PLATFORM_SOCKET_OPTIONS_H
#define TILLWIRE_PLATFORM_SOCKET_OPTIONS_H

#include <boost/asio/ip/tcp.hpp>

#include <chrono>

namespace tillwire {

// Makes an open listener, before it binds, its port's only owner; throws
// boost::system::system_error when the system refuses. On Windows the
// listener is exclusive (SO_EXCLUSIVEADDRUSE): SO_REUSEADDR would let any
// other socket bind the port as well and take the NVR's connections. On
// POSIX systems it reuses the address (SO_REUSEADDR), which only lets a new
// run bind while connections of the last one linger in TIME_WAIT; no second
// socket can listen on the port.
void ClaimPortAlone(boost::asio::ip::tcp::acceptor& acceptor);

// Turns on TCP keep-alive on a connected socket: the first probe after idle
// without traffic, the probes spaced so that a peer that answers none is
// given up at deadAfter (Windows sends a fixed ten probes; on POSIX systems
// five are sent). On Linux the time that sent data may stay unacknowledged,
// and that the peer's receive window may stay shut although it answers the
// probes, is bounded to deadAfter as well (TCP_USER_TIMEOUT); on Windows data
// in flight is bounded by the system's own retransmission limit, and a shut
// window is probed for as long as the peer answers. Best effort: an option
// the system refuses leaves the connection as it was.
void GiveUpSilentPeer(boost::asio::ip::tcp::socket& socket, std::chrono::seconds idle,
                      std::chrono::seconds deadAfter);

}  // namespace tillwire

#endif
