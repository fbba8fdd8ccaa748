// The folders the migrate and backup work writes into. The program keeps its own current
// folder (Workbench::work_directory) instead of the process's working directory, so that a
// running task never changes how the front end resolves the paths a user types. The operations
// move that folder as a working directory would move.
#pragma once

#include <string>
#include <string_view>

namespace tabulon::converters {

// `name` below `base` ("./data_cache" and "data_cache" are the same); see EnterFolderPath.
void EnterWorkFolder(std::string& current, const std::string& base, std::string_view name);
// Makes sure the folder `path` exists (a plain file of that name is deleted first; only the last
// component is created) and makes it current. Failures are not reported: later files then go to
// whatever folder is current.
void EnterFolderPath(std::string& current, const std::string& path);
// Enters the folder named by the last component of `name` (after its last '/' or '\') inside the
// current folder, creating it as above; ".." moves to the parent folder.
void EnterSubfolder(std::string& current, std::string_view name);
// `name` inside the current folder.
std::string PathInFolder(const std::string& current, std::string_view name);

}  // namespace tabulon::converters
