// The backup flows: for every table of the target a structure script (TABLES/<t>.tbl) and a
// data script (DATA/<t>.data), for every view a view script (VIEWS/<v>.vw), and for every saved
// query of any kind its stored rows (QUERIES/<q>.qry). A whole database
// goes below the backup root in a folder named after it; a single object goes straight into the
// folder that is current when its task starts.
#include <string>
#include <vector>

#include "converters/core_task_flows.h"
#include "converters/flow_support.h"
#include "converters/work_folders.h"
#include "converters/workbench.h"
#include "data/error_text.h"
#include "data/statement.h"
#include "target_access/backup_keys.h"
#include "target_access/backup_scripts.h"

namespace tabulon::converters {
namespace {

data::Session* TargetSession(const TaskRunContext& run) { return run.target->session.get(); }

// Writes QUERIES/<query>.qry below `folder`; a query that cannot be read leaves no file (its
// view script, if any, then restores it as before) and a line on the output pane.
void BackupQuery(TaskRunContext& run, const std::string& folder, const std::string& query) {
  workspace::OutputPane* out = run.output();
  const Result<std::string> script = target_access::QueryBackupScript(TargetSession(run), query);
  if (!script.ok()) {
    workspace::WriteOutput(out, "T::Query [%s]: %s", query.c_str(), script.status().message().c_str());
    return;
  }
  std::string queries = folder;
  EnterSubfolder(queries, "QUERIES");
  if (!WriteNewFile(PathInFolder(queries, query + ".qry"), *script))
    workspace::WriteOutput(out, "%s", kCharacterSetLine);
}

// Writes `text` as a new file `name` in the subfolder `part` of `folder`.
bool WriteScript(const std::string& folder, const char* part, const std::string& name, const std::string& text) {
  std::string made = folder;
  EnterSubfolder(made, part);
  const std::string path = PathInFolder(made, name);
  return WriteNewFile(path, text);
}

// KEYS/<t>.keys, RELATIONSHIPS/<r>.rel (the relationships the table refers through) and
// PROPERTIES/<t>.prop, read from the target's file. A part that cannot be read is one line.
void BackupTableExtras(target_access::TargetContext& owner, data::Session* session, workspace::OutputPane* out,
                       const std::string& folder, const std::string& table) {
  Result<std::unique_ptr<jet::Database>> db = target_access::OpenTargetFile(owner, session);
  if (!db.ok()) {
    workspace::WriteOutput(out, "T::[%s] keys, relationships and properties: %s", table.c_str(),
                           db.status().message().c_str());
    return;
  }
  const auto report = [&](const char* what, const Status& status) {
    workspace::WriteOutput(out, "T::[%s] %s: %s", table.c_str(), what, status.message().c_str());
  };
  if (Result<std::string> keys = target_access::KeysScript(**db, table); keys.ok()) {
    WriteScript(folder, "KEYS", table + ".keys", *keys);
  } else {
    report("keys", keys.status());
  }
  if (auto relationships = target_access::RelationshipScripts(**db, table); relationships.ok()) {
    for (const auto& [name, script] : *relationships) WriteScript(folder, "RELATIONSHIPS", name + ".rel", script);
  } else {
    report("relationships", relationships.status());
  }
  if (Result<std::string> properties = target_access::PropertiesScript(**db, table); properties.ok()) {
    WriteScript(folder, "PROPERTIES", table + ".prop", *properties);
  } else {
    report("properties", properties.status());
  }
}

}  // namespace

std::string CoreTaskFlows::EnterDatabaseBackupFolder(const std::string& database) {
  std::string folder = WorkDirectory();
  bool chosen = false;
  std::string backup_folder;
  {
    std::lock_guard guard(owner_.tree_lock());
    chosen = owner_.backup_folder_chosen;
    backup_folder = owner_.backup_folder;
  }
  if (chosen) {
    EnterFolderPath(folder, backup_folder);
  } else {
    EnterWorkFolder(folder, owner_.data_folder(), "./backup");
  }
  EnterSubfolder(folder, DatabaseFolderName(database));
  return folder;
}

bool CoreTaskFlows::BackupAllTables(TaskRunContext& run) {
  workspace::OutputPane* out = run.output();
  workspace::WriteOutput(out, "Backup Tables of database [%s]", run.target_database.c_str());
  const std::string folder = EnterDatabaseBackupFolder(run.target_database);
  std::vector<ListedObject> tables;
  const data::Hresult listed = ListObjects(TargetSession(run), "TABLE", &tables);
  if (data::Failed(listed)) {
    owner_.prompt().ShowMessage(data::FormatHresult("Open tables Error:", listed));
    return false;
  }
  // Made even when there is no table: the backup then says the database had none, and
  // restores as an empty one.
  for (const char* part : {"TABLES", "DATA"}) {
    std::string made = folder;
    EnterSubfolder(made, part);
  }
  for (const ListedObject& table : tables) {
    // A name with a blank backs up like any other: every script backquotes it.
    if (table.type == "VIEW") continue;
    BackupTable(run, folder, table.name);
    if (run.StopRequested()) {
      workspace::WriteOutput(out, "Tables Backup Terminaled!");
      break;
    }
  }
  return true;
}

bool CoreTaskFlows::BackupAllViews(TaskRunContext& run) {
  workspace::OutputPane* out = run.output();
  workspace::WriteOutput(out, "Backup Views of database [%s]", run.target_database.c_str());
  const std::string folder = EnterDatabaseBackupFolder(run.target_database);
  std::vector<ListedObject> views;
  const data::Hresult listed = ListObjects(TargetSession(run), "VIEW", &views);
  if (data::Failed(listed)) {
    workspace::WriteOutputText(out, data::FormatHresult("Open views Error:", listed));
    return false;
  }
  std::string made = folder;
  EnterSubfolder(made, "VIEWS");
  for (const ListedObject& view : views) {
    if (IsUserView(view)) BackupView(run, folder, view.name);
    if (run.StopRequested()) {
      workspace::WriteOutput(out, "Views Backup Terminaled!");
      return true;
    }
  }
  // Every saved query, action and pass-through ones included, as its rows: the views above
  // stay as they were for older readers; their .qry restores them exactly.
  const Result<std::vector<std::string>> queries = target_access::SavedQueryNames(TargetSession(run));
  if (!queries.ok()) {
    workspace::WriteOutput(out, "T::Queries: %s", queries.status().message().c_str());
    return true;
  }
  for (const std::string& query : *queries) {
    BackupQuery(run, folder, query);
    if (run.StopRequested()) {
      workspace::WriteOutput(out, "Views Backup Terminaled!");
      break;
    }
  }
  return true;
}

bool CoreTaskFlows::BackupOneTable(TaskRunContext& run) { return BackupTable(run, WorkDirectory(), run.target_object); }

bool CoreTaskFlows::BackupOneView(TaskRunContext& run) {
  const std::string folder = WorkDirectory();
  if (!BackupView(run, folder, run.target_object)) return false;
  BackupQuery(run, folder, run.target_object);
  return true;
}

bool CoreTaskFlows::BackupTable(TaskRunContext& run, const std::string& folder, const std::string& table) {
  workspace::OutputPane* out = run.output();
  std::string tables = folder;
  EnterSubfolder(tables, "TABLES");
  const std::string path = PathInFolder(tables, table + ".tbl");
  if (!WriteNewFile(path, "")) {
    workspace::WriteOutput(out, "%s", kCharacterSetLine);
    return false;
  }
  AppendToFile(path, target_access::TableDefinitionScript(owner_.target_context(), TargetSession(run), table));
  std::string data_folder = folder;
  EnterSubfolder(data_folder, "DATA");
  // It prints its own lines and watches the stop request; its result says nothing more.
  target_access::TableDataScript(owner_.target_context(), TargetSession(run), table,
                                 PathInFolder(data_folder, table + ".data"));
  BackupTableExtras(owner_.target_context(), TargetSession(run), out, folder, table);
  return true;
}

bool CoreTaskFlows::BackupView(TaskRunContext& run, const std::string& folder, const std::string& view) {
  workspace::OutputPane* out = run.output();
  std::string views = folder;
  EnterSubfolder(views, "VIEWS");
  const std::string path = PathInFolder(views, view + ".vw");
  if (!WriteNewFile(path, "")) {
    workspace::WriteOutput(out, "%s", kCharacterSetLine);
    return false;
  }
  workspace::WriteOutput(out, "Bakcup View [%s].[%s]", run.target_database.c_str(), view.c_str());
  bool is_definition = false;
  const std::string line = ViewScriptLine(
      target_access::ViewDefinitionScript(owner_.target_context(), TargetSession(run), view), &is_definition);
  if (is_definition) workspace::WriteOutput(out, "RESULT: The operation completed SUCCESSFULLY");
  AppendToFile(path, line);
  return true;
}

}  // namespace tabulon::converters
