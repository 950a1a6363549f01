// A bound on the rate of rejection lines, with a count of the refusals left
// out.
//
// Each terminal has one for its own port, and the run one for all terminals
// together, so that neither a flood on one port nor one spread over many can
// push the log's history out of both files. A period starts with a line; past
// the period's lines, refusals are counted, and the count is logged when the
// period ends (and when the quota is destroyed): "Rejected connections not
// logged one by one: COUNT" and the quota's scope, " on port PORT" or " on
// all ports".
#ifndef TILLWIRE_OUTPUT_REJECTION_QUOTA_H
#define TILLWIRE_OUTPUT_REJECTION_QUOTA_H

#include "output/output_texts.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <cstdint>
#include <string>

namespace tillwire {

// Rejection lines a minute for all terminals together.
inline constexpr int kRejectionLinesInAll = 30;

class RejectionQuota {
 public:
  // On the engine's event queue, which ends the periods. By default the
  // quota of all terminals together.
  explicit RejectionQuota(boost::asio::io_context& eventQueue,
                          int linesPerPeriod = kRejectionLinesInAll,
                          std::chrono::steady_clock::duration period = std::chrono::minutes(1),
                          const std::string& countScope = text::kOnAllPorts);
  // Logs the count of the period under way, if any.
  ~RejectionQuota();
  RejectionQuota(const RejectionQuota&) = delete;
  RejectionQuota& operator=(const RejectionQuota&) = delete;

  // Whether a line may be logged now. A new period starts here once the last
  // one is over and its count logged.
  bool HasRoom();
  // A line was logged.
  void Used() { ++linesInPeriod; }
  // A refusal was not logged: counted, and logged with the others at the end
  // of the period.
  void Counted();

 private:
  void HandlePeriodEnd(const boost::system::error_code& error);
  void LogCount();

  const int linesPerPeriod;
  const std::chrono::steady_clock::duration period;
  const std::string countScope;
  std::chrono::steady_clock::time_point periodStart;
  int linesInPeriod = 0;
  // Refusals not logged in this period; the period's end is awaited while
  // there are any.
  std::uint64_t notLogged = 0;
  boost::asio::steady_timer periodEnd;
};

}  // namespace tillwire

#endif
