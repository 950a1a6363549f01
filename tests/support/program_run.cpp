#include "support/program_run.h"

#include "support/log_watch.h"
#include "support/system_command.h"

#include <boost/filesystem.hpp>

#include <algorithm>
#include <cstdlib>

namespace tillwire {

ProgramDirectoryFixture::ProgramDirectoryFixture(const std::string& executable) {
  const boost::filesystem::path source(executable);
  program = Path() + source.filename().string();
  CopyWholeFile(executable, program);
  // A Windows build finds libpcap's wpcap.dll beside it.
  const boost::filesystem::path sourceDirectory = source.parent_path().empty()
                                                      ? boost::filesystem::path(".")
                                                      : source.parent_path();
  for (const auto& entry : boost::filesystem::directory_iterator(sourceDirectory)) {
    if (entry.path().extension() == ".dll") {
      CopyWholeFile(entry.path().string(), Path() + entry.path().filename().string());
    }
  }
}

ProgramDirectoryFixture::~ProgramDirectoryFixture() {
  if (runner.joinable()) runner.join();
}

void ProgramDirectoryFixture::WriteConfiguration(const std::string& xml) const {
  WriteFile(Path() + "Tillwire.xml", xml);
}

void ProgramDirectoryFixture::Start(const std::vector<std::string>& arguments) {
  std::string command = "\"" + program + "\"";
  for (const std::string& argument : arguments) command += " " + argument;
  command = SystemCommand(command + " > \"" + Path() + "stdout.txt\"");
  ended = false;
  runner = std::thread([this, command] {
    status = ExitStatusOfSystem(std::system(command.c_str()));
    ended = true;
  });
}

int ProgramDirectoryFixture::Wait(std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ended) {
    if (std::chrono::steady_clock::now() > deadline) return -1000;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  runner.join();
  return status;
}

std::string ProgramDirectoryFixture::StandardOutput() const {
  return ReadFile(Path() + "stdout.txt");
}

std::vector<std::string> ProgramDirectoryFixture::LogTexts() const {
  return tillwire::LogTexts(ReadFile(Path() + "Tillwire.log"));
}

bool ProgramDirectoryFixture::Logged(const std::string& text) const {
  const std::vector<std::string> texts = LogTexts();
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

}  // namespace tillwire
