// The systemd unit of the service, and the escaping its values need.
#ifndef TILLWIRE_PLATFORM_SYSTEMD_UNIT_H
#define TILLWIRE_PLATFORM_SYSTEMD_UNIT_H

#include <string>

namespace tillwire {

// The system user the service runs as. The Debian package creates it; a
// hand installation creates it before the service's first start.
inline constexpr char kServiceUser[] = "tillwire";

// The unit's whole text, the one that -install writes and the Debian package
// ships: described by description, a notify service that runs executablePath
// (a path RunnableBySystemd accepts), restarted a minute after a failure,
// started once the network is online (live capture chooses its adapter by
// address) and wanted by multi-user.target. It runs as kServiceUser with
// CAP_NET_RAW as its only capability, inside systemd's sandbox: the system
// read-only but for its log directory, /var/log/tillwire (LogDirectory()),
// no home directories, no devices, no kernel settings, and only the sockets
// and system calls that capture and NVR output use. The program directory
// must be readable by kServiceUser and lie outside /home, /root and
// /run/user.
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
