#include "output/dead_peer_detection.h"

#ifdef _WIN32
// mstcpip.h needs winsock2.h's types first.
#include <winsock2.h>

#include <mstcpip.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace tillwire {

namespace {

#ifdef _WIN32
// Windows sends a fixed ten probes before it gives up.
const int kProbes = 10;
#else
const int kProbes = 5;
#endif
// Spaced so that the last probe goes unanswered at kDeadPeerTimeout.
const std::chrono::seconds kProbeInterval =
    std::chrono::seconds(kDeadPeerTimeout - kKeepAliveIdle) / kProbes;

#ifdef _WIN32
void SetProbing(SOCKET handle) {
  tcp_keepalive values{};
  values.onoff = 1;
  values.keepalivetime = static_cast<ULONG>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kKeepAliveIdle).count());
  values.keepaliveinterval = static_cast<ULONG>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kProbeInterval).count());
  DWORD returned = 0;
  WSAIoctl(handle, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
           nullptr);
}
#else
void SetTcpOption(int handle, int name, int value) {
  setsockopt(handle, IPPROTO_TCP, name, &value, sizeof value);
}

void SetProbing(int handle) {
  SetTcpOption(handle, TCP_KEEPIDLE,
               static_cast<int>(std::chrono::seconds(kKeepAliveIdle).count()));
  SetTcpOption(handle, TCP_KEEPINTVL, static_cast<int>(kProbeInterval.count()));
  SetTcpOption(handle, TCP_KEEPCNT, kProbes);
  SetTcpOption(
      handle, TCP_USER_TIMEOUT,
      static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(kDeadPeerTimeout).count()));
}
#endif

}  // namespace

void DetectDeadPeer(boost::asio::ip::tcp::socket& socket) {
  boost::system::error_code ignored;
  socket.set_option(boost::asio::socket_base::keep_alive(true), ignored);
  SetProbing(socket.native_handle());
}

}  // namespace tillwire
