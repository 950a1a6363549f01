// A systemd unit file's text, edited one setting at a time, and the escaping
// its values need.
#ifndef TILLWIRE_PLATFORM_UNIT_FILE_H
#define TILLWIRE_PLATFORM_UNIT_FILE_H

#include <string>
#include <vector>

// Lines that no edit touches (comments, settings someone added by hand) are
// kept as they are.
class UnitFile {
 public:
  explicit UnitFile(const std::string& text);

  // Sets key=value in [section]: replaces the key's first line there (and
  // drops later ones, which systemd would also read), or adds the line after
  // the section's last one, adding the section at the end when it is missing.
  void Set(const std::string& section, const std::string& key, const std::string& value);

  // Removes the key's lines from [section].
  void Remove(const std::string& section, const std::string& key);

  // The text, every line ending in '\n'.
  std::string Text() const;

 private:
  struct Section {
    std::size_t header;  // index of the "[name]" line
    std::size_t end;     // index of the next header, or the line count
  };
  bool Find(const std::string& name, Section* section) const;

  std::vector<std::string> lines;
};

// A text as the value of a setting that expands specifiers (Description=):
// '%' doubled, line breaks turned into blanks.
std::string UnitValue(const std::string& text);

// Whether systemd runs an executable at path: it refuses paths that hold a
// quote, a backslash or a control character.
bool RunnableBySystemd(const std::string& path);

// A runnable path as the executable word of ExecStart=: '%' doubled (a
// specifier otherwise) and, when it holds a blank, in double quotes so that
// systemd reads one word. '$' stays as it is: systemd takes the executable's
// path literally.
std::string ExecWord(const std::string& path);

#endif
