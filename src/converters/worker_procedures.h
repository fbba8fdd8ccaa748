// One worker procedure per task operation. Each runs on the controller thread, does its steps
// through the Workbench's TaskFlows, records the outcome on the task its run started and returns
// it (true for success).
#pragma once

#include "converters/task_flows.h"

namespace tabulon::converters {

bool RunCloneDatabase(TaskRunContext& run);
bool RunMigrateDatabase(TaskRunContext& run);
bool RunMigrateTables(TaskRunContext& run);
bool RunMigrateViews(TaskRunContext& run);
bool RunMigrateTable(TaskRunContext& run);
bool RunMigrateView(TaskRunContext& run);
bool RunBackupObjects(TaskRunContext& run);
bool RunBackupObject(TaskRunContext& run);
bool RunRestoreBackup(TaskRunContext& run);

// The worker procedure for `operation`; an unknown code (or missing flows) records a failure.
bool RunWorker(std::int32_t operation, TaskRunContext& run);

// On the task this run started, and on no other: SUCCESS or FAILURE with its output line; nothing
// when that task has left the list. Then asks the controller to stop when no task waits.
bool RecordTaskOutcome(TaskRunContext& run, bool success);

}  // namespace tabulon::converters
