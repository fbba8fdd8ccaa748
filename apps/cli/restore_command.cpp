// tabulon-cli restore FOLDER --target FILE.mdb: the Restore command over the core. FOLDER and
// FILE.mdb answer its two choosers; the task replays the folder into the file.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "commands.h"
#include "converters/commands.h"
#include "converters/flow_support.h"
#include "core_session.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kRestoreUsage =
    "Usage: tabulon-cli restore FOLDER --target FILE.mdb [--config FILE]\n"
    "  Replays a backup into FILE.mdb: the tables of FOLDER/TABLES, then the rows of\n"
    "  FOLDER/DATA, then the views of FOLDER/VIEWS.\n"
    "  FOLDER          a database folder of a backup (FOLDER/TABLES, DATA, VIEWS), or the folder\n"
    "                  a single table or view was backed up into\n"
    "  --target FILE   created (with its folder) when missing; an existing file is added to\n"
    "                  (a table it already holds is not restored, and the exit code is 1)\n"
    "  --config FILE   the settings file whose folder is the program folder\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "tabulon-cli restore: %s\n%s", problem, kRestoreUsage);
  return 2;
}

// Names the folders below `folder` that hold a backup: the user may have given the backup folder
// instead of the database folder in it.
void PointAtBackupsBelow(const std::string& folder) {
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->is_directory(error) && tabulon::converters::HoldsBackup(it->path().string())) {
      std::fprintf(stderr, "tabulon-cli restore: %s holds a backup\n", it->path().c_str());
    }
  }
}

}  // namespace

int RunRestoreCommand(int argc, char** argv) {
  std::string folder, target, config;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kRestoreUsage, stdout);
      return 0;
    } else if (arg == "--target" && has_value) {
      target = argv[++i];
    } else if (arg == "--config" && has_value) {
      config = argv[++i];
    } else if (arg.rfind("--", 0) == 0) {
      return Usage(("unknown option or missing value: " + arg).c_str());
    } else if (folder.empty()) {
      folder = arg;
    } else {
      return Usage(("unexpected argument: " + arg).c_str());
    }
  }
  if (folder.empty() || target.empty()) return Usage("FOLDER and --target FILE.mdb are needed");
  // The target side names its database by the path without ".mdb" and finds the file again by
  // adding it: other endings do not come back to the same file.
  if (!target.ends_with(".mdb")) return Usage("the file name must end in \".mdb\"");

  // The file's folder is made, as backup makes its --out folder.
  std::error_code error;
  const fs::path parent = fs::path(AbsolutePath(target)).parent_path();
  fs::create_directories(parent, error);
  if (!fs::is_directory(parent, error)) {
    std::fprintf(stderr, "tabulon-cli restore: cannot make the folder %s\n", parent.c_str());
    return 1;
  }

  CoreSession session("restore", config);
  session.prompt().folder = AbsolutePath(folder);
  session.prompt().file = AbsolutePath(target);
  tabulon::converters::RestoreCommand(session.workbench());
  if (session.workbench().tasks().Size() == 0) PointAtBackupsBelow(folder);
  return session.WaitForTasks();
}
