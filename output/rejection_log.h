// The log lines about one terminal's refused connections.
//
// Each stranger is reported once per terminal, so that an installer sees who
// knocks; a flood of strangers must neither grow memory without bound nor
// push the log's history out of both files. So the addresses remembered as
// reported are bounded, and so is the rate of rejection lines, for the
// terminal and for all terminals together: past either rate, refused
// connections are only counted (see RejectionQuota).
#ifndef TILLWIRE_OUTPUT_REJECTION_LOG_H
#define TILLWIRE_OUTPUT_REJECTION_LOG_H

#include "output/rejection_quota.h"

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <cstddef>
#include <set>
#include <string>

namespace tillwire {

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
  // queue (which ends the periods). allTerminals is the run's quota for all
  // terminals together; it must outlive this log.
  RejectionLog(boost::asio::io_context& eventQueue, const std::string& nvrPort,
               RejectionQuota& allTerminals, const RejectionLimits& limits = RejectionLimits());
  RejectionLog(const RejectionLog&) = delete;
  RejectionLog& operator=(const RejectionLog&) = delete;

  // One connection from peerAddress was refused: logged when the address has
  // not been reported yet and both the terminal's and all terminals' lines
  // allow it; counted, by the terminal or with all terminals, when one of them
  // does not; silent when it was reported before. The terminal's count is
  // logged at the end of its period and when it closes.
  void Rejected(const std::string& peerAddress);

 private:
  const std::string nvrPort;
  const std::size_t maxRemembered;
  std::set<std::string> remembered;
  RejectionQuota ownLines;
  RejectionQuota& allTerminals;
};

}  // namespace tillwire

#endif
