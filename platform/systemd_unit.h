// The systemd unit of the service, and the escaping its values need.
#ifndef TILLWIRE_PLATFORM_SYSTEMD_UNIT_H
#define TILLWIRE_PLATFORM_SYSTEMD_UNIT_H

#include <string>

namespace tillwire {

// The unit's whole text: described by description, a notify service that
// runs executablePath (a path RunnableBySystemd accepts), restarted a minute
// after a failure, started once the network is online (live capture chooses
// its adapter by address) and wanted by multi-user.target.
std::string ServiceUnitText(const std::string& description, const std::string& executablePath);

// A text as the value of a setting that expands specifiers (Description=):
// '%' doubled, line breaks turned into blanks.
std::string UnitValue(const std::string& text);

// Whether systemd runs an executable at path: it refuses paths that hold a
// quote, a backslash or a control character.
bool RunnableBySystemd(const std::string& path);

// A runnable path as the executable word of ExecStart=: '%' doubled (a
// specifier otherwise) and, when it holds a blank, in double quotes so that
// systemd reads one word. '$' stays as it is: systemd takes the executable's
// path literally.
std::string ExecWord(const std::string& path);

}  // namespace tillwire

#endif
