// The program's console texts as an installer reads them, written out once
// for every test that checks them byte for byte.
#ifndef TILLWIRE_TESTS_SUPPORT_CONSOLE_TEXTS_H
#define TILLWIRE_TESTS_SUPPORT_CONSOLE_TEXTS_H

#include <string>

namespace tillwire {

// The usage's lines that name the system's commands to start and stop the
// installed service.
extern const char kExpectedServiceCommands[];

// The usage, with the system's service commands.
std::string ExpectedUsage();

// The help for a person who starts the service's program from a console.
extern const char kExpectedConsoleHelp[];

}  // namespace tillwire

#endif
