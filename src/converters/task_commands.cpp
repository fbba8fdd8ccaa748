// The commands that queue tasks: Migrate, Backup and Restore, and the choice of the backup folder.
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "converters/commands.h"
#include "converters/flow_support.h"
#include "converters/migration_run.h"
#include "converters/tree_selection.h"
#include "converters/work_folders.h"
#include "converters/workbench.h"

namespace tabulon::converters {
namespace {

using workspace::TreeNodeKind;

// What a command needs of the Workbench at one moment: both selections, whether the target is
// connected, and the DBMS texts new tasks carry.
struct CommandState {
  TreeSelection source;
  TreeSelection target;
  bool target_connected = false;
  std::string target_dbms;
};

CommandState ReadCommandState(Workbench& owner) {
  std::lock_guard guard(owner.tree_lock());
  CommandState state;
  state.source = ReadSelection(owner.source_tree());
  state.target = ReadSelection(owner.target_tree());
  state.target_connected = owner.target().session != nullptr;
  state.target_dbms = owner.target_dbms;
  return state;
}

void EnterWorkFolderOf(Workbench& owner, const char* name) {
  std::lock_guard guard(owner.tree_lock());
  EnterWorkFolder(owner.work_directory, owner.data_folder(), name);
}

void Refuse(Workbench& owner, const char* hint, const char* message) {
  owner.ShowHint(hint);
  owner.prompt().ShowMessage(message);
}

// The migration a source selection asks for when dropped on a target database, with its
// question; operation 0 for a selection that migrates nothing.
struct MigrationChoice {
  TaskOperation operation = static_cast<TaskOperation>(0);
  std::string question;
};

MigrationChoice ChooseMigration(const TreeSelection& source, const std::string& target_database) {
  const std::string into = "] into Target database [" + target_database + "]?";
  switch (source.kind) {
    case TreeNodeKind::kDatabase: return {kMigrateDatabase, "Convert database [" + source.text + into};
    case TreeNodeKind::kTablesFolder: return {kMigrateTables, "Convert tables of [" + source.parent + into};
    case TreeNodeKind::kViewsFolder: return {kMigrateViews, "Convert views of [" + source.parent + into};
    case TreeNodeKind::kTable: return {kMigrateTable, "Convert table [" + source.text + into};
    case TreeNodeKind::kView: return {kMigrateView, "Convert view [" + source.text + into};
    default: return {};
  }
}

// `path` made absolute against the process's directory (unchanged when that cannot be read).
std::string WholePath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path whole = std::filesystem::absolute(path, error);
  return error ? path : whole.lexically_normal().string();
}

}  // namespace

SelectedMigration ReadSelectedMigration(Workbench& owner) {
  const CommandState state = ReadCommandState(owner);
  SelectedMigration selected;
  if (!state.target_connected) {
    selected.hint = "Please confirm your Target Database Connection is valid!";
    selected.refusal = "No Target DataSource Connection!";
  } else if (!state.source.present()) {
    selected.hint = "Please Select a Object to Convert in Source Databases Tree!";
    selected.refusal = "No Selected Source Database Object!";
  } else if (!state.target.present()) {
    selected.hint = "Please Select a object in Target Tree!";
    selected.refusal = "No Selected Target Objects!";
  } else if (state.target.kind == TreeNodeKind::kRoot && state.source.kind == TreeNodeKind::kDatabase) {
    selected.request = MigrationRequest{kCloneDatabase, state.source.text, "", state.source.text};
    selected.question = "Clone database [" + state.source.text + "] of source tree?";
  } else if (state.target.kind == TreeNodeKind::kDatabase) {
    const MigrationChoice choice = ChooseMigration(state.source, state.target.text);
    if (choice.operation != 0) {
      const bool single = choice.operation == kMigrateTable || choice.operation == kMigrateView;
      const bool folder =
          state.source.kind == TreeNodeKind::kTablesFolder || state.source.kind == TreeNodeKind::kViewsFolder;
      MigrationRequest request{choice.operation, {}, {}, state.target.text};
      request.source_database = single ? state.source.grandparent : folder ? state.source.parent : state.source.text;
      if (single) request.source_object = state.source.text;
      selected.request = request;
      selected.question = choice.question;
      selected.target_file = WholePath(MdbFilePath(state.target.text));
    }
  } else {
    selected.hint = "Please select a database in Target Database Tree!";
    selected.refusal = "Please select a target Database!";
  }
  return selected;
}

void MigrateCommand(Workbench& owner) {
  const SelectedMigration selected = ReadSelectedMigration(owner);
  if (!selected.refusal.empty() && selected.refusal == "No Target DataSource Connection!") {
    Refuse(owner, selected.hint.c_str(), selected.refusal.c_str());
    return;
  }
  EnterWorkFolderOf(owner, "./data_cache");
  if (!selected.refusal.empty()) {
    Refuse(owner, selected.hint.c_str(), selected.refusal.c_str());
    return;
  }
  if (!selected.request) {
    // A target database with a source selection that migrates nothing: the controller starts.
    owner.EnsureControllerRunning();
    return;
  }
  if (!owner.prompt().AskOkCancel(selected.question)) return;
  QueueMigration(owner, *selected.request);
}

void BackupCommand(Workbench& owner) {
  const CommandState state = ReadCommandState(owner);
  if (!state.target_connected) {
    Refuse(owner, "Please confirm your target Database connected SUCCESSFULLY!", "No Target DataSource Connection!");
    return;
  }
  EnterWorkFolderOf(owner, "./backup");
  if (!state.target.present()) {
    Refuse(owner, "Please select a Object in Target Databases Tree to backup!", "No selected Objects to backup!");
    owner.EnsureControllerRunning();
    return;
  }
  if (!ChooseBackupDirectory(owner)) return;

  TaskNames names;
  names.target_dbms = state.target_dbms;
  const TreeSelection& target = state.target;
  std::optional<TaskOperation> operation;
  switch (target.kind) {
    case TreeNodeKind::kDatabase:
      operation = kBackupObjects;
      names.target_database = target.text;
      names.backup_selector = "A";
      break;
    case TreeNodeKind::kTablesFolder:
    case TreeNodeKind::kViewsFolder:
      operation = kBackupObjects;
      names.target_database = target.parent;
      names.backup_selector = target.kind == TreeNodeKind::kTablesFolder ? "T" : "V";
      break;
    case TreeNodeKind::kTable:
    case TreeNodeKind::kView:
      operation = kBackupObject;
      names.target_database = target.grandparent;
      names.target_object = target.text;
      names.backup_selector = target.kind == TreeNodeKind::kTable ? "T" : "V";
      break;
    default: break;
  }
  if (operation) owner.QueueTask(MakeTask(*operation, names));
  owner.EnsureControllerRunning();
}

void RestoreCommand(Workbench& owner) {
  std::string initial_folder, current_target, target_dbms;
  {
    std::lock_guard guard(owner.tree_lock());
    initial_folder = owner.backup_folder;
    current_target = owner.target_tree().current_database;
    target_dbms = owner.target_dbms;
  }
  std::optional<std::string> folder =
      owner.prompt().ChooseFolder("Please choose the backup folder to restore:", initial_folder);
  if (!folder || folder->empty()) return;
  if (!HoldsBackup(*folder)) {
    owner.prompt().ShowMessage("No backup in [" + *folder + "]: it holds no TABLES, DATA or VIEWS folder!");
    return;
  }
  workspace::FileChoice choice;
  choice.title = "Restore Into Access Database";
  choice.filter_name = "Access Data File";
  choice.filter_pattern = "*.mdb;*.MDB";
  choice.initial_directory = std::filesystem::path(current_target).parent_path().string();
  choice.save = true;
  choice.path_must_exist = true;
  std::optional<std::string> file = owner.prompt().ChooseFile(choice);
  if (!file || file->empty()) return;
  TaskNames names;
  names.target_dbms = target_dbms;
  // Whole paths: the task runs later, and the target's reconnection would read a bare file name
  // beside whatever file is connected then.
  names.source_database = WholePath(*folder);
  names.target_database = WholePath(*file);
  owner.QueueTask(MakeTask(kRestoreBackup, names));
  owner.EnsureControllerRunning();
}

// A backup is never written straight into the root of a file system: it goes into a folder of
// its own there. A short name such as "/ab" is a folder like any other.
std::string BackupFolderPath(const std::string& chosen) {
  if (!chosen.empty() && chosen.size() < 4 && (chosen.back() == '/' || chosen.back() == '\\')) {
    return chosen + "Backup.Script";
  }
  return chosen;
}

bool ChooseBackupDirectory(Workbench& owner) {
  std::string initial;
  {
    std::lock_guard guard(owner.tree_lock());
    initial = owner.backup_folder;
  }
  std::optional<std::string> chosen = owner.prompt().ChooseFolder("Please choise your backup directory:", initial);
  if (!chosen || chosen->empty()) return false;
  const std::string folder = BackupFolderPath(*chosen);
  std::lock_guard guard(owner.tree_lock());
  owner.backup_folder_chosen = true;
  owner.backup_folder = folder;
  EnterFolderPath(owner.work_directory, folder);
  return true;
}

}  // namespace tabulon::converters
