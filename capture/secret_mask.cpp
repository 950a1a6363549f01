#include "capture/secret_mask.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace tillwire {

namespace {

constexpr std::size_t kShortestCard = 13;
constexpr std::size_t kLongestCard = 19;
constexpr std::size_t kCardHead = 6;  // digits shown at a card number's start
constexpr std::size_t kCardTail = 4;  // and at its end
constexpr char kMasked[] = "***";

// The credential keys, in lower case.
constexpr std::string_view kKeys[] = {"pass",  "password", "pwd",  "passwd", "secret",
                                      "token", "auth",     "apikey", "key"};
// The line commands whose rest of line is a secret.
constexpr std::string_view kCommands[] = {"pass", "auth", "login"};
// The header whose value, to the line's end, is a secret.
constexpr std::string_view kAuthorization = "authorization";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsWordCharacter(char c) { return IsDigit(c) || IsLetter(c); }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
bool IsCardSeparator(char c) { return c == ' ' || c == '-'; }
bool IsQuote(char c) { return c == '"' || c == '\''; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (Lower(text[i]) != lower[i]) return false;
  }
  return true;
}

template <std::size_t N>
bool IsOneOf(std::string_view word, const std::string_view (&words)[N]) {
  return std::any_of(std::begin(words), std::end(words),
                     [word](std::string_view lower) { return EqualsIgnoringCase(word, lower); });
}

// Whether the digits at these positions pass the Luhn check.
bool PassesLuhn(std::string_view text, const std::size_t* positions, std::size_t count) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned digit = static_cast<unsigned>(text[positions[count - 1 - i]] - '0');
    if (i % 2 == 1) {
      digit *= 2;
      if (digit > 9) digit -= 9;
    }
    sum += digit;
  }
  return sum % 10 == 0;
}

// Stars the middle digits of the card numbers in masked (text's copy): in
// each run of digit groups joined by single separators, every stretch of
// whole groups holding 13 to 19 digits that passes the Luhn check.
void MaskCardNumbers(std::string_view text, std::string& masked) {
  std::vector<std::size_t> digits;       // the run's digits, by position
  std::vector<std::size_t> groupStarts;  // each group's first digit, in digits
  std::size_t i = 0;
  while (i < text.size()) {
    if (!IsDigit(text[i])) {
      ++i;
      continue;
    }
    digits.clear();
    groupStarts.clear();
    for (;;) {
      groupStarts.push_back(digits.size());
      while (i < text.size() && IsDigit(text[i])) digits.push_back(i++);
      if (i + 1 < text.size() && IsCardSeparator(text[i]) && IsDigit(text[i + 1])) {
        ++i;
      } else {
        break;
      }
    }
    groupStarts.push_back(digits.size());
    for (std::size_t first = 0; first + 1 < groupStarts.size(); ++first) {
      for (std::size_t end = first + 1; end < groupStarts.size(); ++end) {
        const std::size_t begin = groupStarts[first];
        const std::size_t count = groupStarts[end] - begin;
        if (count > kLongestCard) break;
        if (count < kShortestCard || !PassesLuhn(text, &digits[begin], count)) continue;
        for (std::size_t d = begin + kCardHead; d < begin + count - kCardTail; ++d) {
          masked[digits[d]] = '*';
        }
      }
    }
  }
}

// A stretch of text that reads "***".
struct Hidden {
  std::size_t begin;
  std::size_t end;
};

// Where the line's value begins when a credential key or the Authorization
// header ends at keyEnd (maybe a quote, blanks, '=' or ':', blanks), if one
// does.
bool FindValue(std::string_view text, std::size_t keyEnd, std::size_t lineEnd,
               std::size_t* value) {
  std::size_t i = keyEnd;
  if (i < lineEnd && IsQuote(text[i])) ++i;
  while (i < lineEnd && IsBlank(text[i])) ++i;
  if (i == lineEnd || (text[i] != '=' && text[i] != ':')) return false;
  ++i;
  while (i < lineEnd && IsBlank(text[i])) ++i;
  *value = i;
  return true;
}

// The hidden stretches of the line [begin, lineEnd), in order.
void FindCredentials(std::string_view text, std::size_t begin, std::size_t lineEnd,
                     std::vector<Hidden>& hidden) {
  std::size_t i = begin;
  while (i < lineEnd && IsBlank(text[i])) ++i;
  std::size_t word = i;
  while (word < lineEnd && IsWordCharacter(text[word])) ++word;
  if (word < lineEnd && IsBlank(text[word]) && IsOneOf(text.substr(i, word - i), kCommands)) {
    while (word < lineEnd && IsBlank(text[word])) ++word;
    hidden.push_back(Hidden{word, lineEnd});
    return;
  }
  while (i < lineEnd) {
    if (!IsLetter(text[i]) || (i > begin && IsWordCharacter(text[i - 1]))) {
      ++i;
      continue;
    }
    std::size_t keyEnd = i;
    while (keyEnd < lineEnd && IsWordCharacter(text[keyEnd])) ++keyEnd;
    const std::string_view key = text.substr(i, keyEnd - i);
    const bool header = EqualsIgnoringCase(key, kAuthorization);
    std::size_t value;
    if (!(header || IsOneOf(key, kKeys)) || !FindValue(text, keyEnd, lineEnd, &value)) {
      i = keyEnd;
      continue;
    }
    std::size_t valueEnd = lineEnd;
    if (header) {
      // The whole value: "Basic dXNlcjpwYXNz", "Bearer eyJ...".
    } else if (value < lineEnd && IsQuote(text[value])) {
      const std::size_t close = text.substr(value + 1, lineEnd - value - 1).find(text[value]);
      ++value;
      if (close != std::string_view::npos) valueEnd = value + close;
    } else {
      valueEnd = value;
      while (valueEnd < lineEnd && text[valueEnd] != '&' && text[valueEnd] != ';' &&
             !IsBlank(text[valueEnd])) {
        ++valueEnd;
      }
    }
    hidden.push_back(Hidden{value, valueEnd});
    i = valueEnd;
  }
}

}  // namespace

std::string MaskSecrets(std::string_view text) {
  return MaskSecrets(text, std::string_view::npos);
}

std::string MaskSecrets(std::string_view text, std::size_t shown) {
  std::string masked(text);
  MaskCardNumbers(text, masked);
  std::vector<Hidden> hidden;
  for (std::size_t begin = 0; begin <= text.size();) {
    std::size_t end = begin;
    while (end < text.size() && !IsLineEnd(text[end])) ++end;
    FindCredentials(text, begin, end, hidden);
    begin = end + 1;
  }

  const std::size_t end = std::min(shown, text.size());
  std::string answer;
  std::size_t next = 0;  // in hidden
  for (std::size_t i = 0;;) {
    if (next < hidden.size() && hidden[next].begin == i && i < shown) {
      answer += kMasked;
      i = hidden[next++].end;
    } else if (i < end) {
      answer += masked[i++];
    } else {
      break;
    }
  }
  if (answer.size() > shown) answer.resize(shown);
  return answer;
}

}  // namespace tillwire
