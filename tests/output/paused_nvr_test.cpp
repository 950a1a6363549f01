// An NVR that stops reading for a minute while its system stays up: its
// system answers the window probes all along, so the connection must outlive
// the pause. Takes a little over a minute.
#include "output/terminal_connection.h"
#include "support/log_watch.h"
#include "support/nvr_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace tillwire;

namespace {

const std::size_t kPayloadSize = 4000;

// Payload n: its number in 8 digits, then a letter of its own.
std::string Payload(int n) {
  std::string bytes(kPayloadSize, static_cast<char>('A' + n % 26));
  bytes.replace(0, 8, std::to_string(10000000 + n));
  return bytes;
}

// The numbers of the whole payloads that make up stream, in their order;
// fails when the stream holds anything else (a payload cut or changed).
std::vector<int> PayloadNumbers(const std::string& stream) {
  std::vector<int> numbers;
  for (std::size_t offset = 0; offset < stream.size(); offset += kPayloadSize) {
    const int n = std::stoi(stream.substr(offset, 8)) - 10000000;
    if (stream.compare(offset, kPayloadSize, Payload(n)) != 0) {
      ADD_FAILURE() << "no whole payload at byte " << offset;
      break;
    }
    numbers.push_back(n);
  }
  return numbers;
}

TEST(PausedNvr, KeepsItsConnectionAndReceivesWholePayloadsInOrder) {
  LogWatch watch;
  boost::asio::io_context eventQueue;
  RejectionQuota rejectionLines(eventQueue);
  TerminalConnection terminal(eventQueue, "127.0.0.1", "0", rejectionLines);
  NvrClient nvr(eventQueue, terminal.ListeningEndpoint().port());
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return terminal.ConnectionHandle().has_value(); }));

  // About 4 MB a second, a payload each time the event queue is polled.
  int sent = 0;
  const auto sendFor = [&](std::chrono::milliseconds duration) {
    PollUntil(
        eventQueue,
        [&] {
          const std::string payload = Payload(sent++);
          terminal.Send(reinterpret_cast<const unsigned char*>(payload.data()),
                        static_cast<int>(payload.size()));
          return false;
        },
        duration);
  };
  sendFor(std::chrono::seconds(2));
  nvr.StopReading();
  sendFor(std::chrono::seconds(60));
  nvr.StartReading();
  sendFor(std::chrono::seconds(2));
  const int last = sent - 1;
  const bool lastArrived = PollUntil(eventQueue, [&] {
    return nvr.Received().size() >= kPayloadSize &&
           nvr.Received().compare(nvr.Received().size() - kPayloadSize, kPayloadSize,
                                  Payload(last)) == 0;
  });

  for (const std::string& text : watch.Texts()) {
    EXPECT_EQ(text.find(" Write failed: "), std::string::npos) << text;
  }
  EXPECT_FALSE(nvr.Closed());
  ASSERT_TRUE(lastArrived) << "the last payload did not arrive";
  ASSERT_EQ(nvr.Received().size() % kPayloadSize, 0u) << "a payload was cut";
  const std::vector<int> numbers = PayloadNumbers(nvr.Received());
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(numbers.front(), 0);
  EXPECT_TRUE(std::adjacent_find(numbers.begin(), numbers.end(), std::greater_equal<int>()) ==
              numbers.end())
      << "payloads reordered or repeated";
  EXPECT_LT(numbers.size(), static_cast<std::size_t>(sent)) << "none dropped: was there a pause?";
}

}  // namespace
