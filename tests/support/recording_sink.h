// A sink for the frame router that keeps, per terminal, every byte handed to
// it, in order: the frame path seen without sockets.
#ifndef TILLWIRE_TESTS_SUPPORT_RECORDING_SINK_H
#define TILLWIRE_TESTS_SUPPORT_RECORDING_SINK_H

#include <cstddef>
#include <map>
#include <string>

namespace tillwire {

struct RecordingSink {
  void Deliver(std::size_t terminal, const unsigned char* data, int length) {
    received[terminal].append(reinterpret_cast<const char*>(data),
                              static_cast<std::size_t>(length));
  }

  // The bytes of each terminal that received any, by its index.
  std::map<std::size_t, std::string> received;
};

}  // namespace tillwire

#endif
