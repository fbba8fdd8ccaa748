// Where the program keeps its files: the folder of the executable when it is writable and not an
// installed copy's (one with the installed document folder beside it); otherwise
// $XDG_CONFIG_HOME/tabulon (tabulon.cfg, Condition.cfg) and $XDG_DATA_HOME/tabulon (data_cache,
// backup), with the usual defaults under $HOME. Front ends and tests may pass an explicit folder
// instead.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tabulon::config {

struct ProgramFolders {
  std::string config;  // tabulon.cfg and Condition.cfg
  std::string data;    // data_cache and backup
};

using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view)>;

// True when `executable_folder` is where an installed copy's programs are: the installed manual
// (the document folder relative to the program folder, as CMake installs it) is beside it.
bool IsInstalledProgramFolder(const std::string& executable_folder);
// `executable_folder` when writable and not installed, else the XDG folders (created when missing).
ProgramFolders FindProgramFolders(const std::string& executable_folder, const EnvironmentLookup& environment);
// Both folders are `folder`.
inline ProgramFolders ExplicitProgramFolders(const std::string& folder) { return {folder, folder}; }

}  // namespace tabulon::config
