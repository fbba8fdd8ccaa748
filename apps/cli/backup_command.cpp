// tabulon-cli backup FILE.mdb [--table T | --view V | --tables | --views] --out FOLDER: the
// Backup command over the core. The object is selected in the target tree and FOLDER is the
// chosen backup folder, so the task and its files are those the Backup command makes.
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "base/text.h"
#include "commands.h"
#include "converters/commands.h"
#include "core_session.h"

namespace {

namespace fs = std::filesystem;
using tabulon::workspace::DbTreeView;
using tabulon::workspace::TreeNodeKind;

constexpr const char* kBackupUsage =
    "Usage: tabulon-cli backup FILE.mdb [--table T | --view V | --tables | --views] --out FOLDER\n"
    "                          [--config FILE]\n"
    "  Backs up every table and view of FILE.mdb (or only the tables, the views, one table or\n"
    "  one view) as scripts that tabulon-cli restore replays.\n"
    "  --out FOLDER    the backup folder (created when missing). A database goes into\n"
    "                  FOLDER/<database>/TABLES, DATA and VIEWS; a single table or view straight\n"
    "                  into FOLDER/TABLES and DATA, or FOLDER/VIEWS\n"
    "  --config FILE   the settings file whose folder is the program folder\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "tabulon-cli backup: %s\n%s", problem, kBackupUsage);
  return 2;
}

// The child of `folder` of `kind` named `name` (the exact name first, then without regard to
// case, as Access compares names); kNoItem when there is none.
int FindChild(const DbTreeView& view, int folder, TreeNodeKind kind, const std::string& name) {
  if (!view.tree.Contains(folder)) return tabulon::workspace::kNoItem;
  int loose = tabulon::workspace::kNoItem;
  for (int child : view.tree.node(folder).children) {
    const tabulon::workspace::TreeNode& node = view.tree.node(child);
    if (node.kind != kind) continue;
    if (node.text == name) return child;
    if (loose == tabulon::workspace::kNoItem && tabulon::EqualsIgnoreAsciiCase(node.text, name)) loose = child;
  }
  return loose;
}

}  // namespace

int RunBackupCommand(int argc, char** argv) {
  std::string file, out, config, object;
  TreeNodeKind kind = TreeNodeKind::kDatabase;
  bool selector_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kBackupUsage, stdout);
      return 0;
    } else if (arg == "--out" && has_value) {
      out = argv[++i];
    } else if (arg == "--config" && has_value) {
      config = argv[++i];
    } else if ((arg == "--table" || arg == "--view") && has_value) {
      if (selector_given) return Usage("give at most one of --table, --view, --tables, --views");
      selector_given = true;
      kind = arg == "--table" ? TreeNodeKind::kTable : TreeNodeKind::kView;
      object = argv[++i];
    } else if (arg == "--tables" || arg == "--views") {
      if (selector_given) return Usage("give at most one of --table, --view, --tables, --views");
      selector_given = true;
      kind = arg == "--tables" ? TreeNodeKind::kTablesFolder : TreeNodeKind::kViewsFolder;
    } else if (arg.rfind("--", 0) == 0) {
      return Usage(("unknown option or missing value: " + arg).c_str());
    } else if (file.empty()) {
      file = arg;
    } else {
      return Usage(("unexpected argument: " + arg).c_str());
    }
  }
  if (file.empty() || out.empty()) return Usage("FILE.mdb and --out FOLDER are needed");
  // The target side names its database by the path without ".mdb" and finds the file again by
  // adding it: other endings do not come back to the same file.
  if (!file.ends_with(".mdb")) return Usage("the file name must end in \".mdb\"");

  std::error_code error;
  if (!fs::is_regular_file(file, error)) {
    std::fprintf(stderr, "tabulon-cli backup: %s: no such file\n", file.c_str());
    return 1;
  }
  CoreSession session("backup", config);
  if (!session.ConnectTarget(AbsolutePath(file))) return 1;
  tabulon::converters::Workbench& workbench = session.workbench();
  {
    std::lock_guard guard(workbench.tree_lock());
    DbTreeView& tree = workbench.target_tree();
    switch (kind) {
      case TreeNodeKind::kDatabase: tree.selected = tree.current_database_item; break;
      case TreeNodeKind::kTablesFolder: tree.selected = tree.tables_folder; break;
      case TreeNodeKind::kViewsFolder: tree.selected = tree.views_folder; break;
      case TreeNodeKind::kTable: tree.selected = FindChild(tree, tree.tables_folder, kind, object); break;
      default: tree.selected = FindChild(tree, tree.views_folder, kind, object); break;
    }
    if (tree.SelectedNode() == nullptr) {
      if (kind == TreeNodeKind::kTable || kind == TreeNodeKind::kView) {
        std::fprintf(stderr, "tabulon-cli backup: %s has no %s named '%s'\n", file.c_str(),
                     kind == TreeNodeKind::kTable ? "table" : "view", object.c_str());
      } else {
        std::fprintf(stderr, "tabulon-cli backup: %s: the database is not in the target tree\n", file.c_str());
      }
      return 1;
    }
  }
  fs::create_directories(out, error);
  if (!fs::is_directory(out, error)) {
    std::fprintf(stderr, "tabulon-cli backup: cannot make the folder %s\n", out.c_str());
    return 1;
  }
  session.prompt().folder = AbsolutePath(out);
  tabulon::converters::BackupCommand(workbench);
  return session.WaitForTasks();
}
