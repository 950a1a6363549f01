#include "service/service_installer.h"

#include "service/service_host.h"

#include <cstdio>

namespace tillwire {

namespace {

// Where a step is reported: an information or an error event with the same
// text in the program log, or the console and the log (a text with its
// error code).
enum class Channel { kInformation, kError, kConsoleWithCode };

struct StepReport {
  RegistrationStep step;
  Channel channel;
  const char* text;
};

const StepReport kInstallReports[] = {
    {RegistrationStep::kConnectFailed, Channel::kError, text::kInstallConnectFailed},
    {RegistrationStep::kProgramPathFailed, Channel::kConsoleWithCode,
     text::kModuleFileNameFailedFormat},
    {RegistrationStep::kCreateFailed, Channel::kError, text::kCreateFailed},
    {RegistrationStep::kDescriptionFailed, Channel::kError, text::kDescriptionFailed},
    {RegistrationStep::kRestartsFailed, Channel::kError, text::kFailureActionsFailed},
    {RegistrationStep::kMessageFileFailed, Channel::kError, text::kEventSourceFailed},
    {RegistrationStep::kInstalled, Channel::kInformation, text::kInstalled},
};

const StepReport kRemovalReports[] = {
    {RegistrationStep::kConnectFailed, Channel::kError, text::kUninstallConnectFailed},
    {RegistrationStep::kOpenFailed, Channel::kError, text::kOpenFailed},
    {RegistrationStep::kStoppedForRemoval, Channel::kInformation, text::kStoppedToUninstall},
    {RegistrationStep::kStopForRemovalFailed, Channel::kError, text::kUninstallConnectFailed},
    {RegistrationStep::kDeleted, Channel::kInformation, text::kDeleted},
    {RegistrationStep::kDeleteFailed, Channel::kError, text::kDeleteFailed},
    {RegistrationStep::kMessageFileRemoveFailed, Channel::kError, text::kEventSourceRemoveFailed},
};

template <std::size_t kCount>
void Report(const RegistrationEvent& event, const StepReport (&reports)[kCount], LogFunction log) {
  for (const StepReport& report : reports) {
    if (report.step != event.step) continue;
    switch (report.channel) {
      case Channel::kInformation:
        ReportEvent(report.text);
        log(report.text);
        return;
      case Channel::kError:
        ReportErrorEvent(report.text, event.error);
        log(report.text);
        return;
      case Channel::kConsoleWithCode: {
        char message[254];
        std::snprintf(message, sizeof message, report.text,
                      static_cast<unsigned long>(event.error));
        std::printf("%s\n", message);
        log(message);
        return;
      }
    }
  }
}

// Reports the events in order; true when one of them is success.
template <std::size_t kCount>
bool ReportAll(const std::vector<RegistrationEvent>& events,
               const StepReport (&reports)[kCount], RegistrationStep success, LogFunction log) {
  bool succeeded = false;
  for (const RegistrationEvent& event : events) {
    Report(event, reports, log);
    succeeded = succeeded || event.step == success;
  }
  return succeeded;
}

}  // namespace

int InstallService(const ServiceDefinition& service, LogFunction log) {
  if (IsServiceInstalled(service.name)) {
    std::printf("%s\n", text::kAlreadyInstalled);
    return 0;
  }
  if (!ReportAll(RegisterService(service), kInstallReports, RegistrationStep::kInstalled, log)) {
    return -1;
  }
  std::printf("%s\n", text::kInstalledConsole);
  return 0;
}

int UninstallService(const std::string& name, LogFunction log) {
  if (!IsServiceInstalled(name)) {
    std::printf("%s\n", text::kNotInstalled);
    return 0;
  }
  if (!ReportAll(RemoveService(name), kRemovalReports, RegistrationStep::kDeleted, log)) {
    return -1;
  }
  std::printf("%s\n", text::kUninstalledConsole);
  return 0;
}

}  // namespace tillwire
