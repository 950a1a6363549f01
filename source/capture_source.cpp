#include "source/capture_source.h"

#include "capture/printed_values.h"
#include "log/log_file.h"
#include "outcome/exit_codes.h"
#include "source/capture_adapter.h"
#include "source/capture_file.h"
#include "source/capture_library.h"
#include "source/source_texts.h"

#include <boost/thread/thread.hpp>

#include <cstdint>
#include <cstdio>
#include <memory>


namespace tillwire {

namespace {

using DeviceList = std::unique_ptr<pcap_if_t, decltype(&pcap_freealldevs)>;

// Logs the source's line (made by line from the source), or, with
// shownSource, stores the source there instead.
void ShowSource(std::string (*line)(const std::string& source), const std::string& source,
                std::string* shownSource) {
  if (shownSource != nullptr) {
    *shownSource = source;
  } else {
    LogLine(line(source));
  }
}

OrStartFailure<CaptureHandle> OpenPlayback(const std::string& captureFile, char* errorText,
                                           std::string* shownSource) {
  const std::string source = text::FileSource(captureFile);
  CaptureHandle handle = OpenCaptureFile(captureFile, errorText);
  if (handle == nullptr) {
    // A pipe whose header did not come before a stop is no broken file.
    boost::this_thread::interruption_point();
    return StartFailure{kExitCaptureNotOpened, {text::UnableToOpenFileLine(source), errorText}};
  }
  ShowSource(&text::PlayingFromLine, source, shownSource);
  return handle;
}

// The first device, in list order, that carries an IPv4 address whose text
// equals wanted byte for byte, or null.
const pcap_if_t* FindAdapter(const pcap_if_t* devices, const std::string& wanted) {
  for (const pcap_if_t* device = devices; device != nullptr; device = device->next) {
    for (const pcap_addr_t* entry = device->addresses; entry != nullptr; entry = entry->next) {
      if (entry->addr == nullptr) continue;
      const unsigned char* address = Ipv4AddressBytes(*entry->addr);
      if (address != nullptr && wanted == FormatIpv4(address)) return device;
    }
  }
  return nullptr;
}

// "Listening on" the adapter's description (or its name) and the address it
// was chosen by.
void ShowListeningOn(const pcap_if_t& adapter, const std::string& adapterAddress,
                     std::string* shownSource) {
  const char* shownName = adapter.description ? adapter.description : adapter.name;
  if (shownName != nullptr) {
    ShowSource(&text::ListeningOnLine, text::AdapterSource(shownName, adapterAddress),
               shownSource);
  }
}

OrStartFailure<CaptureHandle> OpenLive(const pcap_if_t* devices,
                                       const std::optional<std::string>& adapterAddress,
                                       char* errorText, std::string* shownSource) {
  if (devices == nullptr) {
    return StartFailure{kExitNoCaptureDevice, {text::kNoInterfaces},
                        FailureShown::kLogAndConsole};
  }
  if (!adapterAddress || adapterAddress->empty()) {
    return StartFailure{kExitNoCaptureDevice, {text::kNoAdapterAddress}};
  }
  const pcap_if_t* adapter = FindAdapter(devices, *adapterAddress);
  if (adapter == nullptr) {
    return StartFailure{kExitNoCaptureDevice, {text::kMatchingInterfaceNotFound}};
  }
  CaptureHandle handle = OpenCaptureAdapter(adapter->name, errorText);
  if (handle == nullptr) {
    // The fixed line names no reason; the library's follows it.
    return StartFailure{kExitCaptureNotOpened,
                        {text::UnableToOpenAdapterLine(adapter->name), errorText}};
  }
  ShowListeningOn(*adapter, *adapterAddress, shownSource);
  return handle;
}

}  // namespace

const char* FormatIpv4(const unsigned char* address) {
  static char slots[12][16];
  static std::int16_t slot = 0;
  slot = slot == 11 ? 0 : slot + 1;
  const std::uint32_t value = std::uint32_t{address[0]} << 24 | std::uint32_t{address[1]} << 16 |
                              std::uint32_t{address[2]} << 8 | address[3];
  std::snprintf(slots[slot], sizeof slots[slot], "%s", Ipv4Text(value).c_str());
  return slots[slot];
}

OrStartFailure<CaptureHandle> OpenCaptureSource(const std::string& captureFile,
                                                const std::optional<std::string>& adapterAddress,
                                                std::string* shownSource) {
  if (const std::optional<std::string> missing = LoadCaptureLibrary()) {
    return StartFailure{kExitNoCaptureDevice, {*missing}, FailureShown::kLogAndConsole};
  }
  char errorText[PCAP_ERRBUF_SIZE] = "";
  pcap_if_t* found = nullptr;
  if (pcap_findalldevs(&found, errorText) == -1) {
    return StartFailure{kExitNoCaptureDevice, {text::FindAllDevsFailedLine(errorText)}};
  }
  const DeviceList devices(found, &pcap_freealldevs);
  if (!captureFile.empty()) return OpenPlayback(captureFile, errorText, shownSource);
  return OpenLive(devices.get(), adapterAddress, errorText, shownSource);
}

}  // namespace tillwire
