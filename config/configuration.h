// Tillwire.xml: the adapter to capture on, the NVRs and the terminals.
//
// Read in two steps of an engine run: the document is loaded before the
// capture source is opened (that needs the adapter address), and the tables
// are built once the run can make listeners (each accepted terminal's
// listener is made as the walk reaches it, so the log shows the file's order).
#ifndef TILLWIRE_CONFIG_CONFIGURATION_H
#define TILLWIRE_CONFIG_CONFIGURATION_H

#include "config/terminal.h"
#include "engine/start_failure.h"

#include <tinyxml.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tillwire {

namespace text {
inline constexpr char kConfigurationFileName[] = "Tillwire.xml";
inline constexpr char kFailedToLoadConfiguration[] = "Failed to load Tillwire.xml. Exiting.";
inline constexpr char kNoRootElement[] = "Failed to get config root element. Exiting.";
inline constexpr char kNvrAlreadyDefinedPrefix[] = "NVR ";
inline constexpr char kNvrAlreadyDefinedSuffix[] = " already defined.  Skipping duplicate.";
inline constexpr char kInvalidTerminal[] =
    "Invalid Terminal entry. No valid SrcAddress or DstAddress found. Skipping.";
inline constexpr char kNvrPortInUsePrefix[] = "NVR Port ";
inline constexpr char kNvrPortInUseSuffix[] = " is already in use. Ignoring.";
}  // namespace text

// A loaded Tillwire.xml: the document, kept for BuildTables, and the
// SniffAdapterAddress of its last Network element, if that one has it.
struct Configuration {
  std::unique_ptr<TiXmlDocument> document;
  std::optional<std::string> adapterAddress;
};

// One NVR named in the file; the table serves to report an address listed twice.
struct NVRData {
  std::string address;
};
using NvrTable = std::map<std::string, std::unique_ptr<NVRData>>;

// What BuildTables makes. The terminals are destroyed first, with their listeners.
struct Tables {
  NvrTable nvrTable;
  TerminalTable terminalTable;
};

// Loads the given file: the configuration, or (logging nothing) the failure:
// kExitConfigurationNotLoaded for a file that cannot be loaded or parsed (its
// fixed line, then the reason in a line of its own), kExitNoRootElement for a
// document without a root element.
OrStartFailure<Configuration> ReadConfiguration(const std::string& path);

// ReadConfiguration of Tillwire.xml in the program directory.
OrStartFailure<Configuration> LoadConfiguration();

// Builds the NVR and terminal tables from a loaded document. Calls
// makeListener (when it is set) for each accepted terminal, in file order, and
// keeps what it makes with the terminal. Skipped entries are logged where the user has
// something to mend; an empty terminal table is the caller's to handle.
Tables BuildTables(const TiXmlDocument& document, const ListenerFactory& makeListener);

}  // namespace tillwire

#endif
