#include "source/capture_session.h"

#include "capture/capture_filter.h"
#include "log/log_file.h"
#include "source/adapter_recovery.h"
#include "source/source_texts.h"

#include <utility>

namespace tillwire {

CaptureSession::CaptureSession(CaptureHandle handle, boost::asio::io_context& eventQueue,
                               std::optional<std::string> adapterAddress)
    : handle(std::move(handle)),
      eventQueue(eventQueue),
      adapterAddress(std::move(adapterAddress)),
      link(LinkLayerOf(pcap_datalink(this->handle.get())).value_or(LinkLayer::kEthernet)),
      reader(eventQueue, this->handle.get()) {
  // Only live capture drops frames.
  if (Live()) drops.emplace(this->handle.get());
}

CaptureSession::~CaptureSession() { Close(); }

void CaptureSession::SetFilter(const TerminalMatcher& matcher) {
  filterMatcher = &matcher;
  ApplyFilter();
}

void CaptureSession::Check(std::chrono::steady_clock::time_point now) {
  if (drops) drops->Check(now);
}

const char* CaptureSession::ErrorText() const { return pcap_geterr(handle.get()); }

void CaptureSession::Reopen() {
  UpdateCounters();
  Close();
  handle = FindAdapterAgain(*adapterAddress, eventQueue);
  ++reopens;
  reader.Follow(handle.get());
  ApplyFilter();
  if (drops) drops->Follow(handle.get());
  link = LinkLayerOf(pcap_datalink(handle.get())).value_or(link);
}

void CaptureSession::ApplyFilter() {
  if (filterMatcher == nullptr) return;
  const std::string expression =
      CaptureFilterExpression(*filterMatcher, pcap_datalink(handle.get()));
  if (expression.empty()) return;
  bpf_program program{};
  const bool compiled =
      pcap_compile(handle.get(), &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0;
  if (!compiled || pcap_setfilter(handle.get(), &program) != 0) {
    LogLine(text::FilterNotSetLine(pcap_geterr(handle.get())));
  }
  if (compiled) pcap_freecode(&program);
}

void CaptureSession::Close() {
  // The reader lets go of the handle's descriptor before the handle closes it.
  reader.Follow(nullptr);
  handle.reset();
}

}  // namespace tillwire
