#include "capture/payload_text.h"

#include <algorithm>
#include <cstring>

namespace tillwire {

namespace {

constexpr unsigned char kFormFeed = 0x0C;

bool IsAsciiText(unsigned char byte) {
  return (byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\r' || byte == '\n';
}

bool IsBlank(unsigned char byte) { return byte == ' ' || byte == '\t'; }

}  // namespace

void StoredLine::Add(unsigned char byte) {
  hash = (hash ^ byte) * 16777619u;
  if (length < kBytes) bytes[length] = static_cast<char>(byte);
  ++length;
}

std::string_view StoredLine::Kept() const {
  return std::string_view(bytes, std::min<std::size_t>(length, kBytes));
}

void LineVote::Cast(const StoredLine& line) {
  ++votes;
  for (Candidate& candidate : candidates) {
    if (candidate.votes == 0) candidate.line = line;
    if (candidate.line.SameAs(line)) {
      ++candidate.votes;
      return;
    }
  }
}

void PayloadText::Take(const unsigned char* data, std::size_t length, FirstLine& firstLine) {
  if (done) return;
  length = std::min<std::size_t>(length, kPrefixBytes - counts.analysed);
  counts.analysed += static_cast<std::uint32_t>(length);
  done = counts.analysed == kPrefixBytes;
  FillHead(data, length);
  if (headLength == kOfficeJobHead && Office() != OfficeJob::kNone) {
    done = true;
    return;
  }
  std::size_t i = 0;
  while (i < length) {
    const unsigned char* at = data + i;
    const std::size_t left = length - i;
    switch (state) {
      case State::kSkip: {
        const std::size_t skipped = static_cast<std::size_t>(std::min<std::uint64_t>(skip, left));
        skip -= skipped;
        counts.commands += static_cast<std::uint32_t>(skipped);
        if (skip == 0) state = State::kText;
        i += skipped;
        break;
      }
      case State::kUntilNul:
        ++counts.commands;
        if (*at == 0) state = State::kText;
        ++i;
        break;
      case State::kCommand:
        TakeCommandByte(*at);
        ++i;
        break;
      case State::kText: {
        const std::size_t taken = TakeText(at, left);
        firstLine.Take(at, taken);
        i += taken;
        if (taken < left) {
          StartCommand(data[i]);
          ++i;
        }
        break;
      }
    }
  }
}

void PayloadText::EndMessage() {
  if (line.length > 0) EndLine();
}

std::optional<std::uint8_t> PayloadText::CodePage() const {
  return codePageSet ? std::optional<std::uint8_t>(codePage) : std::nullopt;
}

LineVote PayloadText::EndLines() const {
  LineVote votes = ends;
  if (receiptHasLine && !receiptsDivided) votes.Cast(lastLine);
  return votes;
}

void PayloadText::FillHead(const unsigned char* data, std::size_t length) {
  const std::size_t copied = std::min<std::size_t>(length, kOfficeJobHead - headLength);
  std::memcpy(head + headLength, data, copied);
  headLength = static_cast<std::uint8_t>(headLength + copied);
}

void PayloadText::StartCommand(unsigned char byte) {
  header[0] = byte;
  headerLength = 1;
  ++counts.commands;
  printerCommands = true;
  pendingCr = false;
  state = State::kCommand;
}

// A byte of a command's header; once the header tells the command's extent,
// its effect is applied and the rest of it is skipped.
void PayloadText::TakeCommandByte(unsigned char byte) {
  header[headerLength++] = byte;
  ++counts.commands;
  const CommandExtent extent = ExtentOf(header, headerLength);
  if (extent.kind == CommandExtent::Kind::kIncomplete) {
    if (headerLength == kLongestCommandHeader) state = State::kText;
    return;
  }
  Apply(extent);
  if (extent.kind == CommandExtent::Kind::kUntilNul) {
    state = State::kUntilNul;
  } else {
    skip = extent.length > headerLength ? extent.length - headerLength : 0;
    state = skip > 0 ? State::kSkip : State::kText;
  }
}

void PayloadText::Apply(const CommandExtent& extent) {
  switch (extent.effect) {
    case CommandEffect::kInitialise:
    case CommandEffect::kCut:
      EndReceipt();
      break;
    case CommandEffect::kCodePage:
      codePageSet = true;
      codePage = extent.parameter;
      break;
    case CommandEffect::kDoubleByte:
      doubleByte = true;
      break;
    case CommandEffect::kNone:
      break;
  }
}

// Text up to the next printer command: how many bytes were text.
std::size_t PayloadText::TakeText(const unsigned char* data, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char byte = data[i];
    if (BeginsPrinterCommand(byte)) return i;
    if (byte >= 0x80) sampling = true;
    if (sampling && sampleLength < kSampleBytes) sample[sampleLength++] = static_cast<char>(byte);
    if (byte == '\n') {
      ++counts.text;
      if (pendingCr) {
        --counts.lineEnds[static_cast<int>(LineEnd::kCr)];
        ++counts.lineEnds[static_cast<int>(LineEnd::kCrLf)];
      } else {
        ++counts.lineEnds[static_cast<int>(LineEnd::kLf)];
        EndLine();
      }
      pendingCr = false;
      continue;
    }
    pendingCr = byte == '\r';
    if (pendingCr) {
      ++counts.text;
      ++counts.lineEnds[static_cast<int>(LineEnd::kCr)];
      EndLine();
    } else if (byte == kFormFeed) {
      ++counts.commands;
      EndReceipt();
    } else if (IsAsciiText(byte) || byte >= 0x80) {
      ++(byte >= 0x80 ? counts.high : counts.text);
      if (line.length > 0 || !IsBlank(byte)) line.Add(byte);
      visible = visible || !IsBlank(byte);
      lineWidth += (byte & 0xC0) != 0x80 ? 1 : 0;
    }
  }
  return length;
}

void PayloadText::EndLine() {
  if (visible) {
    ++counts.lines;
    if (lineWidth <= kReceiptColumns) ++counts.narrowLines;
    counts.widestBytes = std::max(counts.widestBytes, line.length);
    counts.widestCharacters = std::max(counts.widestCharacters, lineWidth);
    if (!receiptHasLine) starts.Cast(line);
    receiptHasLine = true;
    lastLine = line;
  }
  line = StoredLine();
  lineWidth = 0;
  visible = false;
}

void PayloadText::EndReceipt() {
  if (line.length > 0) EndLine();
  if (!receiptHasLine) return;
  ends.Cast(lastLine);
  receiptHasLine = false;
  receiptsDivided = true;
}

int PercentOf(std::uint64_t text, std::uint64_t considered) {
  return considered == 0 ? 0 : static_cast<int>(text * 100 / considered);
}

TextJudgement Judge(const PayloadText& payload, bool highIsText) {
  const TextCounts& counts = payload.Counts();
  if (counts.analysed == 0) return TextJudgement{};
  if (payload.Office() != OfficeJob::kNone) return TextJudgement{PayloadKind::kOfficePrinting, 0};
  const int percent =
      PercentOf(counts.text + (highIsText ? counts.high : 0), counts.Considered());
  if (percent < kTextPercent) return TextJudgement{PayloadKind::kBinary, percent};
  const bool receiptLines = counts.lines > 0 && counts.narrowLines * 5 >= counts.lines * 4;
  return TextJudgement{receiptLines ? PayloadKind::kReceipts : PayloadKind::kText, percent};
}

}  // namespace tillwire
