// What the run's texts say about a terminal's filter that can never match
// (NeverMatchingFilters): a line at the start of the run, among the
// configuration's notes, that shows the filter as written and what it must
// look like; and a short note on the terminal's line in the playback report
// and in the survey's list of terminals that take nothing.
#ifndef TILLWIRE_REPORT_FILTER_NOTES_H
#define TILLWIRE_REPORT_FILTER_NOTES_H

#include "capture/printed_values.h"
#include "config/configuration.h"
#include "config/terminal.h"

#include <string>

namespace tillwire {

namespace text {
// "Filter never matches: TERMINAL ATTRIBUTE "TEXT": HOW IT MUST LOOK", where
// TERMINAL is the terminal's name (TerminalName) and the text, between double
// quotes, is as written, blanks and all.
std::string FilterNeverMatchesLine(const std::string& terminalName,
                                   const UnmatchableFilter& filter);
}  // namespace text

// " (ATTRIBUTE "TEXT", ... can never match)" for the filter's texts that can
// never match, or nothing when every one can.
std::string NeverMatchingNote(const TerminalFilter& filter);

// Adds a note (FilterNeverMatchesLine) for each filter that can never match
// to the walk, just before its terminal's step, so that the run logs them in
// the file's order with the configuration's other notes.
void NoteNeverMatchingFilters(Tables& tables);

}  // namespace tillwire

#endif
