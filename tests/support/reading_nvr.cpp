#include "support/reading_nvr.h"

#include "support/socket_settings.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <algorithm>
#include <vector>

namespace tillwire {

ReadingNvr::ReadingNvr(unsigned short port, std::size_t chunk, std::chrono::microseconds pause,
                       bool smallBuffers)
    : reader([this, port, chunk, pause, smallBuffers] {
        boost::asio::io_context service;
        boost::asio::ip::tcp::socket socket(service, boost::asio::ip::tcp::v4());
        if (smallBuffers) MakeBuffersSmall(socket);
        socket.connect({boost::asio::ip::address_v4::loopback(), port});
        if (chunk == 0) {
          while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(10));
          return;
        }
        std::vector<char> buffer(std::max<std::size_t>(chunk, 65536));
        boost::system::error_code error;
        while (!error) {
          const bool paced = !fullSpeed;
          const std::size_t count = socket.read_some(
              boost::asio::buffer(buffer.data(), paced ? chunk : buffer.size()), error);
          received.append(buffer.data(), count);
          if (paced && pause.count() > 0) std::this_thread::sleep_for(pause);
        }
      }) {}

ReadingNvr::~ReadingNvr() {
  released = true;
  if (reader.joinable()) reader.join();
}

const std::string& ReadingNvr::Received() {
  if (reader.joinable()) reader.join();
  return received;
}

}  // namespace tillwire
