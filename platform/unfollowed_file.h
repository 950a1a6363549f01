// Opening a file that the program appends to (its log) so that a link planted
// at the file's path is refused, never followed. The program runs as root or
// as the local system account: following a link that someone placed beside
// the executable would let it append to, or create, any file on the system.
#ifndef TILLWIRE_PLATFORM_UNFOLLOWED_FILE_H
#define TILLWIRE_PLATFORM_UNFOLLOWED_FILE_H

#include <cstdio>
#include <string>

namespace tillwire {

// What opening found: an open stream, or why there is none.
struct UnfollowedFile {
  // Open for appending in the system's text mode (CR LF line ends on
  // Windows), its descriptor for reading as well; owned by the caller, who
  // closes it with fclose. Null when the file was not opened.
  std::FILE* stream = nullptr;
  // When the path is a link: what the system calls it ("symbolic link",
  // "reparse point"). Nothing was opened through it.
  const char* refusedLink = nullptr;
};

// Opens the file at path, creating it when absent. A link at path, whether or
// not its target exists, is refused (on Windows any reparse point: symbolic
// links, junctions and the like); the directories above path are taken as
// they are. Decided on the object opened, so a link planted at any moment
// cannot slip in between a check and the open.
UnfollowedFile OpenUnfollowed(const std::string& path);

// True when the file behind stream is empty or its last byte is a line end,
// and when it cannot be read (so that nothing is added to a file in doubt).
// Reads through the stream's own descriptor, never through the path.
bool EndsWithLineEnd(std::FILE* stream);

}  // namespace tillwire

#endif
