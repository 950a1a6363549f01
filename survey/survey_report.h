// The survey's report, as the console shows it: one three-line row per
// conversation, the most payload first, then the Terminal lines it suggests,
// each with the NVR's text settings for it.
//
//     Client                Server                 Frames      Bytes Service
//   Text  First printable line                     NvrPort Terminal
//         Taken for
// TCP 192.168.10.31:51412   192.168.10.40:9100         16        416 raw printing
//    99%  HARBOUR STREET DELI                        47001 192.168.10.31:::
//         receipts
//
// Without a terminal table (no Tillwire.xml) the second line ends after the
// first printable line; a conversation that no terminal takes shows "-" as its
// NvrPort. With one, the terminals that take no payload byte of any
// conversation follow the rows (NvrPort and key, in key order), a filter
// that can never match named after the key (NeverMatchingNote); and, when
// every row is shown, each configured terminal's NVR text settings close the
// report.
#ifndef TILLWIRE_SURVEY_SURVEY_REPORT_H
#define TILLWIRE_SURVEY_SURVEY_REPORT_H

#include "capture/conversation_table.h"
#include "config/terminal.h"
#include "survey/survey_texts.h"

#include <cstddef>
#include <string>

namespace tillwire {

// The conversations the table saw, for the summary and the progress line:
// their number, or, once the table is full and a further conversation has
// come, more than its capacity.
SeenConversations ConversationsSeen(const ConversationTable& table);

// What the table counted, for the summary.
SurveyCounts CountsOf(const ConversationTable& table);

// The report on the table's conversations (their clients settled:
// ConversationTable::SettleClients): rows (0: every one) rows at most,
// with each row's terminal and NvrPort from terminals when given (the table
// the matcher of the conversation table was made from); every line ends
// with '\n'.
std::string SurveyReport(const ConversationTable& table, const TerminalTable* terminals,
                         std::size_t rows);

}  // namespace tillwire

#endif
