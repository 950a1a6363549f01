#include "support/temp_directory.h"

#include <boost/filesystem.hpp>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tillwire {

TempDirectory::TempDirectory() {
  const boost::filesystem::path directory =
      boost::filesystem::temp_directory_path() /
      boost::filesystem::unique_path("tillwire-%%%%-%%%%-%%%%");
  boost::filesystem::create_directories(directory);
  path = directory.string() + static_cast<char>(boost::filesystem::path::preferred_separator);
}

TempDirectory::~TempDirectory() {
  boost::system::error_code ignored;
  boost::filesystem::remove_all(path, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

void CopyWholeFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!in || !out || !(out << in.rdbuf()) || !out.flush()) {
    throw std::runtime_error("cannot copy \"" + from + "\" to \"" + to + "\"");
  }
  boost::filesystem::permissions(to, boost::filesystem::status(from).permissions());
}

}  // namespace tillwire
