// The one read loop (ReadFrames): what it answers at the end of a capture
// file and on a damaged one, and when it looks up from reading to call its
// policy, for scripted reads and for a capture session over real files.
#include "source/capture_session.h"
#include "source/read_loop.h"
#include "support/capture_writer.h"
#include "support/frame_builder.h"
#include "support/temp_directory.h"

#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tillwire {
namespace {

// A source that answers reads from a script, and a policy, both writing
// what happens into one list of events: the reads ("frame 0", "none",
// "error", "end"; a frame with its captured length), the looks ("look") and
// the read errors handed to the policy ("failed first", "failed again").
using Events = std::vector<std::string>;

struct Read {
  ReadResult result;
  std::uint32_t length = 0;  // of a frame
};

class ScriptedSource {
 public:
  ScriptedSource(std::vector<Read> script, Events& events)
      : script(std::move(script)), events(events) {}

  ReadResult Next(CapturedFrame& frame) {
    if (next == script.size()) {
      ADD_FAILURE() << "read after the script's end";
      return ReadResult::kEndOfFile;
    }
    const Read read = script[next++];
    switch (read.result) {
      case ReadResult::kFrame:
        frame.capturedLength = read.length;
        events.push_back("frame " + std::to_string(read.length));
        break;
      case ReadResult::kNoFrameYet:
        events.push_back("none");
        break;
      case ReadResult::kError:
        events.push_back("error");
        break;
      case ReadResult::kEndOfFile:
        events.push_back("end");
        break;
    }
    return read.result;
  }

 private:
  const std::vector<Read> script;
  Events& events;
  std::size_t next = 0;
};

class RecordingPolicy {
 public:
  RecordingPolicy(Events& events, bool readOnAfterError, int endAtLook)
      : events(events), readOnAfterError(readOnAfterError), endAtLook(endAtLook) {}

  void Serve() {
    EXPECT_FALSE(served) << "two services without a look between them";
    served = true;
  }
  bool Look(std::chrono::steady_clock::time_point) {
    EXPECT_TRUE(served) << "a look without its service first";
    served = false;
    events.push_back("look");
    return ++looks != endAtLook;
  }
  bool ReadFailed(bool episodeStart) {
    events.push_back(episodeStart ? "failed first" : "failed again");
    return readOnAfterError;
  }

 private:
  Events& events;
  const bool readOnAfterError;
  const int endAtLook;  // 0: never
  bool served = false;
  int looks = 0;
};

// The events without the looks that only the clock may have caused: those
// right after a frame too small to reach kLookBytes on its own (the frames
// of one script never add up to it).
Events WithoutClockLooks(const Events& events) {
  Events kept;
  for (const std::string& event : events) {
    const bool afterSmallFrame = !kept.empty() && kept.back().rfind("frame ", 0) == 0 &&
                                 kept.back() != "frame " + std::to_string(kLookBytes);
    if (event == "look" && afterSmallFrame) continue;
    kept.push_back(event);
  }
  return kept;
}

TEST(ReadLoop, LooksAndEndsAsItsReadsAndPolicyDecide) {
  const std::uint32_t big = kLookBytes;
  const Read frame{ReadResult::kFrame, 60};
  const Read bigFrame{ReadResult::kFrame, big};
  const Read none{ReadResult::kNoFrameYet};
  const Read error{ReadResult::kError};
  const Read end{ReadResult::kEndOfFile};
  const std::string bigText = "frame " + std::to_string(big);
  struct Case {
    const char* name;
    std::vector<Read> script;
    bool readOnAfterError;
    int endAtLook;  // the look whose Look answers false; 0: none
    Events expected;
    ReadEnd ending;
  };
  const Case cases[] = {
      {"frames to the end of the file, looked at first",
       {frame, frame, frame, end}, false, 0,
       {"look", "frame 60", "frame 60", "frame 60", "end"}, ReadEnd::kEndOfFile},
      {"a look after every read that found no frame",
       {none, frame, none, none, end}, false, 0,
       {"look", "none", "look", "frame 60", "none", "look", "none", "look", "end"},
       ReadEnd::kEndOfFile},
      {"a look after every 256 KiB of captured bytes",
       {bigFrame, bigFrame, frame, end}, false, 0,
       {"look", bigText, "look", bigText, "look", "frame 60", "end"}, ReadEnd::kEndOfFile},
      {"an episode of errors lasts until a read works; reading on, each is looked after",
       {error, error, none, error, frame, error, end}, true, 0,
       {"look", "error", "failed first", "look", "error", "failed again", "look", "none", "look",
        "error", "failed first", "look", "frame 60", "error", "failed first", "look", "end"},
       ReadEnd::kEndOfFile},
      {"a read error that the policy does not read on after ends the reading",
       {frame, error}, false, 0,
       {"look", "frame 60", "error", "failed first"}, ReadEnd::kReadError},
      {"the policy ends the reading at a look",
       {none, none, none}, false, 4,
       {"look", "none", "look", "none", "look", "none", "look"}, ReadEnd::kEndedByPolicy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Events events;
    ScriptedSource source(c.script, events);
    RecordingPolicy policy(events, c.readOnAfterError, c.endAtLook);
    std::size_t consumed = 0;
    const ReadEnd ending = ReadFrames(
        source,
        [&](const CapturedFrame& captured) {
          EXPECT_EQ(events.back(), "frame " + std::to_string(captured.capturedLength));
          ++consumed;
        },
        policy);
    EXPECT_EQ(ending, c.ending);
    EXPECT_EQ(WithoutClockLooks(events), c.expected);
    std::size_t frames = 0;
    for (const Read& read : c.script) frames += read.result == ReadResult::kFrame ? 1 : 0;
    EXPECT_EQ(consumed, frames);
  }
}

// A stop request is noticed at the next look, after the policy's service and
// before its look's work.
TEST(ReadLoop, AStopRequestEndsTheReadingAtALookAfterItsService) {
  struct Policy {
    std::atomic<int> services{0};
    std::atomic<int> looks{0};
    void Serve() { ++services; }
    bool Look(std::chrono::steady_clock::time_point) {
      ++looks;
      return true;
    }
    bool ReadFailed(bool) { return false; }
  } policy;
  struct QuietSource {
    ReadResult Next(CapturedFrame&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return ReadResult::kNoFrameYet;
    }
  } source;
  std::atomic<bool> stopped{false};
  boost::thread reader([&] {
    try {
      ReadFrames(source, [](const CapturedFrame&) {}, policy);
    } catch (const boost::thread_interrupted&) {
      stopped = true;
    }
  });
  while (policy.looks < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  reader.interrupt();
  reader.join();
  EXPECT_TRUE(stopped);
  EXPECT_EQ(policy.services, policy.looks + 1) << "the stop came between a service and its look";
}

// A policy that ends the reading at the first read error and counts what it
// was handed.
struct EndAtError {
  void Serve() {}
  bool Look(std::chrono::steady_clock::time_point) { return true; }
  bool ReadFailed(bool episodeStart) {
    failures.push_back(episodeStart);
    return false;
  }
  std::vector<bool> failures;
};

// Over a capture session: a capture file's frames with their lengths, times
// and link layer, then the end of the file; a file cut in its third record
// gives the two before it and a read error.
TEST(ReadLoop, ACaptureFileEndsAtItsEndOrAtItsDamage) {
  TempDirectory directory;
  const std::string path = directory.Path() + "cooked.pcap";
  std::vector<std::uint32_t> lengths;
  {
    CaptureWriter writer(path, DLT_LINUX_SLL);
    for (const char* payload : {"one\n", "two two\n", "three three three\n"}) {
      const std::vector<unsigned char> frame =
          Relink(BuildFrame(FieldsBetween(0x0A000001, 50000, 0x0A000002, 9100, payload)),
                 DLT_LINUX_SLL);
      writer.Write(frame);
      lengths.push_back(static_cast<std::uint32_t>(frame.size()));
    }
  }
  const std::string whole = ReadFile(path);
  const std::size_t thirdRecord = 24 + 16 + lengths[0] + 16 + lengths[1];
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t frames;
    ReadEnd ending;
  };
  const Case cases[] = {
      {"whole", whole, 3, ReadEnd::kEndOfFile},
      {"cut in its third record", whole.substr(0, thirdRecord + 16 + 10), 2, ReadEnd::kReadError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(path, c.bytes);
    char errorText[PCAP_ERRBUF_SIZE] = "";
    CaptureHandle handle(pcap_open_offline(path.c_str(), errorText));
    ASSERT_NE(handle, nullptr) << errorText;
    boost::asio::io_context eventQueue;
    CaptureSession session(std::move(handle), eventQueue, std::nullopt);
    EndAtError policy;
    std::vector<std::uint32_t> read;
    const ReadEnd ending = ReadFrames(
        session,
        [&](const CapturedFrame& frame) {
          EXPECT_EQ(frame.link, LinkLayer::kLinuxCooked);
          EXPECT_EQ(frame.seconds, 1796000000u);
          EXPECT_EQ(DecodeFrame(frame.bytes, frame.capturedLength, frame.link).kind,
                    FrameKind::kPayload);
          read.push_back(frame.capturedLength);
        },
        policy);
    EXPECT_EQ(ending, c.ending);
    EXPECT_EQ(read, std::vector<std::uint32_t>(lengths.begin(), lengths.begin() + c.frames));
    EXPECT_EQ(policy.failures,
              c.ending == ReadEnd::kReadError ? std::vector<bool>{true} : std::vector<bool>());
  }
}

}  // namespace
}  // namespace tillwire
