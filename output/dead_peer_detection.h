// Noticing an NVR that went away without a word (power cut, cable pulled):
// no FIN or RST arrives, and without help the system would keep such a
// connection for many minutes, idle or retransmitting.
#ifndef TILLWIRE_OUTPUT_DEAD_PEER_DETECTION_H
#define TILLWIRE_OUTPUT_DEAD_PEER_DETECTION_H

#include <boost/asio/ip/tcp.hpp>

#include <chrono>

namespace tillwire {

// An idle connection is probed after this long without traffic.
inline constexpr std::chrono::seconds kKeepAliveIdle(10);
// A peer that has answered nothing for this long is given up.
inline constexpr std::chrono::seconds kDeadPeerTimeout(20);

// Turns on TCP keep-alive on a connected socket, probing after kKeepAliveIdle
// so that an idle connection to a dead peer ends after about
// kDeadPeerTimeout; on Linux also bounds the time that sent data may stay
// unacknowledged to kDeadPeerTimeout (TCP_USER_TIMEOUT). On Windows data
// in flight is bounded by the system's own retransmission limit. The next
// write on a connection ended this way fails. Best effort: an option the
// system refuses leaves the connection as it was.
void DetectDeadPeer(boost::asio::ip::tcp::socket& socket);

}  // namespace tillwire

#endif
