#include "platform/unit_file.h"

#include <sstream>

namespace {

std::string Trimmed(const std::string& line) {
  const std::size_t begin = line.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::string();
  return line.substr(begin, line.find_last_not_of(" \t") - begin + 1);
}

bool IsHeader(const std::string& line) {
  const std::string trimmed = Trimmed(line);
  return !trimmed.empty() && trimmed.front() == '[';
}

// "key=..." or "key =...", not a comment or a longer key.
bool IsSetting(const std::string& line, const std::string& key) {
  const std::string trimmed = Trimmed(line);
  if (trimmed.compare(0, key.size(), key) != 0) return false;
  const std::size_t equals = trimmed.find_first_not_of(" \t", key.size());
  return equals != std::string::npos && trimmed[equals] == '=';
}

}  // namespace

UnitFile::UnitFile(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
}

bool UnitFile::Find(const std::string& name, Section* section) const {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (Trimmed(lines[i]) != "[" + name + "]") continue;
    std::size_t end = i + 1;
    while (end < lines.size() && !IsHeader(lines[end])) ++end;
    *section = Section{i, end};
    return true;
  }
  return false;
}

void UnitFile::Set(const std::string& section, const std::string& key, const std::string& value) {
  const std::string setting = key + "=" + value;
  Section found;
  if (!Find(section, &found)) {
    if (!lines.empty()) lines.push_back(std::string());
    lines.push_back("[" + section + "]");
    lines.push_back(setting);
    return;
  }
  for (std::size_t i = found.header + 1; i < found.end; ++i) {
    if (!IsSetting(lines[i], key)) continue;
    lines[i] = setting;
    for (std::size_t later = found.end - 1; later > i; --later) {
      if (IsSetting(lines[later], key)) lines.erase(lines.begin() + later);
    }
    return;
  }
  std::size_t last = found.end;
  while (last > found.header + 1 && Trimmed(lines[last - 1]).empty()) --last;
  lines.insert(lines.begin() + last, setting);
}

void UnitFile::Remove(const std::string& section, const std::string& key) {
  Section found;
  if (!Find(section, &found)) return;
  for (std::size_t i = found.end; i > found.header + 1; --i) {
    if (IsSetting(lines[i - 1], key)) lines.erase(lines.begin() + (i - 1));
  }
}

std::string UnitFile::Text() const {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return text;
}

std::string UnitValue(const std::string& text) {
  std::string value;
  for (char c : text) {
    if (c == '%') {
      value += "%%";
    } else if (c == '\n' || c == '\r') {
      value += ' ';
    } else {
      value += c;
    }
  }
  return value;
}

bool RunnableBySystemd(const std::string& path) {
  for (char c : path) {
    if (c == '"' || c == '\'' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      return false;
    }
  }
  return true;
}

std::string ExecWord(const std::string& path) {
  std::string word;
  for (char c : path) word += c == '%' ? std::string("%%") : std::string(1, c);
  return path.find(' ') == std::string::npos ? word : "\"" + word + "\"";
}
