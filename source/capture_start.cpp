#include "source/capture_start.h"

#include "capture/link_layer.h"
#include "source/capture_source.h"
#include "source/source_texts.h"

#include <boost/thread/exceptions.hpp>

#include <utility>

namespace tillwire {

namespace {

// The capture source (OpenCaptureSource), or nothing after a stop request
// that came while a pipe's capture header was awaited.
std::optional<OrStartFailure<CaptureHandle>> OpenUnlessStopped(
    const std::string& captureFile, const std::optional<std::string>& adapterAddress,
    std::string* shownSource) {
  try {
    return OpenCaptureSource(captureFile, adapterAddress, shownSource);
  } catch (const boost::thread_interrupted&) {
    return std::nullopt;
  }
}

}  // namespace

CaptureStart StartCapture(const std::string& captureFile,
                          const std::optional<std::string>& adapterAddress,
                          boost::asio::io_context& eventQueue, std::string* shownSource) {
  std::optional<OrStartFailure<CaptureHandle>> opened =
      OpenUnlessStopped(captureFile, adapterAddress, shownSource);
  if (!opened) {
    if (shownSource != nullptr) *shownSource = text::FileSource(captureFile);
    return StoppedBeforeCapture{};
  }
  if (StartFailure* failure = std::get_if<StartFailure>(&*opened)) {
    if (shownSource != nullptr) failure->shown = FailureShown::kConsole;
    return std::move(*failure);
  }
  CaptureHandle handle = std::move(std::get<CaptureHandle>(*opened));
  const int dataLinkType = pcap_datalink(handle.get());
  if (!LinkLayerOf(dataLinkType)) {
    return UnsupportedLinkType{
        text::UnsupportedLinkTypeLine(dataLinkType, pcap_datalink_val_to_name(dataLinkType))};
  }
  const bool live = captureFile.empty() && shownSource == nullptr;
  return CaptureStart(std::in_place_type<CaptureSession>, std::move(handle), eventQueue,
                      live ? adapterAddress : std::nullopt);
}

}  // namespace tillwire
