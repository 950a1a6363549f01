#include "platform/systemd_unit.h"

namespace tillwire {

std::string ServiceUnitText(const std::string& description, const std::string& executablePath) {
  return "[Unit]\n"
         "Description=" + UnitValue(description) + "\n"
         "Wants=network-online.target\n"
         "After=network-online.target\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "ExecStart=" + ExecWord(executablePath) + "\n"
         "Restart=on-failure\n"
         "RestartSec=60\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
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

}  // namespace tillwire
