// The service host against a fake service manager, running work of the
// test's own: state reports, requests, service events, the program log and
// dispatcher failures. Needs no root.
#include "service/foreground_run.h"
#include "service/service_host.h"

#include "log/log_file.h"
#include "outcome/exit_codes.h"
#include "support/console_texts.h"
#include "support/fake_service_platform.h"
#include "support/log_watch.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <boost/thread/thread.hpp>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

using namespace tillwire;

namespace {

using Report = FakeServicePlatform::Report;

const std::uint32_t kStop = FakeServicePlatform::kStop;
const Report kStartPending{ServiceState::kStartPending, 0, 1, 5000};
const Report kRunning{ServiceState::kRunning, 0, 0, 0};
const Report kStopPending{ServiceState::kStopPending, 0, 1, 5000};
const Report kStopped{ServiceState::kStopped, 0, 0, 0};

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

// The whole life of the service: start, running, the requests, stop.
TEST(ServiceLifecycle, RunsTheWorkAndStopsItOnRequest) {
  struct Case {
    const char* name;
    std::vector<std::uint32_t> requests;
    bool workEndsByItself;
    std::vector<std::string> events;
  };
  const std::string started = "information: Tillwire | Service started.";
  const std::string stopped = "information: Tillwire | Service stopped.";
  const Case cases[] = {
      {"stop, after a request of no meaning",
       {128, kStop},
       false,
       {started,
        "error: Tillwire | Service handle called with unrecognized option code = 128  "
        "Error code=0x00000080",
        stopped}},
      {"work that ended by itself", {kStop}, true, {started, stopped}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogWatch watch;
    FakeServicePlatform platform;
    platform.DeliverRequests(c.requests);
    EXPECT_EQ(RunServiceDispatcher(TestWork(c.workEndsByItself)), 0);

    EXPECT_EQ(platform.Reports(),
              (std::vector<Report>{kStartPending, kRunning, kStopPending, kStopped}));
    EXPECT_EQ(platform.Events(), c.events);
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
  const Report stoppedWithCode{ServiceState::kStopped, 7, 0, 0};
  for (const std::vector<std::uint32_t>& requests :
       {std::vector<std::uint32_t>{}, std::vector<std::uint32_t>{kStop}}) {
    SCOPED_TRACE(requests.size());
    FakeServicePlatform platform;
    platform.DeliverRequests(requests);
    EXPECT_EQ(RunServiceDispatcher([] { return kNoTerminalsResult; }), 7);

    const std::vector<Report> reports = platform.Reports();
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(std::vector<Report>(reports.begin(), reports.begin() + 2),
              (std::vector<Report>{kStartPending, kRunning}));
    EXPECT_EQ(reports.back(), stoppedWithCode);
    const std::vector<std::string> events = platform.Events();
    EXPECT_NE(std::find(events.begin(), events.end(),
                        "error: Tillwire | The service stopped: the capture engine ended by "
                        "itself. See Tillwire.log.  Error code=0x00000007"),
              events.end());
  }
}

TEST(ServiceHost, AServiceThatCannotBeToldToStopIsLoggedOnly) {
  LogWatch watch;
  FakeServicePlatform platform;
  platform.RefuseControls();
  EXPECT_EQ(RunServiceDispatcher(TestWork(false)), 0);
  EXPECT_TRUE(platform.Reports().empty());
  EXPECT_TRUE(platform.Events().empty());
  EXPECT_EQ(watch.Texts(),
            std::vector<std::string>{"ServiceMain call to RegisterServiceCtrlHandler() failed"});
}

TEST(ServiceHost, DispatcherFailuresBecomeTheExitStatus) {
  struct Case {
    DispatchOutcome outcome;
    const char* event;  // null: none
    bool consoleHelp;
  };
  const Case cases[] = {
      {{DispatchFailure::kInvalidTable, 13},
       "error: Tillwire | The call to the service dispatcher failed.  Error code=0x0000000d",
       false},
      {{DispatchFailure::kAlreadyRunning, 1056},
       "error: Tillwire | The service is already running.  Error code=0x00000420", false},
      {{DispatchFailure::kOther, 5},
       "error: Tillwire | Unknown error while starting the service.  Error code=0x00000005",
       false},
      {{DispatchFailure::kNotStartedByServiceManager, 1063}, nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.outcome.error);
    FakeServicePlatform platform;
    platform.FailDispatch(c.outcome);
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunServiceDispatcher(TestWork(false)), static_cast<int>(c.outcome.error));
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(platform.Events(),
              c.event ? std::vector<std::string>{c.event} : std::vector<std::string>{});
    EXPECT_EQ(console, c.consoleHelp ? kExpectedConsoleHelp : "");
  }
}

// A live run in the foreground (tillwire -f "") stops on the console's stop
// request with the service stop's line, and its result is that of a stopped
// service; the watch ends with the run.
TEST(ForegroundRun, AConsoleStopStopsTheWorkAsAServiceStopDoes) {
  LogWatch watch;
  FakeServicePlatform platform;
  std::future<int> run =
      std::async(std::launch::async, [] { return RunInForeground(TestWork(false)); });
  ASSERT_TRUE(WaitUntil([&] { return platform.Watching() && watch.Texts().size() == 1; }))
      << "the work did not start with the console watched";
  EXPECT_TRUE(platform.ConsoleStop());
  ASSERT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(run.get(), 0);
  EXPECT_EQ(watch.Texts(),
            (std::vector<std::string>{"work started",
                                      "Received Stop request from Service Control Manager",
                                      "work interrupted"}));
  EXPECT_FALSE(platform.Watching()) << "the watch outlived the run";
}

TEST(ForegroundRun, WorkThatEndsByItselfKeepsItsResult) {
  LogWatch watch;
  FakeServicePlatform platform;
  EXPECT_EQ(RunInForeground([] { return kNoTerminalsResult; }), kNoTerminalsResult);
  EXPECT_TRUE(watch.Texts().empty());
  EXPECT_FALSE(platform.Watching());
}

}  // namespace
