// Reading back what the program logged.
#ifndef TILLWIRE_TESTS_SUPPORT_LOG_WATCH_H
#define TILLWIRE_TESTS_SUPPORT_LOG_WATCH_H

#include <cstddef>
#include <string>
#include <vector>

namespace tillwire {

// The line end as it lies in the log file: CR LF on Windows, LF elsewhere.
extern const char kFileLineEnd[];

// The texts of a log file's lines, without the "[ timestamp ] " prefix and the
// line end. A line without a well-formed prefix is returned whole, marked
// "MALFORMED: ", so that a test comparing texts sees it.
std::vector<std::string> LogTexts(const std::string& content);

// True when line (without its line end) is "[ YYYY-Mon-DD hh:mm:ss ] " text.
bool HasLogPrefix(const std::string& line);

// The bytes that a line of text takes in the log file: prefix, text, line end.
std::size_t FileLineLength(const std::string& text);

// Watches the process's own log (Tillwire.log in the program directory) from
// the moment of construction on.
class LogWatch {
 public:
  LogWatch();
  // Texts of the lines written since construction.
  std::vector<std::string> Texts() const;

 private:
  std::string::size_type start;
};

// The process's own log path.
std::string ProgramLogPath();

// The exit status that a process ending with exit(code) shows to its parent:
// the full 32 bits on Windows, the low 8 bits elsewhere.
int ExitStatus(int code);

}  // namespace tillwire

#endif
