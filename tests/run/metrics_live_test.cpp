// The metrics file of a live run as a chain's monitoring reads it: the
// program captures on loopback (a foreground live run, stopped as a service
// is), promtool checks the file it wrote, and Debian's node_exporter serves
// it through its textfile collector. Needs root, promtool (prometheus) and
// prometheus-node-exporter; skipped otherwise.
#include "support/child_process.h"
#include "support/metric_samples.h"
#include "support/nvr_client.h"
#include "support/temp_directory.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

using namespace tillwire;

namespace {

const char kNodeExporter[] = "/usr/bin/prometheus-node-exporter";

bool HasPromtool() { return std::system("command -v promtool >/dev/null 2>&1") == 0; }

// promtool check metrics on a file: its verdict, output and all, and
// whether it passed.
bool PromtoolAccepts(const std::string& path, std::string* verdict) {
  const std::string output = path + ".promtool";
  const int status = std::system(("promtool check metrics < '" + path + "' > '" + output +
                                  "' 2>&1").c_str());
  *verdict = ReadFile(output);
  std::remove(output.c_str());
  return status == 0;
}

// node_exporter with nothing but its textfile collector, on 127.0.0.1:port,
// its output in logPath; ended when this goes.
class NodeExporter {
 public:
  NodeExporter(const std::string& textfileDirectory, unsigned short port,
               const std::string& logPath) {
    const std::string directory = "--collector.textfile.directory=" + textfileDirectory;
    const std::string listen = "--web.listen-address=127.0.0.1:" + std::to_string(port);
    child = fork();
    if (child == 0) {
      const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(log, STDOUT_FILENO);
      dup2(log, STDERR_FILENO);
      close_range(3, ~0U, 0);
      execl(kNodeExporter, kNodeExporter, directory.c_str(), listen.c_str(),
            "--collector.disable-defaults", "--collector.textfile", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~NodeExporter() {
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
  }

 private:
  pid_t child;
};

// The body of GET /metrics from 127.0.0.1:port, or empty when nothing
// answers there.
std::string Scrape(unsigned short port) {
  boost::asio::io_context service;
  boost::asio::ip::tcp::socket socket(service);
  boost::system::error_code error;
  socket.connect({boost::asio::ip::address_v4::loopback(), port}, error);
  if (error) return std::string();
  const std::string request = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  boost::asio::write(socket, boost::asio::buffer(request), error);
  std::string response;
  boost::asio::read(socket, boost::asio::dynamic_buffer(response), error);
  const std::size_t body = response.find("\r\n\r\n");
  return body == std::string::npos ? std::string() : response.substr(body + 4);
}

// Kills the child at the end of the test unless it has ended (and been
// waited for) already.
struct EndsWithTest {
  pid_t child;
  ~EndsWithTest() {
    if (kill(child, 0) == 0 && kill(child, SIGKILL) == 0) waitpid(child, nullptr, 0);
  }
};

void SendUdp(unsigned short port, const std::string& payload) {
  boost::asio::io_context service;
  boost::asio::ip::udp::socket socket(service, boost::asio::ip::udp::v4());
  socket.send_to(boost::asio::buffer(payload),
                 {boost::asio::ip::address_v4::loopback(), port});
}

TEST(MetricsLive, NodeExporterServesTheBytesTheNvrReceived) {
  if (geteuid() != 0) GTEST_SKIP() << "live capture needs root";
  if (!HasPromtool()) GTEST_SKIP() << "promtool not found (Debian package prometheus)";
  if (access(kNodeExporter, X_OK) != 0) {
    GTEST_SKIP() << kNodeExporter << " not found (Debian package prometheus-node-exporter)";
  }
  ProgramDirectoryFixture program(TILLWIRE_PROGRAM);
  TempDirectory textfile;
  const std::string path = textfile.Path() + "tillwire.prom";
  const unsigned short printerPort = FreePort();
  const std::string nvrPort = std::to_string(FreePort());
  const std::string terminal = "::127.0.0.1:" + std::to_string(printerPort);
  program.WriteConfiguration(R"(<Tillwire><Network SniffAdapterAddress="127.0.0.1">
      <NVR Address="127.0.0.1"/>
      <Terminal DstAddress="127.0.0.1" DstPort=")" + std::to_string(printerPort) +
                             R"(" NvrPort=")" + nvrPort + R"("/></Network>
      <Metrics TextfileDirectory=")" + textfile.Path() + R"("/></Tillwire>)");
  const pid_t child = StartProgram(program, {"-f", ""});
  const EndsWithTest ending{child};
  boost::asio::io_context eventQueue;
  const std::unique_ptr<NvrClient> nvr =
      ConnectWhenListening(eventQueue, static_cast<unsigned short>(std::stoi(nvrPort)));
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return nvr->Connected(); }));
  // The handshake ends in the kernel's backlog; until the program has taken
  // the connection, the terminal's bytes have no NVR to go to.
  const std::string accepted = "Accepted connection from NVR address: 127.0.0.1 Port: " + nvrPort;
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return program.Logged(accepted); }));
  std::string sent;
  for (int i = 0; i < 40; ++i) {
    const std::string line = "receipt line " + std::to_string(i) + "\n";
    SendUdp(printerPort, line);
    sent += line;
  }
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return nvr->Received().size() >= sent.size(); }));
  EXPECT_EQ(nvr->Received(), sent);

  // Written every 15 seconds.
  const MetricLabels labels{{"terminal", terminal}, {"nvr_port", nvrPort}};
  const auto forwarded = [&labels](const std::string& exposition) {
    return SampleValue(exposition, "tillwire_terminal_forwarded_bytes_total", labels);
  };
  ASSERT_TRUE(PollUntil(eventQueue, [&] { return forwarded(ReadFile(path)) == sent.size(); },
                        std::chrono::seconds(40)))
      << ReadFile(path);
  std::string verdict;
  EXPECT_TRUE(PromtoolAccepts(path, &verdict)) << verdict;
  EXPECT_EQ(SampleValue(ReadFile(path), "tillwire_capturing"), 1.0);
  EXPECT_GE(SampleValue(ReadFile(path), "tillwire_capture_frames_total").value_or(0), 40.0);

  const unsigned short exporterPort = FreePort();
  const NodeExporter exporter(textfile.Path(), exporterPort, program.Path() + "node_exporter.log");
  std::string scraped;
  ASSERT_TRUE(PollUntil(eventQueue, [&] {
    scraped = Scrape(exporterPort);
    return forwarded(scraped).has_value();
  })) << scraped << ReadFile(program.Path() + "node_exporter.log");
  EXPECT_EQ(forwarded(scraped), static_cast<double>(nvr->Received().size()));
  EXPECT_EQ(SampleValue(scraped, "tillwire_terminal_nvr_connected", labels), 1.0);
  EXPECT_EQ(SampleValue(scraped, "node_textfile_scrape_error"), 0.0);

  // The stop writes the file once more: capture is over.
  kill(child, SIGTERM);
  EXPECT_EQ(WaitForExit(child, std::chrono::seconds(5)), 0);
  const std::string last = ReadFile(path);
  EXPECT_EQ(SampleValue(last, "tillwire_capturing"), 0.0) << last;
  EXPECT_EQ(forwarded(last), static_cast<double>(sent.size()));
  EXPECT_TRUE(PromtoolAccepts(path, &verdict)) << verdict;
}

}  // namespace
