// Riding out accept failures that pass by themselves.
//
// An accept fails for lack of descriptors, buffers or memory when the process
// or the machine is short of them for a while; the connection waits in the
// listen queue meanwhile. Retrying at once would spin, giving up would leave
// the terminal deaf for the rest of the run, so such a failure is retried
// after a pause, as long as it lasts, and logged once per episode.
#ifndef TILLWIRE_OUTPUT_ACCEPT_RETRY_H
#define TILLWIRE_OUTPUT_ACCEPT_RETRY_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <functional>
#include <string>

namespace tillwire {

class AcceptRetry {
 public:
  // The pause between two tries of a failing accept.
  static constexpr std::chrono::seconds kPause{1};

  // For the terminal whose NvrPort text is nvrPort; retry is called (on the
  // event queue) when the pause of a failure is over.
  AcceptRetry(boost::asio::io_context& eventQueue, const std::string& nvrPort,
              std::function<void()> retry);
  ~AcceptRetry();
  AcceptRetry(const AcceptRetry&) = delete;
  AcceptRetry& operator=(const AcceptRetry&) = delete;

  // True for the failures that pass by themselves: out of descriptors (of the
  // process or of the system), of buffer space or of memory.
  static bool IsTransient(const boost::system::error_code& error);

  // A transient failure: logs it when it starts an episode, and calls retry
  // after the pause.
  void Failed(const boost::system::error_code& error);
  // An accept completed: a later failure starts a new episode.
  void Succeeded() { failing = false; }

 private:
  void HandlePauseOver(const boost::system::error_code& error);

  // "Terminal port PORT", the start of the episode's line.
  const std::string terminalPort;
  std::function<void()> retry;
  boost::asio::steady_timer pause;
  bool failing = false;
};

}  // namespace tillwire

#endif
