// Profile files: "[section]" headers and "key=value" lines, read and written as the program's
// settings and condition files have always been. Section and key names compare without regard
// to ASCII case; values are trimmed, and one pair of surrounding quotes is dropped. Writing keeps
// every other line as it was: a changed key keeps its place, a new key goes to the end of its
// section, a new section to the end of the file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "base/status.h"

namespace tabulon::config {

class ProfileFile {
 public:
  // Reads `path`; a missing file gives an empty profile, an unreadable one an error.
  static Result<ProfileFile> Load(const std::string& path);
  static ProfileFile Parse(std::string_view text);

  // The value of `key` in `section`, nullopt when either is missing.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // Sets a value. Names holding a line break, or a key holding "=" or starting with "[", cannot
  // be stored and are refused; line breaks inside a value become blanks (a profile value is one
  // line).
  Status Set(std::string_view section, std::string_view key, std::string_view value);

  std::string Text() const;
  // Writes the whole file through a temporary file renamed over `path`, with permissions `mode`.
  Status Save(const std::string& path, mode_t mode) const;

 private:
  std::vector<std::string> lines_;
};

// At most `characters - 1` UTF-8 characters of `text`: what a read into a buffer of
// `characters` keeps.
std::string CutToBuffer(std::string_view text, size_t characters);

// Reads one value as into a buffer of `buffer` characters; `fallback` when the file, section or
// key is missing or the file cannot be read.
std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view fallback, size_t buffer);

// Creates `path` empty when it does not exist.
Status EnsureFileExists(const std::string& path, mode_t mode);

}  // namespace tabulon::config
