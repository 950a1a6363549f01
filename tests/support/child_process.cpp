#include "support/child_process.h"

#include "support/wait_until.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace tillwire {

pid_t StartProgram(const ProgramDirectoryFixture& program,
                   const std::vector<std::string>& arguments,
                   const std::function<void()>& inChild) {
  std::vector<char*> argv{const_cast<char*>(program.Program().c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const std::string output = program.Path() + "stdout.txt";
  const pid_t child = fork();
  if (child == 0) {
    const int descriptor = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (descriptor >= 0) dup2(descriptor, STDOUT_FILENO);
    close_range(3, ~0U, 0);
    if (inChild) inChild();
    execv(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

int WaitForExit(pid_t child, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) return -1000;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
}

bool WaitForLogText(const ProgramDirectoryFixture& program, const std::string& text) {
  return WaitUntil([&program, &text] {
    const std::vector<std::string> texts = program.LogTexts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  });
}

}  // namespace tillwire
