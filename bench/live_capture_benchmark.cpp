// Live capture of a busy mirror port: Tillwire beside tcpdump.
//
// Writes the capture of a busy mirror port (one frame in a hundred belongs to
// one of ten terminals, whose receipt streams are TCP), creates a network
// namespace joined to this machine by a veth pair, and runs in it, at the
// same time and on the same end of the pair, Tillwire (live capture, with its
// prefilter and an NVR reading for every terminal) and `tcpdump -w /dev/null`
// with the same filter expression and buffer. tcpreplay then sends the
// capture into the pair as fast as it can. Reported: the replay's rate, each
// program's CPU seconds per million frames sent, the share of terminal bytes
// that Tillwire's NVRs received (each exactly once), and what tcpdump
// captured and lost. Needs root, tcpreplay and tcpdump (scripts/install-deps.sh).
//
//   live_capture_benchmark [frames]
#include "capture/capture_filter.h"
#include "source/capture_source.h"
#include "support/capture_writer.h"
#include "support/frame_builder.h"
#include "support/log_watch.h"
#include "support/network_namespace.h"
#include "support/reading_nvr.h"
#include "support/temp_directory.h"
#include "support/terminal_tables.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

using namespace tillwire;

namespace {

const int kTerminals = 10;
const std::uint32_t kFirstTill = 0x0AD40101;     // 10.212.1.1
const std::uint32_t kFirstPrinter = 0x0AD40201;  // 10.212.2.1

// Writes the capture; returns what each terminal's NVR should receive.
std::vector<std::string> WriteMirrorCapture(const std::string& path, int frames) {
  std::mt19937 random(2026);
  std::vector<std::string> expected(kTerminals);
  std::vector<std::uint32_t> sequences(kTerminals, 0xFFFF0000u);
  CaptureWriter capture(path);
  for (int n = 0; n < frames; ++n) {
    FrameFields fields;
    if (n % 100 == 50) {
      const std::size_t till = random() % kTerminals;
      fields.srcAddress = kFirstTill + static_cast<std::uint32_t>(till);
      fields.dstAddress = kFirstPrinter + static_cast<std::uint32_t>(till);
      fields.srcPort = static_cast<std::uint16_t>(50000 + till);
      fields.payload = "receipt line " + std::to_string(n) + " " +
                       std::string(60 + random() % 200, static_cast<char>('a' + till)) + "\n";
      fields.tcpSequence = sequences[till];
      sequences[till] += static_cast<std::uint32_t>(fields.payload.size());
      expected[till] += fields.payload;
      capture.Write(BuildFrame(fields));
      continue;
    }
    if (n % 50 == 7) {
      capture.Write(ArpFrame());
      continue;
    }
    // Everyone else on the mirror port: office and guest traffic.
    fields.srcAddress = 0x0AD40300u + random() % 0x3000;
    fields.dstAddress = 0x0AD40300u + random() % 0x3000;
    fields.protocol = random() % 4 == 0 ? 17 : 6;
    fields.srcPort = static_cast<std::uint16_t>(1024 + random() % 60000);
    fields.dstPort = random() % 2 ? 443 : 80;
    fields.tcpSequence = static_cast<std::uint32_t>(random());
    fields.payload = std::string(random() % 8 == 0 ? 1200 : random() % 200, 'x');
    if (random() % 20 == 0) fields.vlanId = 30;
    capture.Write(BuildFrame(fields));
  }
  return expected;
}

std::string TerminalsXml(const std::string& adapterAddress, const std::vector<int>& ports) {
  std::string xml = "<Tillwire><Network SniffAdapterAddress=\"" + adapterAddress +
                    "\"><NVR Address=\"127.0.0.1\"/>";
  for (int t = 0; t < kTerminals; ++t) {
    xml += "<Terminal SrcAddress=\"" + Ipv4Text(kFirstTill + static_cast<std::uint32_t>(t)) +
           "\" DstPort=\"9100\" NvrPort=\"" + std::to_string(ports[static_cast<std::size_t>(t)]) +
           "\"/>";
  }
  return xml + "</Network></Tillwire>";
}

// The expression Tillwire sets for these terminals, for tcpdump.
std::string FilterExpression() {
  std::vector<TerminalRecord> records;
  for (int t = 0; t < kTerminals; ++t) {
    const std::string till = Ipv4Text(kFirstTill + static_cast<std::uint32_t>(t));
    records.push_back(RecordOf({till, "", "", "9100"}, "x"));
  }
  return CaptureFilterExpression(TerminalMatcher(TableOf(records)), DLT_EN10MB);
}

// Starts a program with its output in files; in the network namespace netns
// when that is a descriptor, else in the caller's.
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& output, int netns = -1) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (netns >= 0 && setns(netns, CLONE_NEWNET) != 0) _exit(126);
  const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(out, 1);
  dup2(out, 2);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

// CPU time of a running process over all its threads, in seconds, to the
// nanosecond (the scheduler's run time; the clock ticks of /proc/PID/stat are
// too coarse for a program that does little).
double CpuSeconds(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task/";
  DIR* directory = opendir(tasks.c_str());
  if (directory == nullptr) return 0;
  unsigned long long nanoseconds = 0;
  while (const dirent* task = readdir(directory)) {
    if (task->d_name[0] == '.') continue;
    std::ifstream schedstat(tasks + task->d_name + "/schedstat");
    unsigned long long running = 0;
    if (schedstat >> running) nanoseconds += running;
  }
  closedir(directory);
  return static_cast<double>(nanoseconds) / 1e9;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// Frames received by an adapter of this process's network namespace.
unsigned long long ReceivedFrames(const std::string& adapter) {
  std::ifstream devices("/proc/self/net/dev");
  std::string line;
  while (std::getline(devices, line)) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || line.find(adapter + ":") == std::string::npos) continue;
    std::istringstream counters(line.substr(colon + 1));
    unsigned long long bytes = 0, frames = 0;
    counters >> bytes >> frames;
    return frames;
  }
  return 0;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A program that captures on the pair, and what it cost.
struct Captor {
  std::string name;
  pid_t pid;
  std::string output;  // where its statistics go, if it prints any
  double cpuBefore = 0;
  double cpu = 0;
  double idlePerSecond = 0;
};

// Waits until no captor has used CPU for a second and a half: the frames are
// in (tcpdump's reads wait up to a second for its buffer to fill).
void WaitUntilIdle(const std::vector<Captor>& captors) {
  double last = -1;
  int quiet = 0;
  WaitFor(
      [&] {
        double now = 0;
        for (const Captor& captor : captors) now += CpuSeconds(captor.pid);
        quiet = now - last < 0.02 ? quiet + 1 : 0;
        last = now;
        return quiet >= 30;
      },
      std::chrono::seconds(30));
}

std::string Lines(const std::string& text, const std::string& part) {
  std::istringstream in(text);
  std::string line, found;
  while (std::getline(in, line)) {
    if (Contains(line, part)) found += "  " + line + "\n";
  }
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (geteuid() != 0) {
    std::fprintf(stderr, "live_capture_benchmark needs root\n");
    return 2;
  }
  const int frames = argc > 1 ? std::atoi(argv[1]) : 1000000;
  TempDirectory directory;
  const std::string capturePath = directory.Path() + "mirror.pcap";
  const std::vector<std::string> expected = WriteMirrorCapture(capturePath, frames);
  const std::string expression = FilterExpression();

  const NetworkNamespace veth("tw12b", 204);
  if (!veth.Ready() || veth.Run("ip link set lo up") != 0) {
    std::fprintf(stderr, "cannot set up %s\n", veth.SetUpCommand().c_str());
    return 1;
  }
  // From here on this process (and what it starts) lives in the namespace;
  // only the replay is sent from outside.
  const int outside = open("/proc/self/ns/net", O_RDONLY);
  const int inside = open(("/var/run/netns/" + veth.Name()).c_str(), O_RDONLY);
  if (outside < 0 || inside < 0 || setns(inside, CLONE_NEWNET) != 0) {
    std::perror("setns");
    return 1;
  }

  std::vector<int> ports;
  for (int t = 0; t < kTerminals; ++t) ports.push_back(47100 + t);
  const std::string program = directory.Path() + "tillwire";
  if (std::system(("cp " TILLWIRE_PROGRAM " " + program).c_str()) != 0) {
    std::fprintf(stderr, "cannot copy %s to %s\n", TILLWIRE_PROGRAM, program.c_str());
    return 1;
  }
  WriteFile(directory.Path() + "Tillwire.xml",
            TerminalsXml(veth.RemoteAddress().to_string(), ports));
  const std::string logPath = directory.Path() + "Tillwire.log";
  const pid_t tillwire = Spawn({program, "-f", ""}, directory.Path() + "tillwire.out");
  if (!WaitFor([&] { return Contains(ReadFile(logPath), "Creating terminal connection: 127.0.0.1:" +
                                                           std::to_string(ports.back())); },
               std::chrono::seconds(20))) {
    std::fprintf(stderr, "Tillwire did not start:\n%s", ReadFile(logPath).c_str());
    kill(tillwire, SIGKILL);
    return 1;
  }
  std::vector<std::unique_ptr<ReadingNvr>> nvrs;
  for (const int port : ports) nvrs.emplace_back(new ReadingNvr(static_cast<unsigned short>(port)));
  WaitFor(
      [&] {
        const std::vector<std::string> log = LogTexts(ReadFile(logPath));
        return std::count_if(log.begin(), log.end(), [](const std::string& text) {
                 return Contains(text, "Accepted connection");
               }) == kTerminals;
      },
      std::chrono::seconds(20));

  // tcpdump as it comes (its reads wait up to a second for the kernel's
  // buffer to fill), and delivering each frame at once as Tillwire must.
  std::vector<Captor> captors = {{"Tillwire", tillwire, ""}};
  for (const bool immediate : {false, true}) {
    std::vector<std::string> command = {"tcpdump", "-n", "-i", veth.RemoteLink(), "-B",
                                        std::to_string(kLiveBufferBytes / 1024), "-w",
                                        "/dev/null"};
    if (immediate) command.push_back("--immediate-mode");
    command.push_back(expression);
    const std::string output =
        directory.Path() + "tcpdump" + (immediate ? "-immediate" : "") + ".out";
    captors.push_back(
        {immediate ? "tcpdump --immediate-mode" : "tcpdump", Spawn(command, output), output});
    WaitFor([&] { return Contains(ReadFile(output), "listening on"); }, std::chrono::seconds(20));
  }

  // What each costs with no traffic at all, for reading the figures below.
  WaitUntilIdle(captors);
  for (Captor& captor : captors) captor.cpuBefore = CpuSeconds(captor.pid);
  const std::chrono::seconds idle(2);
  std::this_thread::sleep_for(idle);
  for (Captor& captor : captors) {
    captor.idlePerSecond = (CpuSeconds(captor.pid) - captor.cpuBefore) / idle.count();
  }

  // tcpreplay first loads the whole capture into memory (-K), so that the
  // file does not slow the replay; the count starts with the first frame.
  const std::string replayOut = directory.Path() + "tcpreplay.out";
  const unsigned long long framesBefore = ReceivedFrames(veth.RemoteLink());
  const pid_t replay = Spawn({"tcpreplay", "--topspeed", "-K", "-i", veth.LocalLink(), capturePath},
                             replayOut, outside);
  // (The adapter sees a frame of its own now and then: a thousand are the replay.)
  WaitFor([&] { return ReceivedFrames(veth.RemoteLink()) > framesBefore + 1000; },
          std::chrono::seconds(300));
  const auto replayStart = std::chrono::steady_clock::now();
  for (Captor& captor : captors) captor.cpuBefore = CpuSeconds(captor.pid);
  waitpid(replay, nullptr, 0);
  WaitUntilIdle(captors);
  for (Captor& captor : captors) captor.cpu = CpuSeconds(captor.pid) - captor.cpuBefore;
  const double window =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - replayStart).count();

  for (std::size_t i = 1; i < captors.size(); ++i) {
    kill(captors[i].pid, SIGINT);
    waitpid(captors[i].pid, nullptr, 0);
  }
  kill(tillwire, SIGTERM);
  waitpid(tillwire, nullptr, 0);
  setns(outside, CLONE_NEWNET);  // so that the pair can be removed

  std::size_t wanted = 0;
  std::size_t received = 0;
  int exact = 0;
  for (int t = 0; t < kTerminals; ++t) {
    const std::string& bytes = nvrs[static_cast<std::size_t>(t)]->Received();
    wanted += expected[static_cast<std::size_t>(t)].size();
    received += bytes.size();
    if (bytes == expected[static_cast<std::size_t>(t)]) ++exact;
  }
  const double million = frames / 1e6;
  std::printf("frames: %d, terminal frames: %d, terminals: %d\n", frames, frames / 100, kTerminals);
  std::printf("filter: %s\n", expression.c_str());
  std::printf("tcpreplay:\n%s", (Lines(ReadFile(replayOut), "Actual:") +
                                  Lines(ReadFile(replayOut), "Rated:")).c_str());
  std::printf("measured from the replay's start until every captor was idle: %.2f s\n", window);
  std::printf("Tillwire: terminal bytes delivered %zu of %zu (%.2f%%), %d of %d NVRs received "
              "exactly their stream\n",
              received, wanted,
              wanted ? 100.0 * static_cast<double>(received) / static_cast<double>(wanted) : 0.0,
              exact, kTerminals);
  for (const Captor& captor : captors) {
    std::printf("%-25s %.3f CPU s, %.3f CPU s per million frames (idle: %.4f CPU s per s)",
                captor.name.c_str(), captor.cpu, captor.cpu / million, captor.idlePerSecond);
    if (captor.cpu > 0) std::printf(", Tillwire / this: %.2f", captors[0].cpu / captor.cpu);
    std::printf("\n");
    const std::string statistics = captor.output.empty() ? "" : ReadFile(captor.output);
    std::printf("%s", (Lines(statistics, "captured") + Lines(statistics, "dropped")).c_str());
  }
  const std::vector<std::string> log = LogTexts(ReadFile(logPath));
  for (const std::string& text : log) {
    if (Contains(text, "Capture")) std::printf("log: %s\n", text.c_str());
  }
  return exact == kTerminals ? 0 : 1;
}
