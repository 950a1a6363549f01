// The start of a capture, the run's and the survey's alike: the capture
// source opened (OpenCaptureSource) and its link type checked, answering the
// session that owns the handle, or why there is none.
#ifndef TILLWIRE_SOURCE_CAPTURE_START_H
#define TILLWIRE_SOURCE_CAPTURE_START_H

#include "outcome/start_failure.h"
#include "source/capture_session.h"

#include <boost/asio/io_context.hpp>

#include <optional>
#include <string>
#include <variant>

namespace tillwire {

// A start cut short by a stop request while a pipe's capture header was
// awaited: nothing was opened.
struct StoppedBeforeCapture {};

// A capture of a link type that the decoder does not know (its handle is
// closed): the line that says so (text::UnsupportedLinkTypeLine). The run
// logs it and ends with kUnsupportedLinkTypeResult; the survey fails to
// start with it.
struct UnsupportedLinkType {
  std::string line;
};

// What a start answers. The session cannot be moved: keep the answer where
// StartCapture returned it.
using CaptureStart =
    std::variant<CaptureSession, StoppedBeforeCapture, UnsupportedLinkType, StartFailure>;

// Opens the capture file (captureFile not empty) or the live adapter of
// adapterAddress and checks the capture's link type. The session reads on
// eventQueue, which must outlive it.
//
// Without shownSource (the run) the source's line is logged as it opens
// ("Playing from ...", "Listening on ..."), and a live session reports its
// drops and finds a lost adapter again. With it (the survey) nothing is
// logged, now or later: the source's name is stored there (the capture
// file's also after a stop), a StartFailure is for the console only, and a
// live session neither reports drops nor reopens its adapter, so that a
// read error ends its reading.
CaptureStart StartCapture(const std::string& captureFile,
                          const std::optional<std::string>& adapterAddress,
                          boost::asio::io_context& eventQueue, std::string* shownSource = nullptr);

}  // namespace tillwire

#endif
