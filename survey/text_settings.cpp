#include "survey/text_settings.h"

#include "survey/shown_text.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <utility>

namespace tillwire {

namespace {

// A start or end line of receipts is shown at most this wide.
constexpr std::size_t kShownLineColumns = 40;

const char* const kLineBreaks[kLineEndKinds] = {"0A", "0D0A", "0D"};

std::string LineBreakOf(const std::vector<TakenText>& taken) {
  std::uint64_t ends[kLineEndKinds] = {};
  for (const TakenText& sent : taken) {
    for (int kind = 0; kind < kLineEndKinds; ++kind) ends[kind] += sent.text->Counts().lineEnds[kind];
  }
  const auto most = std::max_element(std::begin(ends), std::end(ends));
  return *most == 0 ? std::string() : kLineBreaks[most - std::begin(ends)];
}

// The encoding of the direction with the most bytes of 0x80 and above.
std::string EncodingOf(const std::vector<TakenText>& taken) {
  const TakenText* most = nullptr;
  for (const TakenText& sent : taken) {
    if (sent.text->Counts().high > 0 &&
        (most == nullptr || sent.text->Counts().high > most->text->Counts().high)) {
      most = &sent;
    }
  }
  if (most == nullptr) return "ASCII";
  return most->encoding ? EncodingName(*most->encoding) : "unknown";
}

// A line that receipts of one or more directions began (or ended) with,
// and its votes.
struct Tally {
  std::uint32_t votes = 0;
  StoredLine line;
  std::optional<TextEncoding> encoding;
};

// The line that more than half of the votes of all directions went to, if
// there were two votes at least; equal lines' votes add up. *receipts
// becomes the votes' number, if that is more.
std::optional<std::string> Agreed(const std::vector<TakenText>& taken,
                                  LineVote (*votesOf)(const PayloadText&),
                                  std::uint32_t* receipts) {
  std::map<std::pair<std::uint32_t, std::uint32_t>, Tally> tallies;
  std::uint32_t all = 0;
  for (const TakenText& sent : taken) {
    const LineVote vote = votesOf(*sent.text);
    all += vote.votes;
    for (const LineVote::Candidate& candidate : vote.candidates) {
      if (candidate.votes == 0) continue;
      Tally& tally = tallies[{candidate.line.hash, candidate.line.length}];
      if (tally.votes == 0) tally = Tally{0, candidate.line, sent.encoding};
      tally.votes += candidate.votes;
    }
  }
  *receipts = std::max(*receipts, all);
  const Tally* best = nullptr;
  for (const auto& entry : tallies) {
    if (best == nullptr || entry.second.votes > best->votes) best = &entry.second;
  }
  if (all < 2 || best == nullptr || best->votes * 2 <= all) return std::nullopt;
  return ShownText(best->line.Kept(), best->encoding, kShownLineColumns);
}

LineVote StartVotes(const PayloadText& text) { return text.StartLines(); }
LineVote EndVotes(const PayloadText& text) { return text.EndLines(); }

}  // namespace

TextSettings SettingsOf(const std::vector<TakenText>& taken) {
  TextSettings settings;
  settings.lineBreak = LineBreakOf(taken);
  settings.encoding = EncodingOf(taken);
  for (const TakenText& sent : taken) {
    const TextCounts& counts = sent.text->Counts();
    settings.printerCommands = settings.printerCommands || sent.text->PrinterCommands();
    settings.controlCodes = settings.controlCodes || counts.commands > 0 || counts.Noise() > 0;
    const bool utf8 = sent.encoding == TextEncoding::kUtf8;
    settings.widestLine =
        std::max(settings.widestLine, utf8 ? counts.widestCharacters : counts.widestBytes);
  }
  settings.startLine = Agreed(taken, StartVotes, &settings.receipts);
  settings.endLine = Agreed(taken, EndVotes, &settings.receipts);
  return settings;
}

}  // namespace tillwire
