// One entry for a migration, shared by the Migrate command and the command-line program: the
// request names what to copy as the trees name it; QueueMigration turns it into the task the
// controller runs; RunMigration runs it headless to its end and says how it went; the report of
// a run is JSON.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "converters/migration_report.h"
#include "converters/task_model.h"

namespace tabulon::converters {

class Workbench;

struct MigrationRequest {
  // kCloneDatabase, kMigrateDatabase, kMigrateTables, kMigrateViews, kMigrateTable or kMigrateView.
  TaskOperation operation = kMigrateDatabase;
  std::string source_database;
  std::string source_object;    // the table or view of kMigrateTable / kMigrateView
  std::string target_database;  // as the target tree names it; for a clone the new database's name
};

// Queues the request's task, with the DBMS texts the Workbench holds, and starts the controller.
void QueueMigration(Workbench& owner, const MigrationRequest& request);

enum class MigrationStatus { kSuccess, kFailure, kStopped };
// "success", "failure", "stopped".
const char* MigrationStatusText(MigrationStatus status);

struct MigrationRun {
  MigrationStatus status = MigrationStatus::kFailure;
  bool task_failed = false;  // a task itself failed, not only a table, a row or an object
  std::vector<MigrationTask> tasks;
};

// Headless: enters the data cache folder, queues the request, waits until the controller has
// run it (a stop request ends it early) and closes the target connection, so the file can be
// checked, moved or reported. `stop_asked` tells whether the user asked to stop.
MigrationRun RunMigration(Workbench& owner, const MigrationRequest& request, const std::function<bool()>& stop_asked);

// What a report names besides the run: where from and where to, and what became of the file.
struct ReportHeader {
  std::string source, database, target;
  std::string status;  // MigrationStatusText
  std::string file;    // "complete", "kept", "removed", "damaged", "none"
  // Set when the run was verified (migrate --verify): whether every table compared equal.
  std::optional<bool> verified;
  // Set when a plan was made (migration_plan.h): the report holds it under "plan", last.
  std::string plan_json;
};
// The report as JSON: the header ("verified" last, when set), per task its operation and state, per table what was
// created, read, written and refused, per key, index, relationship and view its outcome. Text that is not UTF-8 (a
// source's names may hold such bytes) is replaced, never a reason to lose the report.
std::string MigrationReportJson(const ReportHeader& header, const std::vector<MigrationTask>& tasks,
                                const MigrationReport* report);

}  // namespace tabulon::converters
