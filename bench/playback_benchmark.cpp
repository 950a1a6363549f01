// Playback throughput: frames per second of the engine's capture loop over a
// capture of a million mixed frames, with ten terminals whose NVRs are
// connected and reading, against a bare pcap_next_ex loop over the same file.
// Checks that every NVR received exactly the bytes it should.
//
//   process_playback_benchmark [frames]
#include "capture/engine.h"
#include "config/terminal.h"
#include "support/capture_writer.h"
#include "support/frame_builder.h"
#include "support/nvr_client.h"
#include "support/temp_directory.h"

#include <boost/asio/read.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

const int kTerminals = 10;

// A running digest of a byte stream, so that gigabytes need no storage.
struct Digest {
  std::uint64_t bytes = 0;
  std::uint64_t hash = 1469598103934665603ull;
  void Add(const char* data, std::size_t size) {
    bytes += size;
    for (std::size_t i = 0; i < size; ++i) {
      hash = (hash ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
    }
  }
  bool operator==(const Digest& other) const {
    return bytes == other.bytes && hash == other.hash;
  }
};

// Writes the capture and returns what each terminal's NVR should receive.
std::vector<Digest> WriteCapture(const std::string& path, int frames) {
  std::vector<Digest> expected(kTerminals);
  CaptureWriter capture(path);
  std::vector<std::vector<unsigned char>> others;
  FrameSpec ipv6;
  ipv6.etherType = 0x86DD;
  ipv6.payload = std::string(300, 'v');
  others.push_back(BuildFrame(ipv6));
  others.push_back(ArpFrame());
  FrameSpec unmatched;
  unmatched.srcAddress = 0x0A090909;
  unmatched.dstAddress = 0x0A090908;
  unmatched.payload = std::string(900, 'u');
  others.push_back(BuildFrame(unmatched));
  unmatched.protocol = 17;
  others.push_back(BuildFrame(unmatched));
  for (int n = 0; n < frames; ++n) {
    if (n % 2 == 1) {
      capture.Write(others[(n / 2) % others.size()]);
      continue;
    }
    const int terminal = (n / 2) % kTerminals;
    FrameSpec spec;
    spec.srcAddress = 0x0A000100u + static_cast<std::uint32_t>(terminal);
    spec.protocol = n % 4 == 0 ? 6 : 17;
    spec.payload = "frame " + std::to_string(n) + " " + std::string(40 + n % 200, 'p') + "\n";
    capture.Write(BuildFrame(spec));
    expected[static_cast<std::size_t>(terminal)].Add(spec.payload.data(), spec.payload.size());
  }
  return expected;
}

double Seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

double BareLoopRate(const std::string& path) {
  char errorText[PCAP_ERRBUF_SIZE];
  pcap_t* handle = pcap_open_offline(path.c_str(), errorText);
  pcap_pkthdr* header;
  const unsigned char* data;
  long frames = 0;
  const auto begin = std::chrono::steady_clock::now();
  while (pcap_next_ex(handle, &header, &data) == 1) ++frames;
  const double rate = frames / Seconds(std::chrono::steady_clock::now() - begin);
  pcap_close(handle);
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 1000000;
  TempDirectory directory;
  const std::string path = directory.Path() + "mixed.pcap";
  const std::vector<Digest> expected = WriteCapture(path, frames);

  boost::asio::io_service eventQueue;
  TerminalTable table;
  for (int t = 0; t < kTerminals; ++t) {
    const std::string src = "10.0.1." + std::to_string(t);
    table.emplace(TerminalKey(src, "", "", ""),
                  std::unique_ptr<Terminal>(new Terminal(eventQueue, src, "", "", "", "127.0.0.1",
                                                         "0x" + std::to_string(t))));
  }
  const TerminalMatcher matcher(table);

  // Each NVR reads on a thread of its own until the engine closes it.
  std::vector<Digest> received(kTerminals);
  std::vector<std::thread> readers;
  for (int t = 0; t < kTerminals; ++t) {
    const unsigned short port =
        table.at("10.0.1." + std::to_string(t) + ":::")->channel->ListeningEndpoint().port();
    readers.emplace_back([port, &digest = received[static_cast<std::size_t>(t)]] {
      boost::asio::io_service service;
      boost::asio::ip::tcp::socket socket(service);
      socket.connect({boost::asio::ip::address_v4::loopback(), port});
      std::vector<char> buffer(1 << 16);
      boost::system::error_code error;
      while (!error) digest.Add(buffer.data(), socket.read_some(boost::asio::buffer(buffer), error));
    });
  }
  PollUntil(eventQueue, [&] {
    for (const auto& entry : table) {
      if (!entry.second->channel->Send(reinterpret_cast<const unsigned char*>(""), 0)) return false;
    }
    return true;
  });

  char errorText[PCAP_ERRBUF_SIZE];
  pcap_t* handle = pcap_open_offline(path.c_str(), errorText);
  const boost::asio::io_service::work keepServing(eventQueue);
  const auto begin = std::chrono::steady_clock::now();
  RunCaptureLoop(handle, eventQueue, matcher);
  const double engineSeconds = Seconds(std::chrono::steady_clock::now() - begin);
  DrainWrites(eventQueue, table, std::chrono::seconds(30));
  pcap_close(handle);
  table.clear();
  for (std::thread& reader : readers) reader.join();

  const double engineRate = frames / engineSeconds;
  const double bareRate = BareLoopRate(path);
  std::printf("frames: %d, terminals: %d\n", frames, kTerminals);
  std::printf("engine capture loop: %.0f frames/s\n", engineRate);
  std::printf("bare pcap_next_ex loop: %.0f frames/s\n", bareRate);
  std::printf("engine / bare: %.3f\n", engineRate / bareRate);
  int failures = 0;
  for (int t = 0; t < kTerminals; ++t) {
    if (!(received[static_cast<std::size_t>(t)] == expected[static_cast<std::size_t>(t)])) {
      std::printf("terminal %d: received %llu bytes, expected %llu, or different bytes\n", t,
                  static_cast<unsigned long long>(received[static_cast<std::size_t>(t)].bytes),
                  static_cast<unsigned long long>(expected[static_cast<std::size_t>(t)].bytes));
      ++failures;
    }
  }
  std::printf(failures == 0 ? "every NVR received every matched byte\n" : "BYTES LOST\n");
  return failures == 0 ? 0 : 1;
}
