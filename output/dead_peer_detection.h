// Noticing an NVR that went away without a word (power cut, cable pulled):
// no FIN or RST arrives, and without help the system would keep such a
// connection for many minutes, idle or retransmitting.
#ifndef TILLWIRE_OUTPUT_DEAD_PEER_DETECTION_H
#define TILLWIRE_OUTPUT_DEAD_PEER_DETECTION_H

#include <boost/asio/ip/tcp.hpp>

#include <chrono>

namespace tillwire {

// An idle connection is probed after this long without traffic: a probe a
// minute costs nothing, and keeps firewalls and address translators on the
// way from forgetting a connection that is quiet for the night.
inline constexpr std::chrono::minutes kKeepAliveIdle(1);
// A peer that has answered nothing for this long is given up; on Linux also
// one that has acknowledged none of the bytes sent, or kept its receive
// window shut, for this long.
//
// Minutes, not seconds: an NVR that stops reading for a while (busy, paused
// by its operator) while its system stays up answers the window probes, and
// it keeps its connection meanwhile; the terminal drops whole payloads once
// 1 MiB waits, and the NVR's stream goes on at the start of a payload when it
// reads again. Cutting such a connection would end its stream inside a
// payload and lose the megabytes already handed to the system. An NVR that
// restarts is served at once by the replacement of its connection when it
// connects again, so it never waits for this limit; only an NVR that vanishes
// and never comes back does, and five minutes bound that well enough.
inline constexpr std::chrono::minutes kDeadPeerTimeout(5);

// Turns on TCP keep-alive on a connected socket, probing after kKeepAliveIdle
// so that an idle connection to a dead peer ends after about
// kDeadPeerTimeout; on Linux also bounds the time that sent data may stay
// unacknowledged, and that the peer's receive window may stay shut although
// the peer answers the probes, to kDeadPeerTimeout (GiveUpSilentPeer in
// platform/socket_options.h tells what each system does). The next write on a
// connection ended this way fails. Best effort: an option the system refuses
// leaves the connection as it was.
void DetectDeadPeer(boost::asio::ip::tcp::socket& socket);

}  // namespace tillwire

#endif
