#include "output/rejection_quota.h"

#include "log/log_file.h"
#include "output/output_texts.h"

#include <boost/asio/error.hpp>

namespace tillwire {

RejectionQuota::RejectionQuota(boost::asio::io_context& eventQueue, int linesPerPeriod,
                               std::chrono::steady_clock::duration period,
                               const std::string& countScope)
    : linesPerPeriod(linesPerPeriod),
      period(period),
      countScope(countScope),
      periodEnd(eventQueue) {}

RejectionQuota::~RejectionQuota() {
  boost::system::error_code ignored;
  periodEnd.cancel(ignored);
  LogCount();
}

bool RejectionQuota::HasRoom() {
  const auto now = std::chrono::steady_clock::now();
  if (notLogged == 0 && now - periodStart >= period) {
    periodStart = now;
    linesInPeriod = 0;
  }
  return linesInPeriod < linesPerPeriod;
}

void RejectionQuota::Counted() {
  if (notLogged++ == 0) {
    periodEnd.expires_at(periodStart + period);
    periodEnd.async_wait(
        [this](const boost::system::error_code& error) { HandlePeriodEnd(error); });
  }
}

void RejectionQuota::HandlePeriodEnd(const boost::system::error_code& error) {
  if (error == boost::asio::error::operation_aborted) return;
  LogCount();
  periodStart = std::chrono::steady_clock::now();
  linesInPeriod = 0;
}

void RejectionQuota::LogCount() {
  if (notLogged == 0) return;
  LogLine(text::RejectionsNotLogged(notLogged, countScope));
  notLogged = 0;
}

}  // namespace tillwire
