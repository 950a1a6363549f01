#include "output/unacknowledged_bytes.h"

#ifdef __linux__
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

namespace tillwire {

std::size_t UnacknowledgedBytes(boost::asio::ip::tcp::socket& socket) {
#ifdef __linux__
  int count = 0;
  if (ioctl(socket.native_handle(), SIOCOUTQ, &count) == 0 && count > 0) {
    return static_cast<std::size_t>(count);
  }
#else
  (void)socket;
#endif
  return 0;
}

}  // namespace tillwire
