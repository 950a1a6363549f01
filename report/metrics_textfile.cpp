#include "report/metrics_textfile.h"

#include "log/log_file.h"

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tillwire {

std::string text::MetricsNotWrittenLine(const std::string& path, const std::string& reason) {
  return "Metrics file not written: \"" + path + "\": " + reason;
}

namespace {

// rw-r--r--: the metrics hold nothing secret, and a collector runs as a user
// of its own.
const boost::filesystem::perms kFileMode =
    boost::filesystem::owner_read | boost::filesystem::owner_write |
    boost::filesystem::group_read | boost::filesystem::others_read;

struct CloseFile {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string FilePath(const std::string& directory, const char* name) {
  return (boost::filesystem::path(directory) / name).string();
}

std::string SystemReason() { return std::strerror(errno); }

}  // namespace

MetricsTextfile::MetricsTextfile(const std::string& directory)
    : path(FilePath(directory, text::kMetricsFileName)),
      temporaryPath(path + ".tmp") {}

bool MetricsTextfile::Write(const std::string& text) {
  std::string reason = WriteTemporary(text);
  if (reason.empty()) {
    boost::system::error_code error;
    // Readable by the collector's own user, whatever the service's umask.
    boost::filesystem::permissions(temporaryPath, kFileMode, error);
    if (!error) boost::filesystem::rename(temporaryPath, path, error);
    if (error) reason = error.message();
  }
  if (!reason.empty()) {
    boost::system::error_code ignored;
    boost::filesystem::remove(temporaryPath, ignored);
    Failed(reason);
    return false;
  }
  failing = false;
  return true;
}

// In binary mode: the format's lines end with a line feed on every system.
std::string MetricsTextfile::WriteTemporary(const std::string& text) const {
  std::unique_ptr<std::FILE, CloseFile> file(std::fopen(temporaryPath.c_str(), "wb"));
  if (!file) return SystemReason();
  if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size() ||
      std::fflush(file.get()) != 0) {
    return SystemReason();
  }
  if (std::fclose(file.release()) != 0) return SystemReason();
  return std::string();
}

void MetricsTextfile::Failed(const std::string& reason) {
  if (!failing) LogLine(text::MetricsNotWrittenLine(path, reason));
  failing = true;
}

}  // namespace tillwire
