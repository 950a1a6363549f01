// Tillwire.xml: the adapter to capture on, the NVRs and the terminals.
//
// Read in two steps of an engine run: LoadConfiguration before the capture
// source is opened (it needs the adapter address), BuildTables once the event
// queue exists (every terminal's listener is created on it).
#ifndef TILLWIRE_CONFIG_CONFIGURATION_H
#define TILLWIRE_CONFIG_CONFIGURATION_H

#include "config/terminal.h"

#include <boost/asio/io_service.hpp>
#include <tinyxml.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace text {
inline constexpr char kConfigurationFileName[] = "Tillwire.xml";
inline constexpr char kFailedToLoadConfiguration[] = "Failed to load Tillwire.xml. Exiting.";
inline constexpr char kNoRootElement[] = "Failed to get config root element. Exiting.";
inline constexpr char kNvrAlreadyDefined[] = "NVR ";
inline constexpr char kNvrAlreadyDefinedEnd[] = " already defined.  Skipping duplicate.";
inline constexpr char kInvalidTerminal[] =
    "Invalid Terminal entry. No valid SrcAddress or DstAddress found. Skipping.";
inline constexpr char kNvrPortInUse[] = "NVR Port ";
inline constexpr char kNvrPortInUseEnd[] = " is already in use. Ignoring.";
}  // namespace text

// Exit codes of a configuration that cannot be used.
inline constexpr int kExitConfigurationNotLoaded = -1;
inline constexpr int kExitNoRootElement = -2;

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

// Loads Tillwire.xml from the program directory.
Configuration LoadConfiguration();
// Loads the given file. A file that cannot be loaded or parsed is logged and
// ends the process with -1; a document without a root element with -2.
Configuration LoadConfiguration(const std::string& path);

// Builds the NVR and terminal tables from a loaded document, creating every
// terminal's listener on the event queue. Skipped entries are logged where the
// user has something to mend; never ends the process (an empty terminal table
// is the caller's to handle).
Tables BuildTables(const TiXmlDocument& document, boost::asio::io_service& eventQueue);

#endif
