// The command line: install, uninstall, playback of a capture file or a live
// run in the foreground, the survey, or the service itself when the service
// manager starts the program.
#ifndef TILLWIRE_SERVICE_PROCESS_ENTRY_H
#define TILLWIRE_SERVICE_PROCESS_ENTRY_H

namespace tillwire {

namespace text {
inline constexpr char kServiceDisplayName[] = "Tillwire";
inline constexpr char kServiceDescription[] = "Corvane Tillwire service";
inline constexpr char kInstallError[] =
    "Error installing service.  See the application log for details.";
inline constexpr char kPlaybackMode[] = "Running in command line file playback mode";
inline constexpr char kNoFileName[] = "No file name provided with -f option";
inline constexpr char kPlayingBackFileFormat[] = "Playing back file %s\n";
inline constexpr char kMustBeRunWithOptions[] =
    "Must be run with command line options or installed as a service";
}  // namespace text

// The program: looks at the first argument only ('-' or '/' and, in any case,
// install, uninstall, f with a capture file's name, or survey) and returns the
// process exit status of the mode it ran.
int ProcessEntry(int argc, char** argv);

// Prints the options and how to start and stop the installed service.
void PrintUsage();

}  // namespace tillwire

#endif
