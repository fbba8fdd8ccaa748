#include "config/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/text.h"

namespace tabulon::config {
namespace {

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// The section named by a header line, or nullopt when the line is not a header.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  return Trim(line.substr(0, line.find(']')));
}

// The key of a "key=value" line (nullopt for other lines), and its value.
std::optional<std::string_view> KeyOf(std::string_view line, std::string_view* value = nullptr) {
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  if (value != nullptr) *value = Trim(line.substr(equals + 1));
  return Trim(line.substr(0, equals));
}

std::string Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

Result<ProfileFile> ProfileFile::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return ProfileFile();
    return IoError(ErrnoText("cannot read", path));
  }
  std::ostringstream text;
  text << in.rdbuf();
  return Parse(text.str());
}

ProfileFile ProfileFile::Parse(std::string_view text) {
  ProfileFile file;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    file.lines_.emplace_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return file;
}

std::optional<std::string> ProfileFile::Get(std::string_view section, std::string_view key) const {
  bool inside = false;
  for (const auto& line : lines_) {
    if (auto name = SectionName(line)) {
      inside = EqualsIgnoreAsciiCase(*name, section);
      continue;
    }
    std::string_view value;
    if (auto name = KeyOf(line, &value); inside && name && EqualsIgnoreAsciiCase(*name, key)) {
      return Unquote(value);
    }
  }
  return std::nullopt;
}

Status ProfileFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  const auto breaks = [](std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; };
  if (breaks(section) || section.find(']') != std::string_view::npos || Trim(section) != section) {
    return InvalidArgumentError("the section name [" + std::string(section) + "] cannot be stored in a profile file");
  }
  if (breaks(key) || key.find('=') != std::string_view::npos || Trim(key) != key || key.empty() || key.front() == '[') {
    return InvalidArgumentError("the key \"" + std::string(key) + "\" cannot be stored in a profile file");
  }
  std::string one_line(value);
  for (char& c : one_line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  const std::string entry = std::string(key) + "=" + one_line;

  bool inside = false;
  size_t insert_at = lines_.size();  // after the last entry of the section
  bool found_section = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (auto name = SectionName(lines_[i])) {
      if (inside) break;
      inside = EqualsIgnoreAsciiCase(*name, section);
      if (inside) {
        found_section = true;
        insert_at = i + 1;
      }
      continue;
    }
    if (!inside) continue;
    if (auto name = KeyOf(lines_[i]); name && EqualsIgnoreAsciiCase(*name, key)) {
      lines_[i] = entry;
      return Status::Ok();
    }
    if (!Trim(lines_[i]).empty()) insert_at = i + 1;
  }
  if (!found_section) {
    lines_.push_back("[" + std::string(section) + "]");
    insert_at = lines_.size();
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at), entry);
  return Status::Ok();
}

std::string ProfileFile::Text() const {
  std::string text;
  for (const auto& line : lines_) text += line + "\n";
  return text;
}

Status ProfileFile::Save(const std::string& path, mode_t mode) const {
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());  // created 0600, then given `mode`
  if (fd < 0) return IoError(ErrnoText("cannot write", path));
  const std::string text = Text();
  bool ok = fchmod(fd, mode) == 0;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
    Status error = IoError(ErrnoText("cannot write", path));
    unlink(temporary.c_str());
    return error;
  }
  return Status::Ok();
}

std::string CutToBuffer(std::string_view text, size_t characters) {
  if (characters == 0) return {};
  size_t kept = 0;
  size_t i = 0;
  while (i < text.size() && kept < characters - 1) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    ++kept;
  }
  return std::string(text.substr(0, i));
}

std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view fallback, size_t buffer) {
  auto file = ProfileFile::Load(path);
  std::optional<std::string> value;
  if (file.ok()) value = file->Get(section, key);
  return CutToBuffer(value ? *value : fallback, buffer);
}

Status EnsureFileExists(const std::string& path, mode_t mode) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, mode);
  if (fd < 0) return IoError(ErrnoText("cannot create", path));
  close(fd);
  return Status::Ok();
}

}  // namespace tabulon::config
