#include "converters/work_folders.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "target_access/access_files.h"

namespace tabulon::converters {
namespace fs = std::filesystem;

void EnterFolderPath(std::string& current, const std::string& path) {
  std::error_code error;
  const fs::path folder(path);
  if (fs::exists(folder, error) && !fs::is_directory(folder, error)) fs::remove(folder, error);
  fs::create_directory(folder, error);
  if (fs::is_directory(folder, error)) current = folder.lexically_normal().string();
}

void EnterWorkFolder(std::string& current, const std::string& base, std::string_view name) {
  if (name.substr(0, 2) == "./") name.remove_prefix(2);
  EnterFolderPath(current, (fs::path(base) / std::string(name)).string());
}

void EnterSubfolder(std::string& current, std::string_view name) {
  const size_t cut = name.find_last_of("/\\");
  if (cut != std::string_view::npos) name.remove_prefix(cut + 1);
  if (name == "..") {
    fs::path parent = fs::path(current).lexically_normal();
    if (!parent.has_filename()) parent = parent.parent_path();  // a trailing '/'
    std::string up = parent.parent_path().string();
    current = up.empty() ? std::string(".") : std::move(up);
    return;
  }
  EnterFolderPath(current, PathInFolder(current, name));
}

std::string PathInFolder(const std::string& current, std::string_view name) {
  return (fs::path(current) / target_access::MakeSafeFileName(name)).string();
}

}  // namespace tabulon::converters
