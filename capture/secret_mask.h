// What the survey hides of the payload text it prints: the report shows text
// from every conversation on the mirror port, and is pasted into tickets.
//
// - A card number: 13 to 19 digits, possibly grouped with single blanks or
//   dashes, that passes the Luhn check, shows its first 6 and last 4 digits;
//   the digits between read '*', its separators stay where they were (the
//   text keeps its width). Digits that fail the check stay as they are. In a
//   longer run of groups ("4111 1111 1111 1111 12"), every stretch of whole
//   groups with 13 to 19 digits is checked; a run of more than 19 digits
//   without separators is no card number.
// - The value after a credential key (pass, password, pwd, passwd, secret,
//   token, auth, apikey, key; any case; a whole word, letters and digits
//   being a word's characters, so "api_key" and "X-Auth-Token" count), the
//   key maybe in quotes, then '=' or ':' with optional blanks on both sides,
//   reads "***" up to the next '&', ';', blank or line end; a value in quotes
//   reads "***" between its quotes.
// - After PASS, AUTH or LOGIN and a blank at a line's start (any case), the
//   rest of the line reads "***" (for LOGIN the user too: "LOGIN alice
//   hunter2" and IMAP's quoted "LOGIN \"a b\" \"c d\"" alike).
// - The value of an Authorization (or Proxy-Authorization) header, to the
//   line's end, reads "***".
// Lines end at CR or LF. Pure functions: nothing allocated but the answer.
#ifndef TILLWIRE_CAPTURE_SECRET_MASK_H
#define TILLWIRE_CAPTURE_SECRET_MASK_H

#include <cstddef>
#include <string>
#include <string_view>

namespace tillwire {

// The most characters a card number takes: 19 digits and 18 separators.
inline constexpr std::size_t kLongestCardText = 37;

// The text with its secrets masked.
std::string MaskSecrets(std::string_view text);

// What the first `shown` characters of text show, masked, at most `shown`
// characters long; the rest of text is read only as their context, so that a
// card number or a value that runs past the cut is still recognised and
// masked (mask first, then cut: a cut card number would no longer pass as
// one). Text past the cut never comes into view, even where a masked value
// grew shorter. A card number that begins within the shown characters is
// seen whole when text holds at least kLongestCardText characters past its
// start.
std::string MaskSecrets(std::string_view text, std::size_t shown);

}  // namespace tillwire

#endif
