// The console control handlers of a process as SetConsoleCtrlHandler keeps
// them, for platform/ and for the scripted fake of the Windows API, so that
// both hand events on in the same order. Not locked: copy it under the
// owner's lock and deliver from the copy, so that a handler may take that
// lock itself.
#ifndef TILLWIRE_PLATFORM_CONSOLE_HANDLERS_H
#define TILLWIRE_PLATFORM_CONSOLE_HANDLERS_H

#include "platform/windows_api.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <vector>

class ConsoleHandlers {
 public:
  void Add(PHANDLER_ROUTINE handler) { handlers.push_back(handler); }

  // Removes the handler added last of those equal to it; false when it was
  // not added.
  bool Remove(PHANDLER_ROUTINE handler) {
    const auto found = std::find(handlers.rbegin(), handlers.rend(), handler);
    if (found == handlers.rend()) return false;
    handlers.erase(std::next(found).base());
    return true;
  }

  // Hands the event to the handlers, the one added last first, until one
  // returns TRUE; false when none did.
  bool Deliver(DWORD event) const {
    return std::any_of(handlers.rbegin(), handlers.rend(),
                       [event](PHANDLER_ROUTINE handler) { return handler(event) != FALSE; });
  }

  std::size_t Count() const { return handlers.size(); }

 private:
  std::vector<PHANDLER_ROUTINE> handlers;  // in the order they were added
};

#endif
