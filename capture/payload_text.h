// What one direction of a conversation sends, judged by its content: the
// survey's reading of a till's receipts.
//
// PayloadText reads the first kPrefixBytes of a direction's payload (a
// prefix shows what a stream is; nothing after it is looked at, so a long
// stream costs no more than a short one) and keeps counts, never the bytes:
// - receipt-printer commands (capture/printer_commands.h) are read as
//   commands, images skipped by their declared size; the share of text is
//   taken over the rest;
// - text: printable ASCII, tab, CR and LF; bytes of 0x80 and above are
//   counted apart, since whether they are text depends on an encoding that
//   is found later, from a sample of them (Sample);
// - lines: ended by LF, CR LF or CR (each counted), their width, and which
//   of them are no wider than a receipt;
// - receipts: a cut or a printer's initialisation (or a form feed) ends one
//   that has lines; the line most receipts begin with and the one they end
//   with are voted for (LineVote);
// - office print jobs, by how the stream begins (capture/office_job.h).
// About half a kilobyte each; Take allocates nothing.
#ifndef TILLWIRE_CAPTURE_PAYLOAD_TEXT_H
#define TILLWIRE_CAPTURE_PAYLOAD_TEXT_H

#include "capture/first_line.h"
#include "capture/office_job.h"
#include "capture/printer_commands.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tillwire {

// A receipt's line as kept: its first kBytes bytes, with its whole length and
// a hash of all of it, by which lines are compared.
struct StoredLine {
  static constexpr std::size_t kBytes = 48;

  std::uint32_t hash = 2166136261u;  // FNV-1a
  std::uint32_t length = 0;
  char bytes[kBytes] = {};

  void Add(unsigned char byte);
  std::string_view Kept() const;
  bool SameAs(const StoredLine& other) const {
    return hash == other.hash && length == other.length;
  }
};

// The votes of a run of receipts for the line they begin (or end) with: the
// first two different lines voted for, each with its votes counted exactly
// (a capture that begins within a receipt gives one stray line, the shop's
// receipts the other); votes for a third line are counted in `votes` alone.
struct LineVote {
  static constexpr int kCandidates = 2;
  struct Candidate {
    StoredLine line;
    std::uint32_t votes = 0;
  };

  Candidate candidates[kCandidates];
  std::uint32_t votes = 0;  // all votes cast

  void Cast(const StoredLine& line);
};

// How a line ended.
enum class LineEnd : std::uint8_t { kLf, kCrLf, kCr };
inline constexpr int kLineEndKinds = 3;

// A direction's counts, over the bytes it analysed.
struct TextCounts {
  std::uint32_t analysed = 0;     // bytes looked at, commands and images included
  std::uint32_t commands = 0;     // printer commands and their data
  std::uint32_t text = 0;         // printable ASCII, tab, CR, LF
  std::uint32_t high = 0;         // bytes of 0x80 and above, outside commands
  std::uint32_t lines = 0;        // lines ended that show a visible character
  std::uint32_t narrowLines = 0;  // of them, no wider than a receipt
  std::uint32_t lineEnds[kLineEndKinds] = {};
  std::uint32_t widestBytes = 0;       // the widest line, in bytes
  std::uint32_t widestCharacters = 0;  // and in characters, were it UTF-8

  // The bytes that are not printer commands: those a share of text is of.
  std::uint32_t Considered() const { return analysed - commands; }
  // Bytes that are neither commands, text nor high: other control bytes.
  std::uint32_t Noise() const { return Considered() - text - high; }
};

class PayloadText {
 public:
  // The prefix of a direction that is analysed.
  static constexpr std::uint32_t kPrefixBytes = 64 * 1024;
  // A line at most this many characters wide fits a receipt (80 mm paper
  // takes 42 to 64 columns, depending on the font).
  static constexpr std::uint32_t kReceiptColumns = 64;
  // What is kept of the text from the first byte of 0x80 or above on, for
  // the encoding to be found from.
  static constexpr std::size_t kSampleBytes = 160;

  // Reads the direction's next payload bytes while its prefix lasts, and
  // hands what is not a printer command to firstLine.
  void Take(const unsigned char* data, std::size_t length, FirstLine& firstLine);
  // A datagram ended: a line that it left open ends with it.
  void EndMessage();

  const TextCounts& Counts() const { return counts; }
  OfficeJob Office() const { return OfficeJobOf(head, headLength); }
  bool PrinterCommands() const { return printerCommands; }
  // The code table that the last ESC t selected, if one did.
  std::optional<std::uint8_t> CodePage() const;
  // Whether FS & selected two-byte characters.
  bool DoubleByte() const { return doubleByte; }
  std::string_view Sample() const { return std::string_view(sample, sampleLength); }

  // The votes for the line receipts begin with and the one they end with.
  // A stream without any cut or initialisation between its receipts (one
  // receipt a connection) ends its receipt with the stream.
  const LineVote& StartLines() const { return starts; }
  LineVote EndLines() const;

 private:
  enum class State : std::uint8_t { kText, kCommand, kSkip, kUntilNul };

  void FillHead(const unsigned char* data, std::size_t length);
  void StartCommand(unsigned char byte);
  void TakeCommandByte(unsigned char byte);
  std::size_t TakeText(const unsigned char* data, std::size_t length);
  void Apply(const CommandExtent& extent);
  void EndLine();
  void EndReceipt();

  TextCounts counts;
  State state = State::kText;
  bool done = false;  // the prefix was read, or it is an office job
  bool pendingCr = false;
  bool visible = false;  // the open line shows a visible character
  bool receiptHasLine = false;
  bool receiptsDivided = false;  // a cut or initialisation ended a receipt
  bool printerCommands = false;
  bool doubleByte = false;
  bool codePageSet = false;
  std::uint8_t codePage = 0;
  std::uint8_t headerLength = 0;
  std::uint8_t headLength = 0;
  std::uint8_t sampleLength = 0;
  bool sampling = false;
  std::uint32_t lineWidth = 0;  // characters of the open line, were it UTF-8
  std::uint64_t skip = 0;       // bytes of a command's data still to skip
  unsigned char header[kLongestCommandHeader] = {};
  unsigned char head[kOfficeJobHead] = {};
  char sample[kSampleBytes] = {};
  StoredLine line;      // the open line
  StoredLine lastLine;  // the last line ended that shows a visible character
  LineVote starts;
  LineVote ends;
};

// What a direction's payload was taken for.
enum class PayloadKind : std::uint8_t { kNone, kReceipts, kOfficePrinting, kText, kBinary };

// A share of text at least this large (whole percent) is mostly text.
inline constexpr int kTextPercent = 75;

struct TextJudgement {
  PayloadKind kind = PayloadKind::kNone;
  // Text in the bytes that are not printer commands, in whole percent
  // rounded down.
  int textPercent = 0;
};

// The judgement on a direction, its bytes of 0x80 and above counted as text
// or not (highIsText: an encoding decodes them): receipts when it is mostly
// text in lines that mostly fit a receipt (at least one line, four in five
// no wider than kReceiptColumns); office printing when it begins as an
// office job; text when mostly text otherwise; binary; none without payload.
TextJudgement Judge(const PayloadText& text, bool highIsText);

// The share of text (whole percent) in this many bytes of text among
// `considered`: 0 when none are.
int PercentOf(std::uint64_t text, std::uint64_t considered);

}  // namespace tillwire

#endif
