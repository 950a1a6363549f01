// Fuzz target: one direction's payload, any bytes, read by the survey's
// receipt-text analysis as frames of a size that the first byte chooses, with
// datagram ends after each when its top bit is set. Besides the sanitizers'
// checks (a printer command's declared length is never trusted past the
// bytes at hand), it checks that the counts add up within the bytes
// analysed, that no more than the prefix is read, that the kept sample, lines
// and first line stay within their bounds, and that the judgement agrees
// with the counts.
#include "capture/first_line.h"
#include "capture/payload_text.h"
#include "fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>

using namespace tillwire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t frame = (data[0] & 0x7F) + 1;
  const bool datagrams = (data[0] & 0x80) != 0;
  PayloadText text;
  FirstLine line;
  for (std::size_t at = 1; at < size; at += frame) {
    const std::size_t length = size - at < frame ? size - at : frame;
    text.Take(data + at, length, line);
    if (datagrams) text.EndMessage();
  }
  const TextCounts& counts = text.Counts();
  FUZZ_CHECK(counts.analysed <= size - 1 && counts.analysed <= PayloadText::kPrefixBytes);
  FUZZ_CHECK(static_cast<std::uint64_t>(counts.commands) + counts.text + counts.high <=
             counts.analysed);
  FUZZ_CHECK(counts.narrowLines <= counts.lines);
  FUZZ_CHECK(text.Sample().size() <= PayloadText::kSampleBytes);
  FUZZ_CHECK(line.Bytes().size() <= FirstLine::kReadLength);
  const LineVote starts = text.StartLines();
  FUZZ_CHECK(starts.votes <= counts.lines);
  FUZZ_CHECK(starts.candidates[0].votes + starts.candidates[1].votes <= starts.votes);
  for (const bool highIsText : {false, true}) {
    const TextJudgement judgement = Judge(text, highIsText);
    FUZZ_CHECK(judgement.textPercent >= 0 && judgement.textPercent <= 100);
    FUZZ_CHECK((judgement.kind == PayloadKind::kNone) == (counts.analysed == 0));
  }
  return 0;
}
