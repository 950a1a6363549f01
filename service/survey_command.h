// The command line of the survey: tillwire -survey [capture.pcap | SECONDS] [-all].
#ifndef TILLWIRE_SERVICE_SURVEY_COMMAND_H
#define TILLWIRE_SERVICE_SURVEY_COMMAND_H

#include <string>

namespace tillwire {

namespace text {
inline constexpr char kSurveyUsage[] =
    "  -survey [<pcapfilename> | <seconds>] [-all]\n"
    "      to list the TCP and UDP conversations on the adapter of Tillwire.xml\n"
    "      (for 60 seconds unless given) or in a capture file, which terminal\n"
    "      takes each, and Terminal lines for receipts that none takes;\n"
    "      -all lists every conversation, not only the 50 with the most bytes.\n";
inline constexpr char kSurveyTooManyArguments[] =
    "The survey takes one capture file or one number of seconds.";
// "A survey lasts 1 to 86400 seconds, not ARGUMENT."
std::string SurveyBadDuration(const std::string& argument);
}  // namespace text

// Runs the survey that the arguments after argv[1] ask for, in the
// foreground: Ctrl-C or Ctrl-Break (SIGINT or SIGTERM off Windows) ends it
// early with its report. Returns its exit status: 0 after a report, 1 for
// arguments it cannot take (after the usage); a survey that cannot start
// ends the process with the run's exit code.
int SurveyCommand(int argc, char** argv);

}  // namespace tillwire

#endif
