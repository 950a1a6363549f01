// The survey on a live adapter: the near end of a veth pair into a network
// namespace that the test creates, the program run as an installer runs it.
// Needs root; skipped otherwise.
#include "support/network_namespace.h"
#include "support/program_run.h"
#include "support/temp_directory.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace tillwire;

namespace {

// The program in a directory of its own, started with fork and exec so that
// the test can signal it; standard output to a pseudo-terminal or a file.
class SurveyProcess {
 public:
  SurveyProcess(const ProgramDirectoryFixture& directory, const std::string& seconds,
                bool onTerminal)
      : outputPath(directory.Path() + "stdout.txt") {
    if (onTerminal) {
      pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    } else {
      pid = fork();
    }
    if (pid == 0) {
      if (!onTerminal) {
        const int file = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(file, STDOUT_FILENO);
      }
      execl(directory.Program().c_str(), directory.Program().c_str(), "-survey", seconds.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~SurveyProcess() {
    if (pid > 0 && !exited) {
      kill(pid, SIGKILL);
      Status();
    }
    if (terminal >= 0) close(terminal);
  }

  pid_t Pid() const { return pid; }
  // What the program wrote so far (read from the terminal without waiting).
  const std::string& Output() {
    if (terminal < 0) {
      output = ReadFile(outputPath);
      return output;
    }
    char buffer[4096];
    pollfd ready{terminal, POLLIN, 0};
    while (poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN) != 0) {
      const ssize_t count = read(terminal, buffer, sizeof buffer);
      if (count <= 0) break;
      output.append(buffer, static_cast<std::size_t>(count));
    }
    return output;
  }
  // Waits for the program's end; its exit status, or -1 when it was killed.
  int Status() {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    exited = true;
    Output();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  const std::string outputPath;
  int terminal = -1;
  pid_t pid = -1;
  bool exited = false;
  std::string output;
};

// The inodes of the TCP and UDP sockets of this network namespace.
std::set<std::string> InternetSocketInodes() {
  std::set<std::string> inodes;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6", "/proc/net/udp", "/proc/net/udp6"}) {
    std::ifstream lines(table);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string field;
      for (int i = 0; i < 10 && fields >> field; ++i) {
      }
      inodes.insert(field);
    }
  }
  return inodes;
}

// The inodes of the sockets a process holds ("socket:[inode]").
std::vector<std::string> SocketInodesOf(pid_t pid) {
  std::vector<std::string> inodes;
  const std::string directory = "/proc/" + std::to_string(pid) + "/fd";
  DIR* descriptors = opendir(directory.c_str());
  if (descriptors == nullptr) return inodes;
  while (const dirent* entry = readdir(descriptors)) {
    char target[256] = "";
    const std::string path = directory + "/" + entry->d_name;
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    const std::string link(target, length > 0 ? static_cast<std::size_t>(length) : 0);
    if (link.rfind("socket:[", 0) == 0) inodes.push_back(link.substr(8, link.size() - 9));
  }
  closedir(descriptors);
  return inodes;
}

// The number of conversations in the last progress line shown, or -1.
int LastConversationCount(const std::string& output) {
  const std::regex progress(", ([0-9]+) conversations");
  int count = -1;
  for (std::sregex_iterator match(output.begin(), output.end(), progress), end; match != end;
       ++match) {
    count = std::stoi((*match)[1]);
  }
  return count;
}

class LiveSurveyTest : public testing::Test {
 protected:
  LiveSurveyTest() : directory(TILLWIRE_PROGRAM), veth("twsv", 207) {}
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "live capture needs root";
    ASSERT_TRUE(veth.Ready()) << veth.SetUpCommand();
    directory.WriteConfiguration(
        R"(<T><Network SniffAdapterAddress=")" + veth.LocalAddress().to_string() +
        R"("><NVR Address="127.0.0.1"/><Terminal SrcAddress=")" +
        veth.RemoteAddress().to_string() + R"(" DstPort="9100" NvrPort="47101"/></Network></T>)");
  }
  void SendReceiptLine() {
    ASSERT_EQ(veth.Run("bash -c 'printf \"RECEIPT 7\\n\" > /dev/udp/" +
                       veth.LocalAddress().to_string() + "/9100'"),
              0);
  }

  ProgramDirectoryFixture directory;
  const NetworkNamespace veth;
};

// On a terminal: a progress line rewritten in place; no TCP or UDP socket
// while it runs; SIGINT ends it early with the report of what it saw.
TEST_F(LiveSurveyTest, ShowsProgressAndReportsWhenInterrupted) {
  SurveyProcess survey(directory, "60", true);
  ASSERT_TRUE(WaitUntil([&] {
    return survey.Output().find("Surveying " + veth.LocalLink() + " " +
                                veth.LocalAddress().to_string()) != std::string::npos;
  })) << survey.Output();
  // A datagram from a new port each time, until the progress line counts a few.
  ASSERT_TRUE(WaitUntil([&] {
    SendReceiptLine();
    return LastConversationCount(survey.Output()) >= 3;
  })) << survey.Output();
  EXPECT_NE(survey.Output().find("\r"), std::string::npos);
  EXPECT_NE(survey.Output().find(" of 60 s, "), std::string::npos);

  const std::vector<std::string> sockets = SocketInodesOf(survey.Pid());
  EXPECT_FALSE(sockets.empty()) << "no capture socket seen";
  const std::set<std::string> internet = InternetSocketInodes();
  for (const std::string& inode : sockets) {
    EXPECT_EQ(internet.count(inode), 0u) << "a TCP or UDP socket: " << inode;
  }

  ASSERT_EQ(kill(survey.Pid(), SIGINT), 0);
  EXPECT_EQ(survey.Status(), 0);
  const std::string& report = survey.Output();
  EXPECT_NE(report.find(" of 60 s."), std::string::npos) << report;
  const std::regex row("UDP " + veth.RemoteAddress().to_string() + ":[0-9]+ +" +
                       veth.LocalAddress().to_string() +
                       ":9100 +1 +10 raw printing\r\n  100%  RECEIPT 7 +47101 " +
                       veth.RemoteAddress().to_string() + ":::9100\r\n");
  EXPECT_TRUE(std::regex_search(report, row)) << report;
  EXPECT_EQ(ReadFile(directory.Path() + "Tillwire.log"), "") << "the survey logged";
}

// Not on a terminal: no progress line; the survey ends after its seconds.
TEST_F(LiveSurveyTest, ShowsNoProgressWhenNotOnATerminal) {
  SurveyProcess survey(directory, "2", false);
  EXPECT_EQ(survey.Status(), 0);
  const std::string& output = survey.Output();
  EXPECT_EQ(output.find('\r'), std::string::npos) << output;
  const std::regex summaryEnd(" 2 s captured\\. Not taken: [^\n]* not TCP/UDP\\.\n");
  EXPECT_TRUE(std::regex_search(output, summaryEnd)) << output;
}

}  // namespace
