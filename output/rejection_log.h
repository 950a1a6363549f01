// The log lines about one terminal's refused connections.
//
// Each stranger is reported once per terminal, so that an installer sees who
// knocks; a flood of strangers must neither grow memory without bound nor
// push the log's history out of both files. So the addresses remembered as
// reported are bounded, and so is the rate of rejection lines: past that rate,
// refused connections are only counted, and the count is logged when the
// period ends (and when the terminal closes).
#ifndef TILLWIRE_OUTPUT_REJECTION_LOG_H
#define TILLWIRE_OUTPUT_REJECTION_LOG_H

#include <boost/asio/io_service.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

namespace tillwire {

namespace text {
inline constexpr char kRejectedConnectionPrefix[] = "Rejected connection from address: ";
inline constexpr char kRejectedConnectionPort[] = " on port ";
inline constexpr char kRejectionsNotLoggedPrefix[] = "Rejected connections not logged one by one: ";
}  // namespace text

struct RejectionLimits {
  // Reported addresses remembered per terminal; past this, a stranger not
  // remembered may be reported again.
  std::size_t maxRemembered = 1024;
  // Rejection lines per period and terminal; further refusals are counted.
  int linesPerPeriod = 10;
  std::chrono::steady_clock::duration period = std::chrono::minutes(1);
};

class RejectionLog {
 public:
  // For the terminal whose NvrPort text is nvrPort, on the engine's event
  // queue (which ends the periods).
  RejectionLog(boost::asio::io_service& eventQueue, const std::string& nvrPort,
               const RejectionLimits& limits = RejectionLimits());
  // Logs the count of the period under way, if any.
  ~RejectionLog();
  RejectionLog(const RejectionLog&) = delete;
  RejectionLog& operator=(const RejectionLog&) = delete;

  // One connection from peerAddress was refused: logged when the address has
  // not been reported yet and the period's lines allow it, counted when they
  // do not, silent when it was reported before.
  void Rejected(const std::string& peerAddress);

 private:
  void HandlePeriodEnd(const boost::system::error_code& error);
  void LogCount();

  const std::string nvrPort;
  const RejectionLimits limits;
  std::set<std::string> remembered;
  std::chrono::steady_clock::time_point periodStart;
  int linesInPeriod = 0;
  // Refusals not logged in this period; the period's end is awaited while
  // there are any.
  std::uint64_t notLogged = 0;
  boost::asio::steady_timer periodEnd;
};

}  // namespace tillwire

#endif
