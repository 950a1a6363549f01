// One run of the capture engine, from the start banner to the end of capture.
#ifndef TILLWIRE_RUN_ENGINE_H
#define TILLWIRE_RUN_ENGINE_H

#include "capture/frame_router.h"
#include "outcome/exit_codes.h"
#include "outcome/start_failure.h"
#include "output/terminal_connections.h"
#include "report/run_health.h"
#include "run/playback_pacer.h"
#include "source/capture_session.h"
#include "source/read_loop.h"

#include <boost/asio/io_context.hpp>

#include <string>
#include <vector>

namespace tillwire {

// Runs the whole job: loads Tillwire.xml, opens the capture source (the named
// capture file, or live capture when captureFile is empty), listens for every
// terminal's NVR and forwards the matched payloads until the end of the file
// or until the calling thread is interrupted (boost::thread::interrupt), which
// it notices within kStopCheck (a tenth of a second), in its waits too. In
// playback it first gives the NVRs ten seconds to connect, keeps the replay from outrunning the
// NVRs that read, and at the end lets the writes under way finish, as long
// as their NVRs make progress, before closing. In live capture a lost adapter
// is looked for again until it is back. Returns 0 after the end of the file or
// a stop request, kNoTerminalsResult or kEngineErrorResult, kDamagedCaptureResult
// for a capture file that could not be read to its end (what came before the
// damage is delivered, as at the end of a file), or kUnsupportedLinkTypeResult
// for a capture of a link type that cannot be decoded (outcome/exit_codes.h).
// A configuration or capture source that cannot be opened is returned as a
// StartFailure, its lines not yet logged: the caller ends the process.
// A live run keeps the service's health (RunHealth: the status text, the
// hourly summary, silent terminals). A playback with terminals to serve
// fills report, when given, with the PlaybackReport of its terminals once it
// has reached the capture's end (or its damage), or once a stop request ended
// it: then of what was handed over up to the stop.
OrStartFailure<int> RunEngine(const std::string& captureFile,
                              std::vector<std::string>* report = nullptr);

// The parts of a run, for measuring them apart.

// The playback start: ten seconds in which NVRs can connect (ServeUntil).
void WaitForNvrs(boost::asio::io_context& eventQueue);

// The run's read loop (ReadFrames, source/read_loop.h): reads the session's
// frames and hands them to the router until the end of the capture file. At
// every look it serves the event queue, checks for a stop request, and then
// in playback (with a pacer) lets NVRs that are behind catch up, does the
// session's periodic work (the drop report) and in live capture (with
// health) keeps the health's reports due. Read errors are logged once per
// episode; a live session is then reopened once its adapter is back. In
// playback a read error ends the loop: the bytes after it cannot be trusted
// to be frames. Returns ReadEnd::kEndOfFile or kReadError; raises
// boost::thread_interrupted when the thread is interrupted.
ReadEnd RunCaptureLoop(CaptureSession& session, boost::asio::io_context& eventQueue,
                       FrameRouter<TerminalConnections>& router, PlaybackPacer* pacer,
                       RunHealth* health = nullptr);

}  // namespace tillwire

#endif
