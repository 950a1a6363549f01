#include "platform/service_registration.h"

#include "platform/program_directory.h"
#include "platform/service_manager_paths.h"
#include "platform/systemctl.h"
#include "platform/systemd_unit.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace tillwire {

namespace {

// The codes of these failures as the service manager of Windows gives them,
// so that the error events read alike on both systems.
const std::uint32_t kAccessDenied = 5;
const std::uint32_t kGeneralFailure = 31;
const std::uint32_t kInvalidName = 123;
const std::uint32_t kServiceExists = 1073;

// A name that systemd takes for a unit name, and that stays inside the unit
// directory.
bool ValidName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool letterOrDigit =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letterOrDigit && c != ':' && c != '-' && c != '_' && c != '.') return false;
  }
  return true;
}

std::string UnitName(const std::string& service) { return service + ".service"; }

std::string UnitPath(const std::string& service) {
  return CurrentServiceManagerPaths().unitDirectory + "/" + UnitName(service);
}

bool Exists(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
}

std::uint32_t ErrorOf(int error) {
  return error == EACCES || error == EPERM ? kAccessDenied : kGeneralFailure;
}

// Writes the unit file through a temporary one, so that systemd never reads
// half of it. 0 or the reason it failed.
std::uint32_t WriteUnit(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "w");
  if (file == nullptr) return ErrorOf(errno);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) == 0 && written && std::rename(temporary.c_str(), path.c_str()) == 0) {
    return 0;
  }
  const std::uint32_t error = ErrorOf(errno);
  std::remove(temporary.c_str());
  return error;
}

// Runs the systemctl commands in turn while systemd runs the machine; false
// when one fails.
bool TellSystemd(const std::vector<std::vector<std::string>>& commands) {
  if (!SystemdIsRunning()) return true;
  for (const std::vector<std::string>& command : commands) {
    if (!Systemctl(command)) return false;
  }
  return true;
}

// Writes and enables the unit; 0 or the reason it failed (no unit is left).
std::uint32_t CreateUnit(const ServiceDefinition& service, const std::string& program) {
  if (!ValidName(service.name) || !RunnableBySystemd(program)) return kInvalidName;
  const std::string path = UnitPath(service.name);
  if (Exists(path)) return kServiceExists;
  const std::uint32_t written = WriteUnit(path, ServiceUnitText(service.description, program));
  if (written != 0) return written;
  if (TellSystemd({{"daemon-reload"}, {"enable", UnitName(service.name)}})) return 0;
  std::remove(path.c_str());
  return kGeneralFailure;
}

// Asks systemd to stop an active unit without waiting; a unit that does not
// run is no news.
void StopForRemoval(const std::string& unit, std::vector<RegistrationEvent>& events) {
  if (!SystemdIsRunning() || !Systemctl({"is-active", "--quiet", unit})) return;
  if (Systemctl({"stop", "--no-block", unit})) {
    events.push_back({RegistrationStep::kStoppedForRemoval, 0});
  } else {
    events.push_back({RegistrationStep::kStopForRemovalFailed, kGeneralFailure});
  }
}

// Disables and removes the unit; 0 or the reason it failed.
std::uint32_t DeleteUnit(const std::string& name) {
  const std::string path = UnitPath(name);
  if (!TellSystemd({{"disable", UnitName(name)}})) return kGeneralFailure;
  if (std::remove(path.c_str()) != 0) return ErrorOf(errno);
  return TellSystemd({{"daemon-reload"}}) ? 0 : kGeneralFailure;
}

}  // namespace

bool IsServiceInstalled(const std::string& name) {
  return ValidName(name) && Exists(UnitPath(name));
}

std::vector<RegistrationEvent> RegisterService(const ServiceDefinition& service) {
  if (geteuid() != 0) return {{RegistrationStep::kConnectFailed, kAccessDenied}};
  const std::string program = ProgramPath();
  if (program.empty()) return {{RegistrationStep::kProgramPathFailed, ErrorOf(errno)}};
  const std::uint32_t error = CreateUnit(service, program);
  if (error != 0) return {{RegistrationStep::kCreateFailed, error}};
  return {{RegistrationStep::kInstalled, 0}};
}

std::vector<RegistrationEvent> RemoveService(const std::string& name) {
  if (geteuid() != 0) return {{RegistrationStep::kConnectFailed, kAccessDenied}};
  std::vector<RegistrationEvent> events;
  StopForRemoval(UnitName(name), events);
  const std::uint32_t error = DeleteUnit(name);
  events.push_back({error == 0 ? RegistrationStep::kDeleted : RegistrationStep::kDeleteFailed,
                    error});
  return events;
}

}  // namespace tillwire
