// Whether standard output is a console (a terminal) that a line can be
// rewritten on, rather than a file or a pipe.
#ifndef TILLWIRE_PLATFORM_CONSOLE_OUTPUT_H
#define TILLWIRE_PLATFORM_CONSOLE_OUTPUT_H

namespace tillwire {

bool StandardOutputIsConsole();

}  // namespace tillwire

#endif
