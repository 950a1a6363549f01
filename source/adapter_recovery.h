// Finding a lost live adapter again.
//
// Reads from a live adapter fail for good once it is gone (unplugged, its
// driver restarted, a virtual adapter deleted). The engine then closes the
// handle and looks for the adapter again by its SniffAdapterAddress, every
// kAdapterRetryInterval, until it is back; meanwhile it keeps serving the
// event queue, so NVR connections stay up and accepts go on, and a stop
// request is noticed within kStopCheck (a tenth of a second).
#ifndef TILLWIRE_SOURCE_ADAPTER_RECOVERY_H
#define TILLWIRE_SOURCE_ADAPTER_RECOVERY_H

#include "source/capture_handle.h"

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <string>

namespace tillwire {

// The pause before each attempt to open a lost adapter again.
inline constexpr std::chrono::seconds kAdapterRetryInterval(3);

// Waits kAdapterRetryInterval and tries to open the adapter that carries
// adapterAddress, until that succeeds, then logs "Listening on ..." and
// returns the handle. Failed attempts are not logged. Serves the event queue
// while it waits (ServeUntil) and checks for a stop request at least every
// kStopCheck; raises boost::thread_interrupted on a stop.
CaptureHandle FindAdapterAgain(const std::string& adapterAddress,
                               boost::asio::io_context& eventQueue);

}  // namespace tillwire

#endif
