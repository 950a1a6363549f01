// The ports on which printers take print jobs.
#ifndef TILLWIRE_CAPTURE_PRINTER_PORTS_H
#define TILLWIRE_CAPTURE_PRINTER_PORTS_H

#include <cstdint>

namespace tillwire {

// Raw printing (9100 to 9102), LPD (515) and IPP (631).
inline bool IsPrinterPort(std::uint16_t port) {
  return port == 515 || port == 631 || (port >= 9100 && port <= 9102);
}

}  // namespace tillwire

#endif
