#include "support/program_run.h"

#include "support/log_watch.h"

#include <boost/filesystem.hpp>
#include <boost/process.hpp>

#include <thread>

ProgramDirectoryFixture::ProgramDirectoryFixture(const std::string& executable,
                                                 const std::string& launcher)
    : launcher(launcher) {
  program = Path() + boost::filesystem::path(executable).filename().string();
  boost::filesystem::copy_file(executable, program);
}

void ProgramDirectoryFixture::WriteConfiguration(const std::string& xml) const {
  WriteFile(Path() + "Tillwire.xml", xml);
}

void ProgramDirectoryFixture::Start(const std::vector<std::string>& arguments) {
  namespace bp = boost::process;
  std::vector<std::string> args = arguments;
  std::string command = program;
  if (!launcher.empty()) {
    args.insert(args.begin(), program);
    command = bp::search_path(launcher).string();
  }
  child.reset(new bp::child(command, bp::args(args), bp::start_dir(Path()),
                            bp::std_out > (Path() + "stdout.txt"), bp::std_in < bp::null));
}

// Polls rather than child::wait_for, which in this Boost may sleep out its
// whole limit after the child has ended.
int ProgramDirectoryFixture::Wait(std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::error_code error;
  while (child->running(error)) {
    if (std::chrono::steady_clock::now() > deadline) {
      child->terminate(error);
      return -1000;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return child->exit_code();
}

bool ProgramDirectoryFixture::Running() {
  std::error_code error;
  return child->running(error);
}

std::string ProgramDirectoryFixture::StandardOutput() const {
  return ReadFile(Path() + "stdout.txt");
}

std::vector<std::string> ProgramDirectoryFixture::LogTexts() const {
  return ::LogTexts(ReadFile(Path() + "Tillwire.log"));
}
