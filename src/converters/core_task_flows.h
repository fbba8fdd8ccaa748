// The program's own TaskFlows over a Workbench: the side operations through the source adapter
// the source profile names (SQLite or SQL Server) and the Access target adapter, the migration
// flows (tables with their keys, unique indexes and rows, then relationships, then views) and
// the backup flows (structure, data and view scripts of the target).
//
// Scratch files and backup scripts go below the Workbench's work directory. Each flow takes
// that folder once, when it starts, and never moves it: a command issued while a task runs
// changes where later tasks write, not the files of the task in progress.
#pragma once

#include <memory>
#include <string>

#include "converters/task_flows.h"
#include "workspace/db_tree.h"
#include "source_common/source_adapter.h"
#include "source_common/source_context.h"

namespace tabulon::converters {

// The source adapter for a source provider name: "SQLite" (any case) reads a SQLite file,
// every other provider a SQL Server.
const source_common::SourceAdapter& SourceAdapterFor(std::string_view provider_name);

class CoreTaskFlows : public TaskFlows {
 public:
  explicit CoreTaskFlows(Workbench& owner) : owner_(owner) {}

  bool CreateTargetDatabase(TaskRunContext& run, const std::string& name) override;
  void ReconnectTarget(TaskRunContext& run, const std::string& database) override;
  bool SelectSourceDatabase(TaskRunContext& run, const std::string& database) override;
  bool UseSourceDatabase(TaskRunContext& run, const std::string& database) override;
  void RefreshTargetTree(TaskRunContext& run) override;

  bool MigrateAllTables(TaskRunContext& run) override;
  bool MigrateOneTable(TaskRunContext& run) override;
  bool MigrateAllViews(TaskRunContext& run) override;
  bool MigrateOneView(TaskRunContext& run) override;
  bool MigrateRelationships(TaskRunContext& run) override;

  bool BackupAllTables(TaskRunContext& run) override;
  bool BackupAllViews(TaskRunContext& run) override;
  bool BackupOneTable(TaskRunContext& run) override;
  bool BackupOneView(TaskRunContext& run) override;

  bool RestoreBackup(TaskRunContext& run) override;

 private:
  // The Workbench's work directory now.
  std::string WorkDirectory();
  // What the source adapter needs for one flow; data files go to `folder`.
  source_common::SourceContext MakeSourceContext(TaskRunContext& run, const std::string& folder);
  // The adapter of the run's source.
  static const source_common::SourceAdapter& Source(const TaskRunContext& run);
  // A source table or view named by a task, with the schema the source tree lists it in.
  source_common::SourceTable SourceObject(const std::string& name, workspace::TreeNodeKind kind);

  void MigrateTable(TaskRunContext& run, const std::string& folder, const source_common::SourceTable& table);
  void MigrateRelationshipsIn(TaskRunContext& run, const std::string& folder);
  bool MigrateView(TaskRunContext& run, const std::string& folder, const source_common::SourceTable& view);

  // The backup root with the database's own folder below it, entered for `database`.
  std::string EnterDatabaseBackupFolder(const std::string& database);
  bool BackupTable(TaskRunContext& run, const std::string& folder, const std::string& table);
  bool BackupView(TaskRunContext& run, const std::string& folder, const std::string& view);

  Workbench& owner_;
};

// The flows a Workbench runs unless a test sets others.
std::unique_ptr<TaskFlows> MakeCoreTaskFlows(Workbench& owner);

}  // namespace tabulon::converters
