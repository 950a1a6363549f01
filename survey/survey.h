// The survey (tillwire -survey): what the mirror port carries, by
// conversation, and which of it the configured terminals take, read from the
// live adapter or a capture file by the core's own decoding, matching and
// flow tracking, without any NVR side: it never listens, never connects and
// never writes Tillwire.xml, so it may run beside the service.
#ifndef TILLWIRE_SURVEY_SURVEY_H
#define TILLWIRE_SURVEY_SURVEY_H

#include "capture/conversation_table.h"
#include "outcome/start_failure.h"
#include "source/capture_session.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace tillwire {

struct SurveyRequest {
  std::string captureFile;  // empty: live capture on the configured adapter
  std::chrono::seconds duration{60};  // of a live capture
  std::size_t rows = 50;              // conversations listed at most; 0: all
};

// How a survey's reading ended.
struct SurveyReading {
  std::chrono::seconds elapsed{0};
  bool stopped = false;     // by a stop request, before the end
  bool readFailed = false;  // by a read error
  std::string errorText;    // the capture library's text of that error
};

// The reading part of a survey, for measuring it apart: counts the session's
// frames in table until the end of the file, the end of the live capture's
// duration (request.captureFile empty), a read error or a stop request,
// showing the progress line on a console.
SurveyReading ReadSurveyFrames(CaptureSession& session, ConversationTable& table,
                               const SurveyRequest& request);

// Runs a survey on the calling thread and prints its report on standard
// output; on a console, a progress line is rewritten about once a second
// meanwhile. Tillwire.xml is read as a run reads it; a capture file is
// surveyed without one when there is none. Interrupting the thread
// (boost::thread::interrupt) ends it early, with the report. Returns 0 after
// the report, or kDamagedCaptureResult after the report of a capture that
// could not be read to its end (the reason printed after the report). Where a
// run could not start (Tillwire.xml, the adapter, the file, an unsupported
// link type), returns the run's StartFailure and exit code, its lines for the
// console only; nothing is logged.
OrStartFailure<int> RunSurvey(const SurveyRequest& request);

}  // namespace tillwire

#endif
