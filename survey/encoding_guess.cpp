#include "survey/encoding_guess.h"

#include "survey/unicode_text.h"

#include <string>
#include <vector>

namespace tillwire {

namespace {

using E = TextEncoding;

// The encodings tried, the more likely first where two read alike. The
// two-byte ones come first: a single-byte encoding reads any bytes, a
// Cyrillic one reads Korean as words of Cyrillic letters, while text of a
// single-byte encoding is seldom valid in a two-byte one (an odd number of
// bytes of 0x80 and above in a word breaks it) and reads as mixed scripts
// where it is.
constexpr TextEncoding kCandidates[] = {
    E::kEucKr,  E::kGbk,    E::kGb18030, E::kBig5,   E::kShiftJis,    E::kCp1252,
    E::kCp1250, E::kCp1251, E::kCp437,   E::kCp850,  E::kCp858,       E::kCp852,
    E::kCp866,  E::kIso8859_15, E::kIso8859_1, E::kIso8859_2, E::kIso8859_5,
};

bool IsTwoByte(TextEncoding encoding) {
  return encoding == E::kEucKr || encoding == E::kGbk || encoding == E::kGb18030 ||
         encoding == E::kBig5 || encoding == E::kShiftJis;
}

// The code tables of ESC t that are among the encodings.
std::optional<TextEncoding> CodeTable(std::uint8_t table) {
  switch (table) {
    case 0: return E::kCp437;
    case 2: return E::kCp850;
    case 16: return E::kCp1252;
    case 17: return E::kCp866;
    case 18: return E::kCp852;
    case 19: return E::kCp858;
    case 39: return E::kIso8859_2;
    case 40: return E::kIso8859_15;
    case 45: return E::kCp1250;
    case 46: return E::kCp1251;
    default: return std::nullopt;
  }
}

enum class Script { kNeutral, kLatin, kGreek, kCyrillic, kHan, kHangul, kRule, kOther };

bool In(char32_t c, char32_t first, char32_t last) { return c >= first && c <= last; }

Script ScriptOf(char32_t c) {
  if (c < 0x20 || c == 0x7F) return Script::kOther;
  if (c < 0x80) {
    return (In(c, 'A', 'Z') || In(c, 'a', 'z')) ? Script::kLatin : Script::kNeutral;
  }
  if (c == 0xA0 || In(c, 0xA2, 0xA5) || c == 0xAB || c == 0xBB || c == 0xB0 ||
      In(c, 0x20A0, 0x20CF) || c == 0x2116 || In(c, 0x3000, 0x303F)) {
    return Script::kNeutral;
  }
  if ((In(c, 0xC0, 0x24F) && c != 0xD7 && c != 0xF7)) return Script::kLatin;
  if (In(c, 0x370, 0x3FF)) return Script::kGreek;
  if (In(c, 0x400, 0x52F)) return Script::kCyrillic;
  if (In(c, 0x1100, 0x11FF) || In(c, 0x3130, 0x318F) || In(c, 0xAC00, 0xD7AF)) {
    return Script::kHangul;
  }
  if (In(c, 0x3040, 0x30FF) || In(c, 0x31F0, 0x31FF) || In(c, 0x3400, 0x4DBF) ||
      In(c, 0x4E00, 0x9FFF) || In(c, 0xF900, 0xFAFF) || In(c, 0xFF01, 0xFF9F)) {
    return Script::kHan;
  }
  if (In(c, 0x2500, 0x259F)) return Script::kRule;
  return Script::kOther;
}

bool IsSpace(char32_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0x3000;
}

// One word's characters: how many are 0x80 and above (none when the word
// is a rule), whether its letters are of one script with no other symbol
// among them, and how many of its letters are Latin, and of them beyond ASCII.
struct Word {
  std::size_t high = 0;
  bool oneScript = true;
  std::size_t latin = 0;
  std::size_t latinHigh = 0;
};

Word ReadWord(const std::u32string& characters) {
  Word word;
  Script script = Script::kNeutral;
  bool rule = true;
  for (const char32_t c : characters) {
    const Script of = ScriptOf(c);
    word.high += c >= 0x80 ? 1 : 0;
    rule = rule && of == Script::kRule && c == characters.front();
    if (of == Script::kNeutral) continue;
    const bool anotherScript = script != Script::kNeutral && of != script;
    if (of == Script::kOther || of == Script::kRule || anotherScript) word.oneScript = false;
    script = of;
    if (of == Script::kLatin) {
      ++word.latin;
      word.latinHigh += c >= 0x80 ? 1 : 0;
    }
  }
  return rule ? Word{} : word;
}

std::vector<Word> Words(std::string_view utf8) {
  std::vector<Word> words;
  std::u32string characters;
  for (std::size_t at = 0; at <= utf8.size();) {
    const char32_t c = at < utf8.size() ? NextCharacter(utf8, at) : (++at, U' ');
    if (!IsSpace(c)) {
      characters.push_back(c);
    } else if (!characters.empty()) {
      words.push_back(ReadWord(characters));
      characters.clear();
    }
  }
  return words;
}

// The sample without a character that its end may have cut: to its last
// blank or line end, when it filled the sample.
std::string_view Whole(std::string_view sample) {
  if (sample.size() < PayloadText::kSampleBytes) return sample;
  for (std::size_t i = sample.size(); i > 1; --i) {
    if (static_cast<unsigned char>(sample[i - 1]) <= 0x20) return sample.substr(0, i);
  }
  return sample;
}

bool ReadsAsGbk(std::string_view sample) {
  std::size_t high = 0;
  std::size_t upper = 0;
  for (const char byte : sample) {
    const auto value = static_cast<unsigned char>(byte);
    high += value >= 0x80 ? 1 : 0;
    upper += value >= 0xA1 ? 1 : 0;
  }
  return upper * 10 >= high * 9;
}

constexpr double kWordLike = 0.9;

}  // namespace

double WordLikeShare(std::string_view utf8) {
  const std::vector<Word> words = Words(utf8);
  std::size_t latin = 0;
  std::size_t latinHigh = 0;
  for (const Word& word : words) {
    latin += word.latin;
    latinHigh += word.latinHigh;
  }
  // Latin text is mostly ASCII letters; more than half beyond ASCII is
  // another script's text read as Latin.
  const bool latinReads = latinHigh * 2 <= latin;
  std::size_t high = 0;
  std::size_t wordLike = 0;
  for (const Word& word : words) {
    high += word.high;
    if (word.oneScript && (latinReads || word.latinHigh == 0)) wordLike += word.high;
  }
  return high == 0 ? 0 : static_cast<double>(wordLike) / static_cast<double>(high);
}

std::optional<TextEncoding> GuessEncoding(std::string_view sample,
                                          std::optional<std::uint8_t> codePage, bool doubleByte) {
  if (sample.empty()) return std::nullopt;
  sample = Whole(sample);
  if (ToUtf8(sample, E::kUtf8)) return E::kUtf8;
  if (codePage) {
    const std::optional<TextEncoding> selected = CodeTable(*codePage);
    if (selected && ToUtf8(sample, *selected)) return selected;
  }
  std::optional<TextEncoding> best;
  double bestShare = kWordLike - 1e-9;
  for (const TextEncoding candidate : kCandidates) {
    if (doubleByte && !IsTwoByte(candidate)) continue;
    if ((candidate == E::kGbk || candidate == E::kGb18030) && !ReadsAsGbk(sample)) continue;
    const std::optional<std::string> text = ToUtf8(sample, candidate);
    if (!text) continue;
    const double share = WordLikeShare(*text);
    if (share > bestShare) {
      best = candidate;
      bestShare = share;
    }
  }
  return best;
}

std::optional<TextEncoding> GuessEncoding(const PayloadText& text) {
  const TextCounts& counts = text.Counts();
  if (PercentOf(counts.text + counts.high, counts.Considered()) < kTextPercent) {
    return std::nullopt;
  }
  return GuessEncoding(text.Sample(), text.CodePage(), text.DoubleByte());
}

}  // namespace tillwire
