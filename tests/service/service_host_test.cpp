// The service runtime against the scripted Windows API, running work of the
// test's own: status reports, controls, event-log entries, the program log and
// dispatcher failures. Needs no root.
#include "service/foreground_run.h"
#include "service/service_host.h"

#include "log/log_file.h"
#include "outcome/exit_codes.h"
#include "support/console_texts.h"
#include "support/fake_windows.h"
#include "support/log_watch.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

using namespace tillwire;

namespace {

struct Report {
  DWORD state, controlsAccepted, win32ExitCode, specificExitCode, checkPoint, waitHint;
  bool operator==(const Report& other) const {
    return state == other.state && controlsAccepted == other.controlsAccepted &&
           win32ExitCode == other.win32ExitCode && specificExitCode == other.specificExitCode &&
           checkPoint == other.checkPoint && waitHint == other.waitHint;
  }
};

std::ostream& operator<<(std::ostream& out, const Report& r) {
  return out << "{state " << r.state << ", accepts " << r.controlsAccepted << ", win32 "
             << r.win32ExitCode << ", specific " << r.specificExitCode << ", check point "
             << r.checkPoint << ", wait hint " << r.waitHint << "}";
}

std::vector<Report> Reports(const FakeWindows& windows) {
  std::vector<Report> reports;
  for (const SERVICE_STATUS& s : windows.StatusReports()) {
    EXPECT_EQ(s.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    reports.push_back(Report{s.dwCurrentState, s.dwControlsAccepted, s.dwWin32ExitCode,
                             s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint});
  }
  return reports;
}

// Events as "type: source | message", the way a support engineer reads them.
std::vector<std::string> Events(const FakeWindows& windows) {
  std::vector<std::string> events;
  for (const FakeWindows::Event& event : windows.Events()) {
    EXPECT_EQ(event.strings.size(), 2u);
    EXPECT_EQ(event.source, "Tillwire");
    const std::string type = event.type == EVENTLOG_ERROR_TYPE ? "error" : "information";
    events.push_back(type + ": " + event.strings.at(0) + " | " + event.strings.at(1));
  }
  return events;
}

const Report kStartPending{SERVICE_START_PENDING, 0, 0, 0, 1, 5000};
const Report kRunning{SERVICE_RUNNING, 5, 0, 0, 0, 0};
const Report kStopPending{SERVICE_STOP_PENDING, 5, 0, 0, 1, 5000};
const Report kStopped{SERVICE_STOPPED, 5, 0, 0, 0, 0};

// Work of the test's own in place of the engine: it logs its start and then
// runs until its thread is interrupted, or ends by itself at once (with the
// result of a run that did its job, such as a finished playback).
ServiceWork TestWork(bool endsByItself) {
  return [endsByItself] {
    LogLine("work started");
    if (endsByItself) {
      LogLine("work ended by itself");
      return 0;
    }
    try {
      for (;;) {
        boost::this_thread::interruption_point();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    } catch (const boost::thread_interrupted&) {
      LogLine("work interrupted");
    }
    return 0;
  };
}

// The whole life of the service: start, running, the controls, stop.
TEST(ServiceLifecycle, RunsTheWorkAndStopsItOnRequest) {
  struct Case {
    const char* name;
    std::vector<DWORD> controls;
    bool workEndsByItself;
    std::vector<std::string> events;
  };
  const std::string started = "information: Tillwire | Service started.";
  const std::string stopped = "information: Tillwire | Service stopped.";
  const Case cases[] = {
      {"stop, after interrogate and a control of no meaning",
       {SERVICE_CONTROL_INTERROGATE, 128, SERVICE_CONTROL_STOP},
       false,
       {started,
        "error: Tillwire | Service handle called with unrecognized option code = 128  "
        "Error code=0x00000080",
        stopped}},
      {"shutdown stops like stop", {SERVICE_CONTROL_SHUTDOWN}, false, {started, stopped}},
      {"work that ended by itself", {SERVICE_CONTROL_STOP}, true, {started, stopped}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogWatch watch;
    FakeWindows windows;
    windows.DeliverControls(c.controls);
    EXPECT_EQ(RunServiceDispatcher(TestWork(c.workEndsByItself)), 0);

    EXPECT_EQ(Reports(windows),
              (std::vector<Report>{kStartPending, kRunning, kStopPending, kStopped}));
    EXPECT_EQ(Events(windows), c.events);
    EXPECT_FALSE(engineThread.joinable());
    // The stop may come before the work has begun; the work's end comes after
    // the stop request unless the work ended by itself.
    const std::vector<std::string> texts = watch.Texts();
    const auto position = [&texts](const std::string& text) {
      return std::find(texts.begin(), texts.end(), text) - texts.begin();
    };
    const std::string end = c.workEndsByItself ? "work ended by itself" : "work interrupted";
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_LT(position("work started"), position(end));
    if (!c.workEndsByItself) {
      EXPECT_LT(position("Received Stop request from Service Control Manager"), position(end));
    }
  }
}

// Work that ends by itself and fails (here as the engine does without a
// usable terminal) stops the service with its own code, so that the service
// manager sees a failure; the dispatcher's caller fails too. A stop that
// comes meanwhile changes nothing.
TEST(ServiceLifecycle, WorkThatFailsStopsTheServiceWithItsCode) {
  const Report stoppedWithCode{SERVICE_STOPPED, 5, ERROR_SERVICE_SPECIFIC_ERROR, 7, 0, 0};
  for (const std::vector<DWORD>& controls : {std::vector<DWORD>{}, {SERVICE_CONTROL_STOP}}) {
    SCOPED_TRACE(controls.size());
    FakeWindows windows;
    windows.DeliverControls(controls);
    EXPECT_EQ(RunServiceDispatcher([] { return kNoTerminalsResult; }), 7);

    const std::vector<Report> reports = Reports(windows);
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(std::vector<Report>(reports.begin(), reports.begin() + 2),
              (std::vector<Report>{kStartPending, kRunning}));
    EXPECT_EQ(reports.back(), stoppedWithCode);
    const std::vector<std::string> events = Events(windows);
    EXPECT_NE(std::find(events.begin(), events.end(),
                        "error: Tillwire | The service stopped: the capture engine ended by "
                        "itself. See Tillwire.log.  Error code=0x00000007"),
              events.end());
    EXPECT_FALSE(engineThread.joinable());
  }
}

TEST(ServiceHost, HandlerRegistrationFailureIsLoggedOnly) {
  LogWatch watch;
  FakeWindows windows;
  windows.Fail("RegisterServiceCtrlHandlerA", ERROR_INVALID_NAME);
  EXPECT_EQ(RunServiceDispatcher(TestWork(false)), 0);
  EXPECT_TRUE(windows.StatusReports().empty());
  EXPECT_TRUE(windows.Events().empty());
  EXPECT_EQ(watch.Texts(),
            std::vector<std::string>{"ServiceMain call to RegisterServiceCtrlHandler() failed"});
}

TEST(ServiceHost, DispatcherFailuresBecomeTheExitStatus) {
  struct Case {
    DWORD error;
    const char* event;  // null: none
    bool consoleHelp;
  };
  const Case cases[] = {
      {ERROR_INVALID_DATA,
       "error: Tillwire | The call to the service dispatcher failed.  Error code=0x0000000d",
       false},
      {ERROR_SERVICE_ALREADY_RUNNING,
       "error: Tillwire | The service is already running.  Error code=0x00000420", false},
      {ERROR_ACCESS_DENIED,
       "error: Tillwire | Unknown error while starting the service.  Error code=0x00000005",
       false},
      {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    FakeWindows windows;
    windows.Fail("StartServiceCtrlDispatcherA", c.error);
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunServiceDispatcher(TestWork(false)), static_cast<int>(c.error));
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(Events(windows),
              c.event ? std::vector<std::string>{c.event} : std::vector<std::string>{});
    EXPECT_EQ(console, c.consoleHelp ? kExpectedConsoleHelp : "");
  }
}

TEST(ServiceHost, StatusReportsFollowTheStateAndExitCodes) {
  struct Case {
    DWORD state, win32, specific;
    Report expected;
  };
  const Case cases[] = {
      {SERVICE_START_PENDING, 0, 0, {SERVICE_START_PENDING, 0, 0, 0, 7, 9}},
      {SERVICE_RUNNING, 0, 0, {SERVICE_RUNNING, 5, 0, 0, 7, 9}},
      {SERVICE_STOPPED, 5, 0, {SERVICE_STOPPED, 5, 5, 0, 7, 9}},
      {SERVICE_STOPPED, 5, 42, {SERVICE_STOPPED, 5, ERROR_SERVICE_SPECIFIC_ERROR, 42, 7, 9}},
  };
  for (const Case& c : cases) {
    FakeWindows windows;
    // SetServiceStatus wants the handle of a registered handler.
    const SERVICE_STATUS_HANDLE handle =
        RegisterServiceCtrlHandlerA("Tillwire", &ServiceControlHandler);
    EXPECT_TRUE(ReportServiceStatus(handle, c.state, c.win32, c.specific, 7, 9));
    EXPECT_EQ(Reports(windows), std::vector<Report>{c.expected});
  }
}

TEST(ServiceHost, EventsWithoutASourceAreDropped) {
  FakeWindows windows;
  windows.Fail("RegisterEventSourceA", ERROR_ACCESS_DENIED);
  LogErrorEvent("Tillwire", "anything", 5);
  EXPECT_TRUE(windows.Events().empty());
  EXPECT_TRUE(windows.OpenHandles().empty());
}

// A live run in the foreground (tillwire -f "") stops on the console's Ctrl-C
// and Ctrl-Break with the service stop's line, and its result is that of a
// stopped service; other console events (closing the window: 2) are left to
// the system.
TEST(ForegroundRun, CtrlCAndCtrlBreakStopTheWorkAsAServiceStopDoes) {
  for (const DWORD event : {CTRL_C_EVENT, CTRL_BREAK_EVENT}) {
    SCOPED_TRACE(event);
    LogWatch watch;
    FakeWindows windows;
    std::future<int> run =
        std::async(std::launch::async, [] { return RunInForeground(TestWork(false)); });
    ASSERT_TRUE(WaitUntil([&] {
      return windows.ConsoleHandlerCount() == 1 && watch.Texts().size() == 1;
    })) << "the work did not start with a handler in place";
    EXPECT_EQ(windows.ConsoleControl(2), FALSE);
    EXPECT_EQ(windows.ConsoleControl(event), TRUE);
    ASSERT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(run.get(), 0);
    EXPECT_EQ(watch.Texts(),
              (std::vector<std::string>{"work started",
                                        "Received Stop request from Service Control Manager",
                                        "work interrupted"}));
    EXPECT_EQ(windows.ConsoleHandlerCount(), 0u) << "the handler outlived the run";
  }
}

TEST(ForegroundRun, WorkThatEndsByItselfKeepsItsResult) {
  LogWatch watch;
  FakeWindows windows;
  EXPECT_EQ(RunInForeground([] { return kNoTerminalsResult; }), kNoTerminalsResult);
  EXPECT_TRUE(watch.Texts().empty());
  EXPECT_EQ(windows.ConsoleHandlerCount(), 0u);
}

}  // namespace
