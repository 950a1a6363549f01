#include "capture/printed_values.h"

#include <cstdio>

namespace tillwire {

namespace {

// Reads a decimal number without sign or leading zero ("0" itself is fine) of
// at most maxDigits digits from text at *position; advances *position.
std::optional<unsigned> ReadDecimal(const std::string& text, std::size_t* position,
                                    std::size_t maxDigits) {
  const std::size_t begin = *position;
  unsigned value = 0;
  while (*position < text.size() && *position - begin < maxDigits && text[*position] >= '0' &&
         text[*position] <= '9') {
    value = value * 10 + static_cast<unsigned>(text[*position] - '0');
    ++*position;
  }
  const std::size_t digits = *position - begin;
  if (digits == 0 || (digits > 1 && text[begin] == '0')) return std::nullopt;
  return value;
}

struct FilterField {
  const char* attribute;
  std::string TerminalFilter::*text;
  UnmatchableFilter::Kind kind;
};

const FilterField kFilterFields[] = {
    {"SrcAddress", &TerminalFilter::srcAddress, UnmatchableFilter::Kind::kAddress},
    {"DstAddress", &TerminalFilter::dstAddress, UnmatchableFilter::Kind::kAddress},
    {"SrcPort", &TerminalFilter::srcPort, UnmatchableFilter::Kind::kPort},
    {"DstPort", &TerminalFilter::dstPort, UnmatchableFilter::Kind::kPort},
};

bool CanMatch(const std::string& text, UnmatchableFilter::Kind kind) {
  if (text.empty()) return true;
  return kind == UnmatchableFilter::Kind::kAddress ? ParseIpv4Text(text).has_value()
                                                   : ParsePortText(text).has_value();
}

}  // namespace

std::optional<std::uint32_t> ParseIpv4Text(const std::string& text) {
  std::uint32_t address = 0;
  std::size_t position = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (position >= text.size() || text[position] != '.') return std::nullopt;
      ++position;
    }
    const std::optional<unsigned> value = ReadDecimal(text, &position, 3);
    if (!value || *value > 255) return std::nullopt;
    address = (address << 8) | *value;
  }
  if (position != text.size()) return std::nullopt;
  return address;
}

std::optional<std::uint16_t> ParsePortText(const std::string& text) {
  std::size_t position = 0;
  const std::optional<unsigned> value = ReadDecimal(text, &position, 5);
  if (!value || *value > 65535 || position != text.size()) return std::nullopt;
  return static_cast<std::uint16_t>(*value);
}

std::string Ipv4Text(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFFu,
                (address >> 8) & 0xFFu, address & 0xFFu);
  return text;
}

std::vector<UnmatchableFilter> NeverMatchingFilters(const TerminalFilter& filter) {
  std::vector<UnmatchableFilter> unmatchable;
  for (const FilterField& field : kFilterFields) {
    const std::string& text = filter.*field.text;
    if (!CanMatch(text, field.kind)) {
      unmatchable.push_back(UnmatchableFilter{field.attribute, field.kind, text});
    }
  }
  return unmatchable;
}

}  // namespace tillwire
