#include "support/reading_nvr.h"

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <vector>

ReadingNvr::ReadingNvr(unsigned short port, std::size_t chunk, std::chrono::microseconds pause)
    : reader([this, port, chunk, pause] {
        boost::asio::io_service service;
        boost::asio::ip::tcp::socket socket(service);
        socket.connect({boost::asio::ip::address_v4::loopback(), port});
        if (chunk == 0) {
          while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(10));
          return;
        }
        std::vector<char> buffer(chunk);
        boost::system::error_code error;
        while (!error) {
          const std::size_t count = socket.read_some(boost::asio::buffer(buffer), error);
          received.append(buffer.data(), count);
          if (pause.count() > 0) std::this_thread::sleep_for(pause);
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
