// What an installer types into an NVR's settings for a generic text (POS)
// source, found from the payload a terminal takes: the line break, the
// character encoding, whether printer control codes are to be ignored, the
// widest line, and the lines that mark a receipt's start and end.
#ifndef TILLWIRE_SURVEY_TEXT_SETTINGS_H
#define TILLWIRE_SURVEY_TEXT_SETTINGS_H

#include "capture/payload_text.h"
#include "platform/text_encoding.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tillwire {

// One direction's payload that a terminal takes, and its encoding.
struct TakenText {
  const PayloadText* text;
  std::optional<TextEncoding> encoding;
};

struct TextSettings {
  // The line break most lines end with, in hex as NVRs ask for it: "0D0A",
  // "0A" or "0D"; empty when no line ended.
  std::string lineBreak;
  // "ASCII" without bytes of 0x80 and above; the encoding's name; or
  // "unknown" when none decodes them.
  std::string encoding;
  bool controlCodes = false;     // control bytes other than tab, CR and LF
  bool printerCommands = false;  // of them, receipt-printer commands
  std::uint32_t widestLine = 0;  // characters (bytes in a two-byte encoding: columns)
  // The lines that most receipts begin and end with, as the survey shows
  // them, when at least two receipts were seen and more than half of them
  // share the line.
  std::optional<std::string> startLine;
  std::optional<std::string> endLine;
  std::uint32_t receipts = 0;  // receipts seen
};

// The settings for the payload of all of `taken` together.
TextSettings SettingsOf(const std::vector<TakenText>& taken);

}  // namespace tillwire

#endif
