// Tillwire.xml: the adapter to capture on, the NVRs and the terminals.
//
// Read once, into values: the adapter address, the NVR and terminal tables
// and the walk over the file's terminals. Reading logs nothing: what the user
// reads about the file (why it failed, which entries were skipped) comes back
// as lines, in the file's order, for the run to log when it makes the
// terminals' listeners (TerminalConnections), after its capture source is
// open. The XML parser stays inside config/.
#ifndef TILLWIRE_CONFIG_CONFIGURATION_H
#define TILLWIRE_CONFIG_CONFIGURATION_H

#include "config/terminal.h"

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
inline constexpr char kInvalidTerminal[] =
    "Invalid Terminal entry. No valid SrcAddress or DstAddress found. Skipping.";
// "NVR ADDRESS already defined.  Skipping duplicate."
std::string NvrAlreadyDefined(const std::string& address);
// "NVR Port PORT is already in use. Ignoring."
std::string NvrPortInUse(const std::string& nvrPort);
}  // namespace text

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

// The NVR and terminal tables of Tillwire.xml, with the walk that led to them.
struct Tables {
  NvrTable nvrTable;
  TerminalTable terminalTable;
  // Every accepted terminal and every note, in the order the walk met them,
  // so that the run can log the notes and open each terminal's listener
  // (which logs too) in the file's order.
  std::vector<TableStep> walk;
};

// A read Tillwire.xml: the SniffAdapterAddress of its last Network element,
// if that one has it, its tables, and the TextfileDirectory of its last
// Metrics element, if that one has a value there (the directory into which a
// live run writes its metrics file). An empty terminal table is the caller's
// to handle.
struct Configuration {
  std::optional<std::string> adapterAddress;
  Tables tables;
  std::optional<std::string> metricsDirectory;
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

// Reads the given file: the configuration, or the failure.
std::variant<Configuration, ConfigurationFailure> ReadConfiguration(const std::string& path);

// ReadConfiguration of Tillwire.xml in the program directory.
std::variant<Configuration, ConfigurationFailure> LoadConfiguration();

}  // namespace tillwire

#endif
