// Payload text as the survey prints it: readable on a UTF-8 console, its
// secrets masked (capture/secret_mask.h), cut to the columns it may take.
#ifndef TILLWIRE_SURVEY_SHOWN_TEXT_H
#define TILLWIRE_SURVEY_SHOWN_TEXT_H

#include "platform/text_encoding.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tillwire {

// The line `bytes` (as FirstLine or a stored receipt line keeps it) in
// UTF-8: converted from its encoding, or, without one, with every byte of
// 0x80 and above shown as '.'; masked as read whole, then cut to `columns`
// columns (two for a wide character) and without blanks at its end. A
// character that the end of `bytes` cut short is left out.
std::string ShownText(std::string_view bytes, std::optional<TextEncoding> encoding,
                      std::size_t columns);

}  // namespace tillwire

#endif
