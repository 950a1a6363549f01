#include "output/rejection_log.h"

#include "log/log_file.h"
#include "output/output_texts.h"

namespace tillwire {

RejectionLog::RejectionLog(boost::asio::io_context& eventQueue, const std::string& nvrPort,
                           RejectionQuota& allTerminals, const RejectionLimits& limits)
    : nvrPort(nvrPort),
      maxRemembered(limits.maxRemembered),
      ownLines(eventQueue, limits.linesPerPeriod, limits.period,
               text::OnPort(nvrPort)),
      allTerminals(allTerminals) {}

void RejectionLog::Rejected(const std::string& peerAddress) {
  if (remembered.count(peerAddress) != 0) return;
  if (!ownLines.HasRoom()) {
    ownLines.Counted();
    return;
  }
  if (!allTerminals.HasRoom()) {
    allTerminals.Counted();
    return;
  }
  ownLines.Used();
  allTerminals.Used();
  LogLine(text::RejectedConnection(peerAddress, nvrPort));
  if (remembered.size() < maxRemembered) remembered.insert(peerAddress);
}

}  // namespace tillwire
