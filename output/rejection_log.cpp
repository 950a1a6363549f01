#include "output/rejection_log.h"

#include "log/log_file.h"

#include <boost/asio/error.hpp>

namespace tillwire {

RejectionLog::RejectionLog(boost::asio::io_service& eventQueue, const std::string& nvrPort,
                           const RejectionLimits& limits)
    : nvrPort(nvrPort), limits(limits), periodEnd(eventQueue) {}

RejectionLog::~RejectionLog() {
  boost::system::error_code ignored;
  periodEnd.cancel(ignored);
  LogCount();
}

void RejectionLog::Rejected(const std::string& peerAddress) {
  if (remembered.count(peerAddress) != 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (notLogged == 0 && now - periodStart >= limits.period) {
    periodStart = now;
    linesInPeriod = 0;
  }
  if (linesInPeriod < limits.linesPerPeriod) {
    ++linesInPeriod;
    LogFile::Instance().StartLine() << text::kRejectedConnectionPrefix << peerAddress
                                    << text::kRejectedConnectionPort << nvrPort << std::endl;
    if (remembered.size() < limits.maxRemembered) remembered.insert(peerAddress);
    return;
  }
  if (notLogged++ == 0) {
    periodEnd.expires_at(periodStart + limits.period);
    periodEnd.async_wait(
        [this](const boost::system::error_code& error) { HandlePeriodEnd(error); });
  }
}

void RejectionLog::HandlePeriodEnd(const boost::system::error_code& error) {
  if (error == boost::asio::error::operation_aborted) return;
  LogCount();
  periodStart = std::chrono::steady_clock::now();
  linesInPeriod = 0;
}

void RejectionLog::LogCount() {
  if (notLogged == 0) return;
  LogFile::Instance().StartLine() << text::kRejectionsNotLoggedPrefix << notLogged
                                  << text::kRejectedConnectionPort << nvrPort << std::endl;
  notLogged = 0;
}

}  // namespace tillwire
