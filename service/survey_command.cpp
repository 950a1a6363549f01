#include "service/survey_command.h"

#include "service/foreground_run.h"
#include "service/process_entry.h"
#include "service/process_exit.h"
#include "survey/survey.h"

#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem/operations.hpp>

#include <cstdio>
#include <regex>
#include <string>

namespace tillwire {

namespace {

const long kLongestSurveySeconds = 24 * 60 * 60;

bool AllDigits(const std::string& argument) {
  return !argument.empty() && argument.find_first_not_of("0123456789") == std::string::npos;
}

// A number of seconds written otherwise than as plain digits ("20s", "1.5",
// "-5", "+30"): a sign, digits with at most one point, and at most a few
// letters of a unit. A file of that name is still taken as the capture file.
bool LooksLikeDuration(const std::string& argument) {
  static const std::regex duration("[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)[A-Za-z]{0,3}");
  boost::system::error_code error;
  return std::regex_match(argument, duration) && !boost::filesystem::exists(argument, error);
}

bool IsAllOption(const char* argument) {
  return (argument[0] == '-' || argument[0] == '/') && boost::iequals(argument + 1, "all");
}

// Reads the arguments into request; the line that says what is wrong with
// them otherwise.
std::string ReadArguments(int argc, char** argv, SurveyRequest* request) {
  bool sourceGiven = false;
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    if (IsAllOption(argv[i])) {
      request->rows = 0;
      continue;
    }
    if (sourceGiven) return text::kSurveyTooManyArguments;
    sourceGiven = true;
    if (!AllDigits(argument)) {
      if (LooksLikeDuration(argument)) return text::SurveyBadDuration(argument);
      request->captureFile = argument;
      continue;
    }
    const long seconds = argument.size() > 6 ? 0 : std::stol(argument);
    if (seconds < 1 || seconds > kLongestSurveySeconds) {
      return text::SurveyBadDuration(argument);
    }
    request->duration = std::chrono::seconds(seconds);
  }
  return std::string();
}

}  // namespace

std::string text::SurveyBadDuration(const std::string& argument) {
  return "A survey lasts 1 to " + std::to_string(kLongestSurveySeconds) + " seconds, not " +
         argument + ".";
}

int SurveyCommand(int argc, char** argv) {
  SurveyRequest request;
  const std::string wrong = ReadArguments(argc, argv, &request);
  if (!wrong.empty()) {
    std::printf("%s\n\n", wrong.c_str());
    PrintUsage();
    return 1;
  }
  // A survey beside the running service must not log a stop line that reads
  // as the service's own.
  return RunInForeground([&request] { return ResultOrEndProcess(RunSurvey(request)); },
                         ForegroundStop::kNotLogged);
}

}  // namespace tillwire
