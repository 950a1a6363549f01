#include "report/filter_notes.h"

#include "report/terminal_names.h"

#include <utility>
#include <vector>

namespace tillwire {

namespace {

// The attribute and its text as written, in double quotes: SrcPort "09100".
std::string Quoted(const UnmatchableFilter& filter) {
  return std::string(filter.attribute) + " \"" + filter.text + "\"";
}

const char* HowItMustLook(UnmatchableFilter::Kind kind) {
  return kind == UnmatchableFilter::Kind::kAddress
             ? "an address is written as packets show it, four numbers 0-255 separated by dots, "
               "without leading zeros or blanks, such as 172.30.5.21"
             : "a port is written as packets show it, a number 0-65535 without leading zeros, "
               "signs or blanks, such as 6001";
}

}  // namespace

std::string text::FilterNeverMatchesLine(const std::string& terminalName,
                                         const UnmatchableFilter& filter) {
  return "Filter never matches: " + terminalName + " " + Quoted(filter) + ": " +
         HowItMustLook(filter.kind);
}

std::string NeverMatchingNote(const TerminalFilter& filter) {
  std::string quoted;
  for (const UnmatchableFilter& unmatchable : NeverMatchingFilters(filter)) {
    quoted += (quoted.empty() ? "" : ", ") + Quoted(unmatchable);
  }
  return quoted.empty() ? quoted : " (" + quoted + " can never match)";
}

void NoteNeverMatchingFilters(Tables& tables) {
  std::vector<TableStep> walk;
  for (TableStep& step : tables.walk) {
    if (step.kind == TableStep::Kind::kAccepted) {
      const TerminalRecord& record = tables.terminalTable.at(step.text);
      for (const UnmatchableFilter& filter : NeverMatchingFilters(record.filter)) {
        walk.push_back(TableStep{TableStep::Kind::kNote, text::FilterNeverMatchesLine(
                                                             TerminalName(step.text, record),
                                                             filter)});
      }
    }
    walk.push_back(std::move(step));
  }
  tables.walk = std::move(walk);
}

}  // namespace tillwire
