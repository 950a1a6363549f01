// Tillwire.xml: the adapter to capture on, the NVRs and the terminals.
//
// Read in two steps of an engine run: the document is loaded before the
// capture source is opened (that needs the adapter address), and the tables
// are built once the run can make listeners. Both steps yield values and log
// nothing: what the user reads about the file (why it failed, which entries
// were skipped) comes back as lines, in the file's order, for the run to log.
#ifndef TILLWIRE_CONFIG_CONFIGURATION_H
#define TILLWIRE_CONFIG_CONFIGURATION_H

#include "config/terminal.h"

#include <tinyxml.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

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

// One step of the walk over the file's terminals, in file order: a line for
// the user, where an entry is skipped or named twice, or an accepted terminal.
struct TableStep {
  enum class Kind { kNote, kAccepted };
  Kind kind;
  std::string text;  // kNote: the line; kAccepted: the terminal's key in the table
};

// What BuildTables makes.
struct Tables {
  NvrTable nvrTable;
  TerminalTable terminalTable;
  // Every accepted terminal and every note, in the order the walk met them,
  // so that the run can log the notes and open each terminal's listener
  // (which logs too) in the file's order.
  std::vector<TableStep> walk;
};

// Why Tillwire.xml could not be read: the problem, and the lines that say it.
struct ConfigurationFailure {
  enum class Problem {
    kNotLoaded,      // cannot be loaded or parsed: the fixed line, then the reason
    kNoRootElement,  // a document without a root element: the fixed line
  };
  Problem problem;
  std::vector<std::string> lines;
};

// Loads the given file: the configuration, or the failure.
std::variant<Configuration, ConfigurationFailure> ReadConfiguration(const std::string& path);

// ReadConfiguration of Tillwire.xml in the program directory.
std::variant<Configuration, ConfigurationFailure> LoadConfiguration();

// Builds the NVR and terminal tables from a loaded document, with the walk
// that led to them. An empty terminal table is the caller's to handle.
Tables BuildTables(const TiXmlDocument& document);

}  // namespace tillwire

#endif
