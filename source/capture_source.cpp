#include "source/capture_source.h"

#include "capture/printed_values.h"
#include "log/log_file.h"
#include "outcome/exit_codes.h"
#include "source/capture_file.h"
#include "source/capture_library.h"

#include <boost/thread/thread.hpp>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/socket_address.h"

namespace tillwire {

namespace {

using DeviceList = std::unique_ptr<pcap_if_t, decltype(&pcap_freealldevs)>;

// Logs the source's line (its prefix, then the source), or, with shownSource,
// stores the source there instead.
void ShowSource(const char* prefix, const std::string& source, std::string* shownSource) {
  if (shownSource != nullptr) {
    *shownSource = source;
  } else {
    LogFile::Instance().StartLine() << prefix << source << std::endl;
  }
}

OrStartFailure<pcap_t*> OpenPlayback(const std::string& captureFile, char* errorText,
                                     std::string* shownSource) {
  const std::string source = text::kFileSourcePrefix + captureFile;
  pcap_t* handle = OpenCaptureFile(captureFile, errorText);
  if (handle == nullptr) {
    // A pipe whose header did not come before a stop is no broken file.
    boost::this_thread::interruption_point();
    return StartFailure{kExitCaptureNotOpened, {text::kUnableToOpenFilePrefix + source, errorText}};
  }
  ShowSource(text::kPlayingFromPrefix, source, shownSource);
  return handle;
}

// The first device, in list order, that carries an IPv4 address whose text
// equals wanted byte for byte, or null.
const pcap_if_t* FindAdapter(const pcap_if_t* devices, const std::string& wanted) {
  for (const pcap_if_t* device = devices; device != nullptr; device = device->next) {
    for (const pcap_addr_t* entry = device->addresses; entry != nullptr; entry = entry->next) {
      if (entry->addr == nullptr || entry->addr->sa_family != AF_INET) continue;
      const auto* address = reinterpret_cast<const sockaddr_in*>(entry->addr);
      if (wanted == FormatIpv4(reinterpret_cast<const unsigned char*>(&address->sin_addr))) {
        return device;
      }
    }
  }
  return nullptr;
}

// Opens a live handle on the adapter: whole frames, promiscuous, with the
// live read time-out and buffer; non-blocking where FrameReader waits for
// frames itself (off Windows). Null with the library's text in errorText.
pcap_t* OpenAdapter(const pcap_if_t& adapter, char* errorText) {
#ifdef _WIN32
  // WinPcap and Npcap size the driver's buffer after the open.
  pcap_t* handle = pcap_open_live(adapter.name, kSnapLength, 1, kLiveReadTimeoutMs, errorText);
  if (handle != nullptr) pcap_setbuff(handle, kLiveBufferBytes);
  return handle;
#else
  pcap_t* handle = pcap_create(adapter.name, errorText);
  if (handle == nullptr) return nullptr;
  pcap_set_snaplen(handle, kSnapLength);
  pcap_set_promisc(handle, 1);
  pcap_set_timeout(handle, kLiveReadTimeoutMs);
  pcap_set_buffer_size(handle, kLiveBufferBytes);
  // Reads that find no frame return at once, and FrameReader waits for the
  // next frames together with the event queue (Linux's packet ring times out
  // only once a frame has arrived, so a blocking read could wait for good).
  // A warning from the activation (above 0) still captures.
  if (pcap_activate(handle) < 0) {
    std::snprintf(errorText, PCAP_ERRBUF_SIZE, "%s", pcap_geterr(handle));
  } else if (pcap_setnonblock(handle, 1, errorText) == 0) {
    return handle;
  }
  pcap_close(handle);
  return nullptr;
#endif
}

// "Listening on " with the adapter's description (or its name) and the
// address it was chosen by.
void ShowListeningOn(const pcap_if_t& adapter, const std::string& adapterAddress,
                     std::string* shownSource) {
  const char* shownName = adapter.description ? adapter.description : adapter.name;
  if (shownName != nullptr) {
    ShowSource(text::kListeningOnPrefix, shownName + (" " + adapterAddress), shownSource);
  }
}

OrStartFailure<pcap_t*> OpenLive(const pcap_if_t* devices,
                                 const std::optional<std::string>& adapterAddress,
                                 char* errorText, std::string* shownSource) {
  if (devices == nullptr) {
    return StartFailure{kExitNoCaptureDevice, {text::kNoInterfaces}, true};
  }
  if (!adapterAddress || adapterAddress->empty()) {
    return StartFailure{kExitNoCaptureDevice, {text::kNoAdapterAddress}};
  }
  const pcap_if_t* adapter = FindAdapter(devices, *adapterAddress);
  if (adapter == nullptr) {
    return StartFailure{kExitNoCaptureDevice, {text::kMatchingInterfaceNotFound}};
  }
  pcap_t* handle = OpenAdapter(*adapter, errorText);
  if (handle == nullptr) {
    // The fixed line names no reason; the library's follows it.
    return StartFailure{kExitCaptureNotOpened,
                        {text::kUnableToOpenAdapterPrefix + std::string(adapter->name) +
                             text::kUnableToOpenAdapterSuffix,
                         errorText}};
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

OrStartFailure<pcap_t*> OpenCaptureSource(const std::string& captureFile,
                                          const std::optional<std::string>& adapterAddress,
                                          std::string* shownSource) {
  if (const std::optional<std::string> missing = LoadCaptureLibrary()) {
    return StartFailure{kExitNoCaptureDevice, {*missing}, true};
  }
  char errorText[PCAP_ERRBUF_SIZE] = "";
  pcap_if_t* found = nullptr;
  if (pcap_findalldevs(&found, errorText) == -1) {
    return StartFailure{kExitNoCaptureDevice,
                        {text::kFindAllDevsFailedPrefix + std::string(errorText)}};
  }
  const DeviceList devices(found, &pcap_freealldevs);
  if (!captureFile.empty()) return OpenPlayback(captureFile, errorText, shownSource);
  return OpenLive(devices.get(), adapterAddress, errorText, shownSource);
}

std::optional<LinkLayer> CaptureLinkLayer(pcap_t* captureHandle) {
  const std::optional<LinkLayer> link = LinkLayerOf(pcap_datalink(captureHandle));
  if (!link) LogFile::Instance().StartLine() << UnsupportedLinkTypeLine(captureHandle) << std::endl;
  return link;
}

std::string UnsupportedLinkTypeLine(pcap_t* captureHandle) {
  const int dataLinkType = pcap_datalink(captureHandle);
  const char* name = pcap_datalink_val_to_name(dataLinkType);
  return text::kUnsupportedLinkType + std::to_string(dataLinkType) + " (" +
         (name ? name : "unknown") + text::kUnsupportedLinkTypeEnd;
}

}  // namespace tillwire
