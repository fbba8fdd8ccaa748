// The commands a front end runs on its user-interface thread: they read the selections of the
// two trees, ask the user through the Workbench's prompt and either queue a task (Migrate,
// Backup) or change the Access target at once (Delete and the target tree's commands).
#pragma once

#include <optional>
#include <string>

#include "converters/migration_run.h"
#include "target_access/target_context.h"

namespace tabulon::converters {

class Workbench;

// The migration the two trees' selections ask for, as Migrate would queue it: a request with the
// question Migrate asks, or the hint and message of a refusal; neither for a target database
// with a source selection that migrates nothing.
struct SelectedMigration {
  std::optional<MigrationRequest> request;
  std::string question;
  std::string target_file;  // the .mdb a migration into a target database adds to ("" for a clone)
  std::string hint, refusal;
};
SelectedMigration ReadSelectedMigration(Workbench& owner);

// Queues the migration of the source selection into the target selection (a database, or the
// target root for a clone) after the user confirmed it, and starts the controller.
void MigrateCommand(Workbench& owner);
// Queues the backup of the target selection into a folder the user chooses.
void BackupCommand(Workbench& owner);
// Asks for the backup folder and enters it; false when the user cancelled.
bool ChooseBackupDirectory(Workbench& owner);
// The backup folder for a chosen folder: the folder itself, or for the root of a file system
// ("/", "C:\") the folder "Backup.Script" in it.
std::string BackupFolderPath(const std::string& chosen);

// Queues the restore of a backup folder into an .mdb file, both chosen by the user (a new file
// is created, an existing one is added to), and starts the controller. A folder that holds no
// backup is refused with a message.
void RestoreCommand(Workbench& owner);

// Removes the target selection (a database file, all tables or views, one table or view) after
// two confirmations, and takes the removed items out of the tree.
void DeleteCommand(Workbench& owner);

// The target tree's commands. All but NewDatabase act on the selected item; every one of them
// is refused (with the Delete command's question or message) while tasks run, because a task
// writes the same file and uses the same connection.
void NewDatabase(Workbench& owner);
void DeleteDatabase(Workbench& owner);
// Drops every view, then every table of the current database (the tables' relationships
// first), and rebuilds the tree.
void ClearAllTables(Workbench& owner);
// Deletes every row of every table of the current database, referencing tables first; tables
// and views stay.
void ClearAllData(Workbench& owner);
void DropTable(Workbench& owner);
void DropView(Workbench& owner);

// In-place rename of the selected table: BeginRename gives the item whose label the front end
// lets the user edit (workspace::kNoItem: no table selected, or refused). EndRename is called when
// the edit ends, with the edited text and whether Enter ended it; only then is the table
// renamed. True when the label takes the new text.
int BeginRename(Workbench& owner);
bool EndRename(Workbench& owner, int item, const std::string& new_name, bool committed);

// Double-click on `item` of a side's tree: a database item becomes that side's current
// database (the source runs "use", the target reconnects).
void SwitchDatabase(Workbench& owner, target_access::Side side, int item);

}  // namespace tabulon::converters
