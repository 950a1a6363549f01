// What the system still holds of the bytes written to a connection.
#ifndef TILLWIRE_OUTPUT_UNACKNOWLEDGED_BYTES_H
#define TILLWIRE_OUTPUT_UNACKNOWLEDGED_BYTES_H

#include <boost/asio/ip/tcp.hpp>

#include <cstddef>

namespace tillwire {

// The bytes written to socket that its peer has not acknowledged yet, where
// the system tells (Linux); 0 elsewhere. A write completes once the system
// has taken the bytes into its own buffer, which may hold hundreds of KiB:
// this shows how a slow reader works through that buffer meanwhile.
std::size_t UnacknowledgedBytes(boost::asio::ip::tcp::socket& socket);

}  // namespace tillwire

#endif
