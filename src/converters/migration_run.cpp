#include "converters/migration_run.h"

#include <mutex>
#include <nlohmann/json.hpp>

#include "converters/work_folders.h"
#include "converters/workbench.h"

namespace tabulon::converters {

void QueueMigration(Workbench& owner, const MigrationRequest& request) {
  TaskNames names;
  {
    std::lock_guard guard(owner.tree_lock());
    names.source_dbms = owner.source_dbms;
    names.target_dbms = owner.target_dbms;
  }
  names.source_database = request.source_database;
  names.source_object = request.source_object;
  names.target_database = request.target_database;
  owner.QueueTask(MakeTask(request.operation, names));
  owner.EnsureControllerRunning();
}

const char* MigrationStatusText(MigrationStatus status) {
  switch (status) {
    case MigrationStatus::kSuccess: return "success";
    case MigrationStatus::kStopped: return "stopped";
    case MigrationStatus::kFailure: break;
  }
  return "failure";
}

MigrationRun RunMigration(Workbench& owner, const MigrationRequest& request, const std::function<bool()>& stop_asked) {
  {
    std::lock_guard guard(owner.tree_lock());
    EnterWorkFolder(owner.work_directory, owner.data_folder(), "./data_cache");
  }
  QueueMigration(owner, request);
  owner.JoinController();
  {
    std::lock_guard guard(owner.tree_lock());
    data::CloseConnection(owner.target());
  }
  MigrationRun run;
  run.tasks = owner.tasks().Snapshot();
  run.task_failed = run.tasks.empty();
  for (const MigrationTask& task : run.tasks) run.task_failed = run.task_failed || task.state != kTaskSucceeded;
  if (stop_asked && stop_asked()) {
    run.status = MigrationStatus::kStopped;
  } else if (run.task_failed || owner.report().AnyFailure()) {
    run.status = MigrationStatus::kFailure;
  } else {
    run.status = MigrationStatus::kSuccess;
  }
  return run;
}

std::string MigrationReportJson(const ReportHeader& header, const std::vector<MigrationTask>& tasks,
                                const MigrationReport* report) {
  nlohmann::ordered_json json = {{"source", header.source},
                                 {"database", header.database},
                                 {"target", header.target},
                                 {"status", header.status},
                                 {"file", header.file},
                                 {"tasks", nlohmann::json::array()},
                                 {"tables", nlohmann::json::array()},
                                 {"objects", nlohmann::json::array()}};
  if (header.verified) json["verified"] = *header.verified;
  for (const MigrationTask& task : tasks) {
    json["tasks"].push_back({{"operation", task.operation}, {"state", task.state_text}});
  }
  for (const ReportedTable& t : report ? report->Tables() : std::vector<ReportedTable>{}) {
    nlohmann::ordered_json columns = nlohmann::json::array();
    for (const source_common::ColumnNote& c : t.columns) {
      columns.push_back(
          {{"column", c.column}, {"source_type", c.source_type}, {"target_type", c.target_type}, {"why", c.why}});
    }
    nlohmann::ordered_json renames = nlohmann::json::array();
    for (const source_common::Rename& r : t.renames) {
      renames.push_back({{"kind", r.kind}, {"from", r.from}, {"to", r.to}});
    }
    json["tables"].push_back({{"name", t.name},
                              {"created", t.created},
                              {"rows_copied", t.rows_copied},
                              {"rows_read", t.rows.read},
                              {"rows_written", t.rows.written},
                              {"rows_failed", t.rows.failed},
                              {"values_rounded", t.rows.rounded},
                              {"error", t.error},
                              {"columns", columns},
                              {"renames", renames}});
  }
  for (const ReportedObject& o : report ? report->Objects() : std::vector<ReportedObject>{}) {
    json["objects"].push_back({{"kind", o.kind},
                               {"name", o.name},
                               {"outcome", ObjectOutcomeText(o.outcome)},
                               {"statement", o.statement},
                               {"reason", o.reason}});
  }
  if (!header.plan_json.empty()) json["plan"] = nlohmann::ordered_json::parse(header.plan_json, nullptr, false);
  return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace tabulon::converters
