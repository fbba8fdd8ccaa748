#include "config/program_folders.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "tabulon_version.h"

namespace tabulon::config {

bool IsInstalledProgramFolder(const std::string& executable_folder) {
  std::error_code ignored;
  return std::filesystem::is_directory(std::filesystem::path(executable_folder) / TABULON_DOCDIR_FROM_BINDIR / "manual",
                                       ignored);
}

ProgramFolders FindProgramFolders(const std::string& executable_folder, const EnvironmentLookup& environment) {
  // An installed program's folder (/usr/bin) is shared by every user and every other program, even
  // when it is writable (root, or a copy unpacked under a scratch root): settings never go there.
  if (!executable_folder.empty() && access(executable_folder.c_str(), W_OK | X_OK) == 0 &&
      !IsInstalledProgramFolder(executable_folder)) {
    return ExplicitProgramFolders(executable_folder);
  }
  const auto folder = [&](std::string_view variable, std::string_view fallback) {
    auto base = environment(variable);
    // Relative values are to be ignored, as the XDG rules say.
    if (!base || base->empty() || base->front() != '/') {
      base = environment("HOME").value_or("/tmp") + "/" + std::string(fallback);
    }
    std::string path = *base + "/tabulon";
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
    return path;
  };
  return {folder("XDG_CONFIG_HOME", ".config"), folder("XDG_DATA_HOME", ".local/share")};
}

}  // namespace tabulon::config
