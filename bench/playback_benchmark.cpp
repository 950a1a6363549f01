// Playback throughput: frames per second of the engine's capture loop over a
// capture of a million mixed frames, with ten terminals whose NVRs are
// connected and reading, against a bare pcap_next_ex loop over the same file
// and against the survey's reading of it (every conversation counted, matched
// by the same terminals). Checks that every NVR received exactly the bytes it
// should, and that the survey counted every payload byte.
//
//   playback_benchmark [frames]
#include "config/terminal.h"
#include "run/engine.h"
#include "support/capture_writer.h"
#include "support/frame_builder.h"
#include "support/nvr_client.h"
#include "support/reading_nvr.h"
#include "support/temp_directory.h"
#include "support/terminal_tables.h"
#include "survey/survey.h"
#include "survey/survey_report.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

using namespace tillwire;

namespace {

const int kTerminals = 10;

// Writes the capture and returns what each terminal's NVR should receive.
std::vector<std::string> WriteCapture(const std::string& path, int frames) {
  std::vector<std::string> expected(kTerminals);
  CaptureWriter capture(path);
  std::vector<std::vector<unsigned char>> others;
  FrameFields ipv6;
  ipv6.etherType = 0x86DD;
  ipv6.payload = std::string(300, 'v');
  others.push_back(BuildFrame(ipv6));
  others.push_back(ArpFrame());
  FrameFields unmatched;
  unmatched.srcAddress = 0x0A090909;
  unmatched.dstAddress = 0x0A090908;
  unmatched.payload = std::string(900, 'u');
  others.push_back(BuildFrame(unmatched));
  unmatched.protocol = 17;
  others.push_back(BuildFrame(unmatched));
  std::vector<std::uint32_t> sequences(kTerminals);
  for (int n = 0; n < frames; ++n) {
    if (n % 2 == 1) {
      capture.Write(others[(n / 2) % others.size()]);
      continue;
    }
    const int terminal = (n / 2) % kTerminals;
    FrameFields fields;
    fields.srcAddress = 0x0A000100u + static_cast<std::uint32_t>(terminal);
    fields.protocol = n % 4 == 0 ? 6 : 17;
    fields.payload = "frame " + std::to_string(n) + " " + std::string(40 + n % 200, 'p') + "\n";
    fields.tcpSequence = sequences[static_cast<std::size_t>(terminal)];
    sequences[static_cast<std::size_t>(terminal)] +=
        static_cast<std::uint32_t>(fields.payload.size());
    capture.Write(BuildFrame(fields));
    expected[static_cast<std::size_t>(terminal)] += fields.payload;
  }
  return expected;
}

double Seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

double BareLoopRate(const std::string& path) {
  char errorText[PCAP_ERRBUF_SIZE];
  const CaptureHandle handle(pcap_open_offline(path.c_str(), errorText));
  pcap_pkthdr* header;
  const unsigned char* data;
  long frames = 0;
  const auto begin = std::chrono::steady_clock::now();
  while (pcap_next_ex(handle.get(), &header, &data) == 1) ++frames;
  return frames / Seconds(std::chrono::steady_clock::now() - begin);
}

// The survey of the file as tillwire -survey makes it, reading and report,
// with the terminals' matcher; frames per second, and the payload bytes it
// counted.
double SurveyRate(const std::string& path, const TerminalTable& terminals,
                  const TerminalMatcher& matcher, std::uint64_t* payloadBytes) {
  char errorText[PCAP_ERRBUF_SIZE];
  boost::asio::io_context eventQueue;
  CaptureSession session(CaptureHandle(pcap_open_offline(path.c_str(), errorText)), eventQueue,
                         std::nullopt);
  SurveyRequest request;
  request.captureFile = path;
  const std::unique_ptr<ConversationTable> table(new ConversationTable(&matcher));
  const auto begin = std::chrono::steady_clock::now();
  ReadSurveyFrames(session, *table, request);
  table->SettleClients();
  const std::string report = SurveyReport(*table, &terminals, 50);
  const double rate = table->Frames() / Seconds(std::chrono::steady_clock::now() - begin);
  if (report.empty() || report.back() != '\n') std::printf("the survey made no whole report\n");
  *payloadBytes = table->Others().payloadBytes;
  for (const Conversation& conversation : table->Conversations()) {
    *payloadBytes += conversation.payloadBytes;
  }
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 1000000;
  TempDirectory directory;
  const std::string path = directory.Path() + "mixed.pcap";
  const std::vector<std::string> expected = WriteCapture(path, frames);

  boost::asio::io_context eventQueue;
  RejectionQuota rejectionLines(eventQueue);
  std::vector<TerminalRecord> records;
  for (int t = 0; t < kTerminals; ++t) {
    records.push_back(
        RecordOf({"10.0.1." + std::to_string(t), "", "", ""}, "0x" + std::to_string(t)));
  }
  const Tables tables = TablesOf(records);
  std::unique_ptr<TerminalConnections> connections(
      new TerminalConnections(tables, eventQueue, rejectionLines));
  const TerminalMatcher matcher(tables.terminalTable);

  // Each NVR reads on a thread of its own until the engine closes it.
  std::vector<std::unique_ptr<ReadingNvr>> nvrs;
  for (int t = 0; t < kTerminals; ++t) {
    const std::size_t index =
        IndexOf(tables.terminalTable, {"10.0.1." + std::to_string(t), "", "", ""});
    nvrs.emplace_back(new ReadingNvr((*connections)[index].ListeningEndpoint().port()));
  }
  PollUntil(eventQueue, [&] { return connections->AllNvrsConnected(); });

  char errorText[PCAP_ERRBUF_SIZE];
  CaptureHandle handle(pcap_open_offline(path.c_str(), errorText));
  const auto keepServing = boost::asio::make_work_guard(eventQueue);
  const auto begin = std::chrono::steady_clock::now();
  double engineSeconds = 0;
  {
    CaptureSession session(std::move(handle), eventQueue, std::nullopt);
    FlowTracker flows;
    FrameRouter<TerminalConnections> router(matcher, flows, *connections);
    PlaybackPacer pacer(eventQueue, *connections);
    RunCaptureLoop(session, eventQueue, router, &pacer);
    engineSeconds = Seconds(std::chrono::steady_clock::now() - begin);
    pacer.Drain();
  }
  connections.reset();

  const double engineRate = frames / engineSeconds;
  const double bareRate = BareLoopRate(path);
  // The terminals' bytes, the unmatched TCP segment's 900 bytes once (it is
  // the same segment every time) and every unmatched datagram's 900.
  std::uint64_t allPayloadBytes = 900;
  for (const std::string& bytes : expected) allPayloadBytes += bytes.size();
  for (int n = 1; n < frames; n += 2) allPayloadBytes += (n / 2) % 4 == 3 ? 900 : 0;
  std::uint64_t surveyedBytes = 0;
  const double surveyRate = SurveyRate(path, tables.terminalTable, matcher, &surveyedBytes);
  std::printf("frames: %d, terminals: %d\n", frames, kTerminals);
  std::printf("engine capture loop: %.0f frames/s\n", engineRate);
  std::printf("bare pcap_next_ex loop: %.0f frames/s\n", bareRate);
  std::printf("engine / bare: %.3f\n", engineRate / bareRate);
  std::printf("survey (reading and report): %.0f frames/s (survey / engine: %.3f)\n", surveyRate,
              surveyRate / engineRate);
  std::printf("survey time / bare time: %.2f\n", bareRate / surveyRate);
  int failures = 0;
  for (int t = 0; t < kTerminals; ++t) {
    const std::string& received = nvrs[static_cast<std::size_t>(t)]->Received();
    const std::string& wanted = expected[static_cast<std::size_t>(t)];
    if (received != wanted) {
      std::printf("terminal %d: received %zu bytes, expected %zu, or different bytes\n", t,
                  received.size(), wanted.size());
      ++failures;
    }
  }
  std::printf(failures == 0 ? "every NVR received every matched byte\n" : "BYTES LOST\n");
  if (surveyedBytes != allPayloadBytes) {
    std::printf("the survey counted %llu payload bytes, the capture holds %llu\n",
                static_cast<unsigned long long>(surveyedBytes),
                static_cast<unsigned long long>(allPayloadBytes));
    ++failures;
  }
  return failures == 0 ? 0 : 1;
}
