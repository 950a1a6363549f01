// How the platform's own tools start, stop and show the installed service,
// for the program's usage and console help.
#ifndef TILLWIRE_PLATFORM_SERVICE_COMMANDS_H
#define TILLWIRE_PLATFORM_SERVICE_COMMANDS_H

namespace tillwire {

// The commands that start and stop the installed service.
extern const char kServiceStartCommand[];
extern const char kServiceStopCommand[];

// What a console start without options prints: how to install and start the
// service with the platform's tools. A printf format with two "%s", both the
// service's name.
extern const char kConsoleHelpFormat[];

}  // namespace tillwire

#endif
