#include "source/capture_library.h"

#include "source/source_texts.h"

#include <windows.h>

namespace tillwire {

namespace {

// Every function of source/wpcap.def, generated from it by the build.
const char* const kFunctions[] = {
#include "source/wpcap_functions.inc"
};

// Loads wpcap.dll as Npcap advises: its own directory, System32\Npcap, joins
// the search path before the load (it holds Npcap's wpcap.dll and the
// Packet.dll that this one imports), and the DLL is loaded only now. The
// search still starts in the program's directory and falls back to System32,
// where WinPcap and Npcap's WinPcap-compatible mode put theirs. The module
// stays loaded for the life of the process; the delay-load helper that
// resolves the program's pcap calls finds it loaded under the same name.
HMODULE LoadWpcap() {
  char directory[MAX_PATH];
  const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    SetDllDirectoryA((std::string(directory, length) + "\\Npcap").c_str());
  }
  return LoadLibraryA("wpcap.dll");
}

}  // namespace

std::optional<std::string> LoadCaptureLibrary() {
  static bool loaded = false;
  if (loaded) return std::nullopt;
  HMODULE module = LoadWpcap();
  if (module == nullptr) return std::string(text::kNoCaptureLibrary);
  // A call into a missing function would end the process from inside the
  // delay-load helper; an old or foreign wpcap.dll is refused here instead.
  for (const char* name : kFunctions) {
    if (GetProcAddress(module, name) == nullptr) {
      return text::CaptureLibraryIncompleteLine(name);
    }
  }
  loaded = true;
  return std::nullopt;
}

}  // namespace tillwire
