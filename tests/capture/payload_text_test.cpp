#include "capture/payload_text.h"
#include "capture/printer_commands.h"
#include "support/shop_payloads.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tillwire;

namespace {

using Kind = CommandExtent::Kind;

TEST(PrinterCommands, EachCommandsExtentFollowsFromItsHeader) {
  struct Case {
    std::string header;
    Kind kind;
    std::uint64_t length;
    CommandEffect effect;
  };
  const Case cases[] = {
      {"\x1B@", Kind::kFixed, 2, CommandEffect::kInitialise},
      {"\x1Bt\x11", Kind::kFixed, 3, CommandEffect::kCodePage},
      {"\x1B", Kind::kIncomplete, 0, CommandEffect::kNone},
      {"\x1B" "E", Kind::kFixed, 3, CommandEffect::kNone},
      {"\x1Bp\x00", Kind::kFixed, 5, CommandEffect::kNone},
      {"\x1B*!\x10", Kind::kIncomplete, 0, CommandEffect::kNone},
      {std::string("\x1B*!\x10\x00", 5), Kind::kFixed, 5 + 16 * 3, CommandEffect::kNone},
      {"\x1B%-", Kind::kFixed, 9, CommandEffect::kNone},                    // ESC %-12345X
      {"\x1B\x1D" "a", Kind::kFixed, 4, CommandEffect::kNone},              // Star's ESC GS a n
      {"\x1D" "V\x42", Kind::kFixed, 4, CommandEffect::kCut},
      {"\x1D" "V\x01", Kind::kFixed, 3, CommandEffect::kCut},
      {"\x1Dv0\x00\x30\x00\x3C", Kind::kIncomplete, 0, CommandEffect::kNone},
      {std::string("\x1Dv0\x00\x30\x00\x3C\x00", 8), Kind::kFixed, 8 + 48 * 60,
       CommandEffect::kNone},
      {std::string("\x1D(k\x04\x01", 5), Kind::kFixed, 5 + 0x104, CommandEffect::kNone},
      {std::string("\x1D" "8L\x10\x00\x01\x00", 7), Kind::kFixed, 7 + 0x10010, CommandEffect::kNone},
      {"\x1Dk\x04", Kind::kUntilNul, 3, CommandEffect::kNone},
      {"\x1DkI\x0C", Kind::kFixed, 4 + 12, CommandEffect::kNone},
      {"\x1D!\x11", Kind::kFixed, 3, CommandEffect::kNone},
      {"\x1C&", Kind::kFixed, 2, CommandEffect::kDoubleByte},
      {"\x10\x04\x01", Kind::kFixed, 3, CommandEffect::kNone},
  };
  for (const Case& c : cases) {
    const CommandExtent extent =
        ExtentOf(reinterpret_cast<const unsigned char*>(c.header.data()), c.header.size());
    EXPECT_EQ(extent.kind, c.kind) << testing::PrintToString(c.header);
    EXPECT_EQ(extent.length, c.length) << testing::PrintToString(c.header);
    EXPECT_EQ(extent.effect, c.effect) << testing::PrintToString(c.header);
  }
}

// The payload given in chunks of `chunk` bytes (0: whole).
PayloadText Read(const std::string& payload, std::size_t chunk = 0) {
  PayloadText text;
  FirstLine line;
  if (chunk == 0) chunk = payload.size();
  for (std::size_t at = 0; at < payload.size(); at += chunk) {
    const std::string part = payload.substr(at, chunk);
    text.Take(reinterpret_cast<const unsigned char*>(part.data()), part.size(), line);
  }
  return text;
}

std::string Twice(std::string (*receipt)(int)) { return receipt(1) + receipt(2); }

// What a shop's streams are taken for: receipts whatever their command set
// or encoding (its bytes of 0x80 and above are text when an encoding reads
// them), office jobs never, encrypted or wide text not.
TEST(PayloadText, TakesEachShopStreamForWhatItIs) {
  struct Case {
    const char* name;
    std::string payload;
    bool highIsText;
    PayloadKind kind;
    int textPercent;
    std::uint32_t lines;
    bool printerCommands;
    OfficeJob office;
  };
  const std::string wide = std::string(120, 'c') + "\n" + std::string(120, 'c') + "\n";
  const Case cases[] = {
      {"ESC/POS with a raster logo", Twice(EscPosReceiptWithLogo), false, PayloadKind::kReceipts,
       100, 8, true, OfficeJob::kNone},
      {"plain text", Twice(PlainTextReceipt), false, PayloadKind::kReceipts, 100, 8, false,
       OfficeJob::kNone},
      {"CP866", Twice(Cp866Receipt), true, PayloadKind::kReceipts, 100, 8, true, OfficeJob::kNone},
      {"CP866, no encoding found", Twice(Cp866Receipt), false, PayloadKind::kBinary, 49, 8, true,
       OfficeJob::kNone},
      {"GBK", Twice(GbkReceipt), true, PayloadKind::kReceipts, 100, 8, true, OfficeJob::kNone},
      {"UTF-8", Twice(Utf8Receipt), true, PayloadKind::kReceipts, 100, 8, false, OfficeJob::kNone},
      {"a journal line", JournalLine(1), false, PayloadKind::kReceipts, 100, 1, false,
       OfficeJob::kNone},
      {"PJL and PostScript", PjlPostScriptJob(), false, PayloadKind::kOfficePrinting, 0, 0, false,
       OfficeJob::kPjl},
      {"PostScript", "%!PS-Adobe-3.0\n%%Pages: 1\nshowpage\n", false, PayloadKind::kOfficePrinting,
       0, 0, false, OfficeJob::kPostScript},
      {"PCL", PclJob(), false, PayloadKind::kOfficePrinting, 0, 0, false, OfficeJob::kPcl},
      {"PDF", "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n1 0 obj\n", false, PayloadKind::kOfficePrinting, 0, 0,
       false, OfficeJob::kPdf},
      {"TLS", TlsLikeRecord(), false, PayloadKind::kBinary, -1, 0, false, OfficeJob::kNone},
      {"lines wider than a receipt", wide, false, PayloadKind::kText, 100, 2, false,
       OfficeJob::kNone},
      {"nothing", "", false, PayloadKind::kNone, 0, 0, false, OfficeJob::kNone},
  };
  for (const Case& c : cases) {
    const PayloadText text = Read(c.payload);
    const TextJudgement judgement = Judge(text, c.highIsText);
    EXPECT_EQ(judgement.kind, c.kind) << c.name;
    if (c.textPercent >= 0) {
      EXPECT_EQ(judgement.textPercent, c.textPercent) << c.name;
    }
    if (c.textPercent >= 0 && c.office == OfficeJob::kNone) {
      EXPECT_EQ(text.Counts().lines, c.lines) << c.name;
      EXPECT_EQ(text.PrinterCommands(), c.printerCommands) << c.name;
    }
    EXPECT_EQ(text.Office(), c.office) << c.name;
  }
}

// Commands, images and lines read alike however the stream is cut into
// frames; the code page and the two-byte mode are what the commands chose.
TEST(PayloadText, ReadsTheSameInFramesOfAnySize) {
  for (std::string (*receipt)(int) : {EscPosReceiptWithLogo, Cp866Receipt, GbkReceipt}) {
    const std::string payload = Twice(receipt);
    const PayloadText whole = Read(payload);
    for (const std::size_t chunk : {1, 3, 7, 100}) {
      const PayloadText parts = Read(payload, chunk);
      EXPECT_EQ(parts.Counts().commands, whole.Counts().commands) << chunk;
      EXPECT_EQ(parts.Counts().text, whole.Counts().text) << chunk;
      EXPECT_EQ(parts.Counts().lines, whole.Counts().lines) << chunk;
      EXPECT_EQ(parts.Sample(), whole.Sample()) << chunk;
      EXPECT_EQ(parts.StartLines().votes, 2u) << chunk;
    }
  }
  EXPECT_EQ(Read(Cp866Receipt(1)).CodePage(), 17);
  EXPECT_TRUE(Read(GbkReceipt(1)).DoubleByte());
  EXPECT_EQ(Read(PlainTextReceipt(1)).CodePage(), std::nullopt);
}

TEST(PayloadText, CountsLineEndsAndTheWidestLine) {
  const PayloadText text = Read("a\r\nbb\r\nccc\n\ndddd\r" + std::string(70, 'e') + "\r");
  const TextCounts& counts = text.Counts();
  EXPECT_EQ(counts.lineEnds[static_cast<int>(LineEnd::kLf)], 2u);
  EXPECT_EQ(counts.lineEnds[static_cast<int>(LineEnd::kCrLf)], 2u);
  EXPECT_EQ(counts.lineEnds[static_cast<int>(LineEnd::kCr)], 2u);
  EXPECT_EQ(counts.lines, 5u);
  EXPECT_EQ(counts.narrowLines, 4u);
  EXPECT_EQ(counts.widestBytes, 70u);
  const PayloadText utf8 = Read("Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9" "e\n");
  EXPECT_EQ(utf8.Counts().widestBytes, 15u);
  EXPECT_EQ(utf8.Counts().widestCharacters, 12u);
}

// The lines receipts begin and end with are voted for: cuts divide a
// connection's receipts (the capture may begin within one, and end within
// another, which is no receipt's end); a connection without cuts is one
// receipt.
TEST(PayloadText, VotesForTheLinesReceiptsBeginAndEndWith) {
  const std::string cut("\x1DV\x01", 3);
  struct Case {
    std::string payload;
    std::string start;
    std::uint32_t startVotes;
    std::string end;
    std::uint32_t endVotes;
  };
  const Case cases[] = {
      {"  late line\nBYE\n" + cut + "HELLO\nitem 1\nBYE\n" + cut + "HELLO\nitem 2\nBYE\n" + cut +
           "HELLO\nitem 3",
       "HELLO", 4, "BYE", 3},
      {"HELLO\nitem\nBYE\n", "HELLO", 1, "BYE", 1},
      {"HELLO\nitem\nBYE\n" + cut, "HELLO", 1, "BYE", 1},
      {"\n\n", "", 0, "", 0},
  };
  for (const Case& c : cases) {
    const PayloadText text = Read(c.payload);
    const LineVote start = text.StartLines();
    const LineVote end = text.EndLines();
    EXPECT_EQ(start.votes, c.startVotes) << c.payload;
    EXPECT_EQ(end.votes, c.endVotes) << c.payload;
    if (c.startVotes == 0) continue;
    // The shop's line leads, with its every vote.
    const auto leading = [](const LineVote& vote) {
      return vote.candidates[0].votes >= vote.candidates[1].votes ? vote.candidates[0]
                                                                  : vote.candidates[1];
    };
    EXPECT_EQ(leading(start).line.Kept(), c.start) << c.payload;
    EXPECT_EQ(leading(start).votes, c.startVotes == 4 ? 3u : 1u) << c.payload;
    EXPECT_EQ(leading(end).line.Kept(), c.end) << c.payload;
    EXPECT_EQ(leading(end).votes, c.endVotes) << c.payload;
  }
}

// A datagram ends its line; nothing past the prefix is read.
TEST(PayloadText, ADatagramEndsItsLineAndOnlyThePrefixIsRead) {
  PayloadText journal;
  FirstLine line;
  const std::string datagram = "J1001 SALE 2.80";
  journal.Take(reinterpret_cast<const unsigned char*>(datagram.data()), datagram.size(), line);
  journal.EndMessage();
  EXPECT_EQ(journal.Counts().lines, 1u);

  const std::string many(PayloadText::kPrefixBytes + 1000, 'x');
  const PayloadText prefix = Read(many, 4096);
  EXPECT_EQ(prefix.Counts().analysed, PayloadText::kPrefixBytes);
  EXPECT_EQ(prefix.Counts().text, PayloadText::kPrefixBytes);
}

}  // namespace
