// Registering the program with the service manager, and removing it again.
//
// On Windows a service of its own process, started automatically as the local
// system account, restarted a minute after failures, with the executable as
// its event source's message file. On Linux the systemd unit <name>.service
// (a notify service, restarted a minute after failures, after the network is
// online), enabled for multi-user.target; systemctl hears of every change
// while systemd runs the machine.
//
// Both operations answer what happened, step by step, for the caller to
// report; nothing is printed or logged here.
#ifndef TILLWIRE_PLATFORM_SERVICE_REGISTRATION_H
#define TILLWIRE_PLATFORM_SERVICE_REGISTRATION_H

#include <cstdint>
#include <string>
#include <vector>

namespace tillwire {

struct ServiceDefinition {
  std::string name;          // the service's (and the event source's) name
  std::string displayName;   // as the service manager lists it
  std::string description;
  std::string dependencies;  // services that must run first; empty for none
};

// One thing that happened in a registration or removal.
enum class RegistrationStep {
  kConnectFailed,          // the service manager cannot be reached for the change
  kProgramPathFailed,      // the executable's path cannot be had whole
  kCreateFailed,           // the service cannot be created
  kDescriptionFailed,      // created, without its description
  kRestartsFailed,         // created, without its restarts after failures
  kMessageFileFailed,      // created, the event log will not show the entries' text
  kInstalled,              // created (with whatever failed above)
  kOpenFailed,             // the installed service cannot be opened for removal
  kStoppedForRemoval,      // it ran and was told to stop, without waiting
  kStopForRemovalFailed,   // it could not be told to stop
  kDeleted,                // the service is gone
  kDeleteFailed,           // the service could not be deleted
  kMessageFileRemoveFailed,  // deleted, its event source's registration stays
};

struct RegistrationEvent {
  RegistrationStep step;
  std::uint32_t error;  // the system's code for a failure; 0 otherwise
};

// True when the service manager and the service both open for reading.
bool IsServiceInstalled(const std::string& name);

// Registers the running executable as the service. The events end with
// kInstalled on success; a failure to connect, to get the path or to create
// ends them without it.
std::vector<RegistrationEvent> RegisterService(const ServiceDefinition& service);

// Stops the service if it runs (without waiting) and deletes it, with its
// event source's registration. Success includes kDeleted.
std::vector<RegistrationEvent> RemoveService(const std::string& name);

}  // namespace tillwire

#endif
