#include "output/accept_retry.h"

#include "log/log_file.h"
#include "output/output_texts.h"

#include <boost/asio/error.hpp>
#include <boost/system/error_code.hpp>

namespace tillwire {

AcceptRetry::AcceptRetry(boost::asio::io_context& eventQueue, const std::string& nvrPort,
                         std::function<void()> retry)
    : terminalPort(TerminalPortPrefix(nvrPort)), retry(std::move(retry)), pause(eventQueue) {}

AcceptRetry::~AcceptRetry() {
  boost::system::error_code ignored;
  pause.cancel(ignored);
}

bool AcceptRetry::IsTransient(const boost::system::error_code& error) {
  return error == boost::asio::error::no_descriptors ||
         error == boost::system::errc::too_many_files_open_in_system ||
         error == boost::asio::error::no_buffer_space || error == boost::asio::error::no_memory;
}

void AcceptRetry::Failed(const boost::system::error_code& error) {
  if (!failing) {
    LogLine(text::AcceptFailedForNow(terminalPort, error.message()));
    failing = true;
  }
  pause.expires_after(kPause);
  pause.async_wait([this](const boost::system::error_code& waited) { HandlePauseOver(waited); });
}

void AcceptRetry::HandlePauseOver(const boost::system::error_code& error) {
  if (error == boost::asio::error::operation_aborted) return;
  retry();
}

}  // namespace tillwire
