// The printed forms of addresses and ports: what the log and the reports
// show, and what a terminal's filters are compared with ("%d.%d.%d.%d" for an
// address, "%d" for a port: no leading zeros, no blanks).
#ifndef TILLWIRE_CAPTURE_PRINTED_VALUES_H
#define TILLWIRE_CAPTURE_PRINTED_VALUES_H

#include <cstdint>
#include <optional>
#include <string>

namespace tillwire {

// The number whose "%d.%d.%d.%d" text is exactly the given text, if any.
std::optional<std::uint32_t> ParseIpv4Text(const std::string& text);
// The port whose "%d" text is exactly the given text, if any.
std::optional<std::uint16_t> ParsePortText(const std::string& text);

// The "%d.%d.%d.%d" text of an address held first byte first (0xC0A80A02 is
// "192.168.10.2").
std::string Ipv4Text(std::uint32_t address);

}  // namespace tillwire

#endif
