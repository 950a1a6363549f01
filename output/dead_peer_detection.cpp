#include "output/dead_peer_detection.h"

#include "platform/socket_options.h"

namespace tillwire {

void DetectDeadPeer(boost::asio::ip::tcp::socket& socket) {
  GiveUpSilentPeer(socket, kKeepAliveIdle, kDeadPeerTimeout);
}

}  // namespace tillwire
