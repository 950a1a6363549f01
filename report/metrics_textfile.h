// The metrics file in a textfile collector's directory: tillwire.prom,
// which node_exporter and windows_exporter read at each scrape.
//
// A collector may read the file at any moment, so it is never written in
// place: the text goes whole into a temporary file in the same directory,
// which is then renamed over the old one (on Windows MoveFileExW with
// MOVEFILE_REPLACE_EXISTING, through Boost.Filesystem), so a reader finds
// the old file or the new one, never a part. The temporary file's name does
// not end in ".prom", so a collector never reads it.
#ifndef TILLWIRE_REPORT_METRICS_TEXTFILE_H
#define TILLWIRE_REPORT_METRICS_TEXTFILE_H

#include <string>

namespace tillwire {

namespace text {
inline constexpr char kMetricsFileName[] = "tillwire.prom";
// "Metrics file not written: "PATH": REASON"
std::string MetricsNotWrittenLine(const std::string& path, const std::string& reason);
}  // namespace text

class MetricsTextfile {
 public:
  // For the file kMetricsFileName in directory (with or without a trailing
  // separator). Touches nothing yet.
  explicit MetricsTextfile(const std::string& directory);

  // Replaces the file's content with text, as the header says. When that
  // fails (the directory is missing or not writable, the disk is full, the
  // rename is refused), the temporary file is removed, the old file (if
  // any) stays as it was, and the first failure of an episode is logged
  // with its reason; the episode ends at the next write that works. Never
  // throws over the file system. Returns whether the file was replaced.
  bool Write(const std::string& text);

  const std::string& Path() const { return path; }

 private:
  // The reason the text could not be written to the temporary file, or
  // empty when it was.
  std::string WriteTemporary(const std::string& text) const;
  void Failed(const std::string& reason);

  const std::string path;
  const std::string temporaryPath;
  bool failing = false;
};

}  // namespace tillwire

#endif
