#include "converters/worker_procedures.h"

#include <mutex>
#include <string_view>

#include "converters/workbench.h"

namespace tabulon::converters {
namespace {

// The source path as the project names it, for the "Select Source Database" line.
const char* ProjectPath(const char* path) {
  const std::string_view full(path);
  const auto at = full.rfind("src/converters/");
  return at == std::string_view::npos ? path : path + at;
}

#define TABULON_SELECT_SOURCE_ERROR(run)                                                                               \
  workspace::WriteOutput((run).output(), "[%s](%d)Select Source Database[%s] Error!", ProjectPath(__FILE__), __LINE__, \
                         (run).source_database.c_str())

TaskFlows& Flows(TaskRunContext& run) { return *run.owner->flows(); }

// The "use" step on the source: the name becomes the source tree's current database first.
bool UseSource(TaskRunContext& run) {
  {
    std::lock_guard guard(run.owner->tree_lock());
    run.owner->source_tree().current_database = run.source_database;
  }
  return Flows(run).UseSourceDatabase(run, run.source_database);
}

// MigrateDatabase and MigrateTables share everything but the views step.
bool MigrateWithUseStep(TaskRunContext& run, bool with_views) {
  TaskFlows& flows = Flows(run);
  flows.ReconnectTarget(run, run.target_database);
  if (!UseSource(run)) {
    TABULON_SELECT_SOURCE_ERROR(run);
    return RecordTaskOutcome(run, false);
  }
  flows.MigrateAllTables(run);
  run.SetProgress(with_views ? 50 : 90);
  if (with_views) {
    flows.MigrateAllViews(run);
    run.SetProgress(90);
  }
  flows.RefreshTargetTree(run);
  run.SetProgress(100);
  return RecordTaskOutcome(run, true);
}

}  // namespace

bool RunCloneDatabase(TaskRunContext& run) {
  TaskFlows& flows = Flows(run);
  if (!flows.CreateTargetDatabase(run, run.target_database)) {
    workspace::WriteOutput(run.output(), "Create Target Database[%s] Error!", run.target_database.c_str());
    return RecordTaskOutcome(run, false);
  }
  flows.ReconnectTarget(run, run.target_database);
  if (!flows.SelectSourceDatabase(run, run.source_database)) {
    TABULON_SELECT_SOURCE_ERROR(run);
    return RecordTaskOutcome(run, false);
  }
  flows.MigrateAllTables(run);
  run.SetProgress(50);
  flows.MigrateAllViews(run);
  run.SetProgress(100);
  flows.RefreshTargetTree(run);
  return RecordTaskOutcome(run, true);
}

bool RunMigrateDatabase(TaskRunContext& run) { return MigrateWithUseStep(run, true); }

bool RunMigrateTables(TaskRunContext& run) { return MigrateWithUseStep(run, false); }

// Selects the target database the way its sibling operations do (a reconnection: the built-in
// target has no "use" statement), then runs the use step on the source.
bool RunMigrateViews(TaskRunContext& run) {
  TaskFlows& flows = Flows(run);
  flows.ReconnectTarget(run, run.target_database);
  if (!UseSource(run)) {
    TABULON_SELECT_SOURCE_ERROR(run);
    return RecordTaskOutcome(run, false);
  }
  flows.MigrateAllViews(run);
  run.SetProgress(90);
  flows.RefreshTargetTree(run);
  run.SetProgress(100);
  return RecordTaskOutcome(run, true);
}

namespace {

bool MigrateSingle(TaskRunContext& run, bool view) {
  TaskFlows& flows = Flows(run);
  flows.ReconnectTarget(run, run.target_database);
  if (!flows.SelectSourceDatabase(run, run.source_database)) {
    TABULON_SELECT_SOURCE_ERROR(run);
    return RecordTaskOutcome(run, false);
  }
  bool success = true;
  if (view) {
    success = flows.MigrateOneView(run);
  } else {
    flows.MigrateOneTable(run);
  }
  run.SetProgress(90);
  flows.RefreshTargetTree(run);
  run.SetProgress(100);
  return RecordTaskOutcome(run, success);
}

}  // namespace

bool RunMigrateTable(TaskRunContext& run) { return MigrateSingle(run, false); }

bool RunMigrateView(TaskRunContext& run) { return MigrateSingle(run, true); }

bool RunBackupObjects(TaskRunContext& run) {
  TaskFlows& flows = Flows(run);
  flows.ReconnectTarget(run, run.target_database);
  const std::string& selector = run.backup_selector;
  // A list of tables or views the target cannot give fails the task: nothing of it was saved.
  bool success = true;
  if (selector == "A" || selector == "T") success = flows.BackupAllTables(run);
  run.SetProgress(50);
  if (selector == "A" || selector == "V") success = flows.BackupAllViews(run) && success;
  run.SetProgress(100);
  return RecordTaskOutcome(run, success);
}

bool RunBackupObject(TaskRunContext& run) {
  TaskFlows& flows = Flows(run);
  flows.ReconnectTarget(run, run.target_database);
  bool success = false;
  if (run.backup_selector == "T") {
    success = flows.BackupOneTable(run);
  } else if (run.backup_selector == "V") {
    success = flows.BackupOneView(run);
  }
  run.SetProgress(80);
  flows.RefreshTargetTree(run);
  run.SetProgress(100);
  return RecordTaskOutcome(run, success);
}

// The flow reports what it could not restore; the task fails then.
bool RunRestoreBackup(TaskRunContext& run) {
  TaskFlows& flows = Flows(run);
  const bool restored = flows.RestoreBackup(run);
  run.SetProgress(90);
  flows.RefreshTargetTree(run);
  run.SetProgress(100);
  return RecordTaskOutcome(run, restored);
}

bool RunWorker(std::int32_t operation, TaskRunContext& run) {
  if (run.owner->flows() == nullptr) return RecordTaskOutcome(run, false);
  switch (operation) {
    case kCloneDatabase: return RunCloneDatabase(run);
    case kMigrateDatabase: return RunMigrateDatabase(run);
    case kMigrateTables: return RunMigrateTables(run);
    case kMigrateViews: return RunMigrateViews(run);
    case kMigrateTable: return RunMigrateTable(run);
    case kMigrateView: return RunMigrateView(run);
    case kBackupObjects: return RunBackupObjects(run);
    case kBackupObject: return RunBackupObject(run);
    case kRestoreBackup: return RunRestoreBackup(run);
    default: return RecordTaskOutcome(run, false);
  }
}

bool RecordTaskOutcome(TaskRunContext& run, bool success) {
  TaskList& tasks = run.owner->tasks();
  std::lock_guard guard(tasks.lock());
  if (run.task != nullptr && tasks.Contains(run.task)) {
    run.task->state = success ? kTaskSucceeded : kTaskFailed;
    run.task->state_text = success ? "SUCCESS" : "FAILURE";
    workspace::WriteOutput(run.output(), "%s", success ? "Operation completed SUCCESSFULLY!" : "Operation FAILURE!");
  }
  if (!tasks.HasWaiting()) run.owner->RequestControllerStop();
  return success;
}

}  // namespace tabulon::converters
