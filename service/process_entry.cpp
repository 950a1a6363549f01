#include "service/process_entry.h"

#include "log/log_file.h"
#include "platform/service_commands.h"
#include "platform/service_run.h"
#include "run/engine.h"
#include "service/foreground_run.h"
#include "service/process_exit.h"
#include "service/service_host.h"
#include "service/service_installer.h"
#include "service/survey_command.h"

#include <boost/algorithm/string/predicate.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace tillwire {

namespace {

// Live capture until a stop request; a run that cannot start ends the
// process from the calling thread (under a service manager, the engine
// thread), as the service manager and the console expect.
int LiveRun() { return ResultOrEndProcess(RunEngine(std::string())); }

int Install() {
  const ServiceDefinition service{serviceName, text::kServiceDisplayName,
                                  text::kServiceDescription, ""};
  const int result = InstallService(service, &LogLine);
  if (result != 0) std::printf("%s\n", text::kInstallError);
  return result;
}

int Playback(int argc, char** argv) {
  std::printf("%s\n", text::kPlaybackMode);
  if (argc < 3) {
    std::printf("%s\n", text::kNoFileName);
    return 0;
  }
  std::printf(text::kPlayingBackFileFormat, argv[2]);
  std::fflush(stdout);
  // A capture file is played back, an empty name captures live; either runs
  // in the foreground until it ends by itself (a failure, for a run without
  // a usable terminal or with an error) or a console stop ends it as a
  // service stop does. A playback's report follows the run, stopped or not.
  const std::string captureFile = argv[2];
  std::vector<std::string> report;
  const int result = RunInForeground(
      [&captureFile, &report] { return ResultOrEndProcess(RunEngine(captureFile, &report)); });
  for (const std::string& line : report) std::printf("%s\n", line.c_str());
  return result;
}

// The service, or how to use the program for a person at a console. Under a
// service manager that keeps the output (systemd's journal) that text would
// only fill the service's log at every start.
int Service() {
  if (!ServiceManagerKeepsOutput()) {
    std::printf("%s\n\n", text::kMustBeRunWithOptions);
    PrintUsage();
    std::fflush(stdout);
  }
  return RunServiceDispatcher(&LiveRun);
}

}  // namespace

void PrintUsage() {
  std::printf("Service management options:\n");
  std::printf("  -install    to install the service.\n");
  std::printf("  -uninstall  to remove the service.\n");
  std::printf("To start or stop Tillwire after it has been installed as a service use\n");
  std::printf("    %s\n", kServiceStartCommand);
  std::printf("or\n");
  std::printf("    %s\n", kServiceStopCommand);
  std::printf("\n");
  std::printf("Command line playback of a Wireshark packet capture file is also supported:\n");
  std::printf("  -f <pcapfilename>\n");
  std::printf("\nWhat the mirror port carries, and which of it the terminals take:\n%s",
              text::kSurveyUsage);
}

int ProcessEntry(int argc, char** argv) {
  if (argc <= 1 || (argv[1][0] != '-' && argv[1][0] != '/')) return Service();
  const std::string option = argv[1] + 1;
  if (boost::iequals(option, "install")) return Install();
  if (boost::iequals(option, "uninstall")) return UninstallService(serviceName, &LogLine);
  if (boost::iequals(option, "f")) return Playback(argc, argv);
  if (boost::iequals(option, "survey")) return SurveyCommand(argc, argv);
  PrintUsage();
  return 0;
}

}  // namespace tillwire
