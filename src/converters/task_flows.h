// What the worker procedures call: the side operations they need (create, reconnect and select
// databases, refresh the target tree) and the migration and backup flows. The Workbench holds one
// TaskFlows; the program builds it over the source and target adapters, tests script it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "converters/task_model.h"
#include "data/db_connection.h"
#include "workspace/output_pane.h"

namespace tabulon::source_common {
class AccessNames;
}

namespace tabulon::converters {

class Workbench;

// The block a worker procedure receives: refilled by the controller for every task it starts.
struct TaskRunContext {
  std::int64_t stamp = 0;  // the start stamp of the running task
  Workbench* owner = nullptr;
  // The side holders, not their sessions: a reconnection during the run is seen by later steps.
  data::DbConnection* source = nullptr;
  data::DbConnection* target = nullptr;
  std::string source_object;
  std::string source_database;
  std::string target_object;
  std::string target_database;
  std::string backup_selector;
  // The running task's record. It may have left the list (deleted or cleared) meanwhile; progress
  // written then reaches no listed task.
  TaskList::TaskRef task;
  // The Access names of the source database's objects, made once per run from the source tree.
  std::shared_ptr<source_common::AccessNames> names;

  void SetProgress(std::int32_t percent) const;
  // True once a stop has been asked for: long loops look at it between items.
  bool StopRequested() const;
  workspace::OutputPane* output() const;
};

class TaskFlows {
 public:
  virtual ~TaskFlows() = default;

  // Creates the target database file `name` without asking for a path; false on failure.
  virtual bool CreateTargetDatabase(TaskRunContext& run, const std::string& name) = 0;
  // Reconnects the target side to `database`; it reports its own failures.
  virtual void ReconnectTarget(TaskRunContext& run, const std::string& database) = 0;
  // Selects `database` on the source side (with its catalogue checks).
  virtual bool SelectSourceDatabase(TaskRunContext& run, const std::string& database) = 0;
  // The plain "use" step on the source side; the caller has already recorded the name as the
  // source tree's current database.
  virtual bool UseSourceDatabase(TaskRunContext& run, const std::string& database) = 0;
  virtual void RefreshTargetTree(TaskRunContext& run) = 0;

  // Migration flows, from run.source_database (and run.source_object) into the connected target.
  // Only MigrateOneView's result decides a task's outcome; the others report per object.
  virtual bool MigrateAllTables(TaskRunContext& run) = 0;
  virtual bool MigrateOneTable(TaskRunContext& run) = 0;
  virtual bool MigrateAllViews(TaskRunContext& run) = 0;
  virtual bool MigrateOneView(TaskRunContext& run) = 0;
  virtual bool MigrateRelationships(TaskRunContext& run) = 0;

  // Backup flows of run.target_database (and run.target_object). BackupAllTables and
  // BackupAllViews are false when the target cannot list its tables (views); the task fails.
  virtual bool BackupAllTables(TaskRunContext& run) = 0;
  virtual bool BackupAllViews(TaskRunContext& run) = 0;
  virtual bool BackupOneTable(TaskRunContext& run) = 0;
  virtual bool BackupOneView(TaskRunContext& run) = 0;

  // Replays the backup folder run.source_database into the .mdb file run.target_database:
  // creates the file when it does not exist, reconnects the target to it and restores tables,
  // rows and views. False when the folder holds no backup, the file cannot be made or opened,
  // or anything was not restored (a stop included).
  virtual bool RestoreBackup(TaskRunContext& run) = 0;
};

}  // namespace tabulon::converters
