// Reading UTF-8 text as the survey shows it: its characters one by one, and
// the columns they take on a console.
#ifndef TILLWIRE_SURVEY_UNICODE_TEXT_H
#define TILLWIRE_SURVEY_UNICODE_TEXT_H

#include <cstddef>
#include <string_view>

namespace tillwire {

// The character that begins at text[at], `at` moved past it. A byte that
// begins no valid sequence reads as itself, one byte long.
char32_t NextCharacter(std::string_view text, std::size_t& at);

// Whether a character takes two columns on a console: the wide characters of
// East Asian scripts (Han, kana, Hangul, full-width forms).
bool IsWide(char32_t character);

// How many bytes of text fit in `columns` columns, whole characters only.
std::size_t BytesWithin(std::string_view text, std::size_t columns);

// The columns the text takes.
std::size_t ColumnsOf(std::string_view text);

}  // namespace tillwire

#endif
