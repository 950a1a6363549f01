#include "platform/systemctl.h"

#include "platform/service_manager_paths.h"

#include <cerrno>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

namespace tillwire {

bool SystemdIsRunning() {
  struct stat status;
  return stat(CurrentServiceManagerPaths().systemdRunDirectory.c_str(), &status) == 0 &&
         S_ISDIR(status.st_mode);
}

bool Systemctl(const std::vector<std::string>& arguments) {
  const std::string& program = CurrentServiceManagerPaths().systemctl;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t child;
  if (posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    return false;
  }
  int status;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tillwire
