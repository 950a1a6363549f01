#include "support/log_watch.h"

#include "platform/program_directory.h"
#include "support/temp_directory.h"

#include <regex>
#include <sstream>

namespace tillwire {

namespace {

const std::regex& PrefixPattern() {
  static const std::regex pattern(
      R"(^\[ \d{4}-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-\d{2} \d{2}:\d{2}:\d{2} \] )");
  return pattern;
}

const std::string::size_type kPrefixLength = 25;

}  // namespace

bool HasLogPrefix(const std::string& line) {
  return std::regex_search(line, PrefixPattern());
}

std::size_t FileLineLength(const std::string& text) {
  return kPrefixLength + text.size() + std::string(kFileLineEnd).size();
}

std::vector<std::string> LogTexts(const std::string& content) {
  std::vector<std::string> texts;
  std::istringstream in(content);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    texts.push_back(HasLogPrefix(line) ? line.substr(kPrefixLength) : "MALFORMED: " + line);
  }
  return texts;
}

std::string ProgramLogPath() { return ProgramDirectory() + "Tillwire.log"; }

LogWatch::LogWatch() : start(ReadFile(ProgramLogPath()).size()) {}

std::vector<std::string> LogWatch::Texts() const {
  const std::string content = ReadFile(ProgramLogPath());
  return LogTexts(content.size() >= start ? content.substr(start) : content);
}

}  // namespace tillwire
