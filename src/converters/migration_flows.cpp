// The migration flows: every table with its primary key, unique indexes and rows, then the
// relationships of all tables, then the views. Every failure is a line; the flow goes on with
// the next statement or object.
#include <string>
#include <vector>

#include "converters/core_task_flows.h"
#include "converters/flow_support.h"
#include "converters/work_folders.h"
#include "converters/workbench.h"
#include "data/error_text.h"
#include "data/statement.h"

namespace tabulon::converters {
namespace {

using source_common::SourceTable;

constexpr char kNoSupport[] = "NO SUPPORT!";

data::Session* SourceSession(const TaskRunContext& run) { return run.source->session.get(); }
// Read for every statement: a reconnection during the run is seen by the next one.
data::Session* TargetSession(const TaskRunContext& run) { return run.target->session.get(); }

bool Unsupported(const std::string& text) { return text.find(kNoSupport) != std::string::npos; }

void Record(TaskRunContext& run, const char* kind, const std::string& name, const std::string& statement,
            ObjectOutcome outcome, std::string reason = {}) {
  run.owner->report().AddObject(ReportedObject{kind, name, statement, outcome, std::move(reason)});
}

// Runs one statement that creates `kind` and records the outcome with the target's reason.
bool CreateObject(TaskRunContext& run, const char* kind, const std::string& name, const std::string& statement,
                  int report) {
  std::string error;
  const bool created = data::ExecuteStatement(run.output(), TargetSession(run), statement, report, &error);
  Record(run, kind, name, statement, created ? ObjectOutcome::kCreated : ObjectOutcome::kFailed, error);
  return created;
}

// A listed table the table flows take: every table (a name with blanks too: every name is
// quoted), not a view.
bool IsMigratedTable(const ListedObject& object) { return object.type != "VIEW"; }

}  // namespace

bool CoreTaskFlows::MigrateAllTables(TaskRunContext& run) {
  data::OutputPane* out = run.output();
  const std::string folder = WorkDirectory();
  data::WriteOutput(out, "Convert Tables of database [%s]", run.source_database.c_str());
  std::vector<ListedObject> tables;
  const data::Hresult listed = ListObjects(SourceSession(run), "TABLE", &tables);
  if (data::Failed(listed)) {
    data::WriteOutputText(out, data::FormatHresult("Open tables Error:", listed));
    return true;
  }
  for (const ListedObject& table : tables) {
    if (!IsMigratedTable(table)) continue;
    MigrateTable(run, folder, SourceTable(table.schema, table.name));
    if (run.StopRequested()) {
      data::WriteOutput(out, "Tables Converting Terminaled!");
      break;
    }
  }
  // Also after a stop: the tables made so far get their relationships.
  MigrateRelationshipsIn(run, folder);
  return true;
}

bool CoreTaskFlows::MigrateOneTable(TaskRunContext& run) {
  MigrateTable(run, WorkDirectory(), SourceObject(run.source_object, data::TreeNodeKind::kTable));
  return true;
}

bool CoreTaskFlows::MigrateRelationships(TaskRunContext& run) {
  MigrateRelationshipsIn(run, WorkDirectory());
  return true;
}

void CoreTaskFlows::MigrateTable(TaskRunContext& run, const std::string& folder, const SourceTable& table) {
  data::OutputPane* out = run.output();
  const std::string& database = run.source_database;
  const std::string scratch = PathInFolder(folder, table.name);
  MigrationReport& report = run.owner->report();
  report.BeginTable(table.name);
  if (!WriteNewFile(scratch, "")) {
    data::WriteOutput(out, "%s", kCharacterSetLine);
    report.FailTable(table.name, "the work file " + scratch + " cannot be written");
    return;
  }
  data::WriteOutput(out, "TABLE: [%s].[%s] Migrating.....", database.c_str(), table.name.c_str());
  const source_common::SourceContext context = MakeSourceContext(run, folder);
  const std::string definition = Source(run).TranslateTableDefinition(context, SourceSession(run), database, table);
  AppendToFile(scratch, definition);
  std::string error;
  if (!data::ExecuteStatement(out, TargetSession(run), definition, 1, &error)) {
    data::WriteOutput(out, "E::TABLE: Create [%s].[%s] ERROR !", database.c_str(), table.name.c_str());
    report.FailTable(table.name, error);
    return;
  }
  report.TableCreated(table.name);
  data::WriteOutput(out, "Create table [%s] SUCCESSFULLY!!!", table.name.c_str());

  data::WriteOutput(out, "Primary Keys Migrating.....");
  const std::string key = Source(run).TranslatePrimaryKey(context, SourceSession(run), database, table);
  if (Unsupported(key)) {
    data::WriteOutput(out, "T::%s", key.c_str());
    Record(run, "primary key", table.name, "", ObjectOutcome::kUnsupported, key);
  } else if (key.empty()) {
    data::WriteOutput(out, "NO PRIMARY KEY(S)!");
  } else {
    AppendToFile(scratch, key);
    // A failed key does not stop the table: its indexes and rows still come.
    const bool created = CreateObject(run, "primary key", table.name, key, 1);
    data::WriteOutput(out, "%s", created ? "Create PRIMARY KEY SUCCESSFULLY!!!" : "E::Create PK failure!");
  }

  data::WriteOutput(out, "Unique Keys Migrating.....");
  const std::string indexes = Source(run).TranslateUniqueIndexes(context, SourceSession(run), database, table);
  if (Unsupported(indexes)) {
    data::WriteOutput(out, "T::%s", indexes.c_str());
    Record(run, "index", table.name, "", ObjectOutcome::kUnsupported, indexes);
  } else if (indexes.empty()) {
    data::WriteOutput(out, "NO Index(es)!");
  } else {
    AppendToFile(scratch, indexes);
    for (const std::string& piece : StatementPieces(indexes)) {
      const bool created = CreateObject(run, "index", table.name, piece, 0);
      data::WriteOutput(out, "%s", created ? "Create Index SUCCESSFULLY!!!" : "Create Index failure!");
    }
  }

  // "true" when the copy ran, "" for a source without rows to read, else why it failed.
  const std::string copied = Source(run).TransferTableRows(context, SourceSession(run), TargetSession(run), database, table);
  if (copied != "true" && !copied.empty()) report.FailTable(table.name, copied);
}

void CoreTaskFlows::MigrateRelationshipsIn(TaskRunContext& run, const std::string& folder) {
  data::OutputPane* out = run.output();
  const std::string& database = run.source_database;
  data::WriteOutput(out, "Convert Relationships of database [%s]", database.c_str());
  std::vector<ListedObject> tables;
  const data::Hresult listed = ListObjects(SourceSession(run), "TABLE", &tables);
  if (data::Failed(listed)) {
    data::WriteOutputText(out, data::FormatHresult("Open tables Error:", listed));
    return;
  }
  const source_common::SourceContext context = MakeSourceContext(run, folder);
  // Every listed table, also those whose creation failed, and not ended by a stop: the
  // relationships of the tables made so far belong with them.
  for (const ListedObject& listed_table : tables) {
    if (!IsMigratedTable(listed_table)) continue;
    const SourceTable table(listed_table.schema, listed_table.name);
    const std::string scratch = PathInFolder(folder, table.name);
    if (!AppendToFile(scratch, "")) {
      data::WriteOutput(out, "%s", kCharacterSetLine);
      continue;
    }
    const std::string keys = Source(run).TranslateForeignKeys(context, SourceSession(run), database, table);
    AppendToFile(scratch, keys);
    if (Unsupported(keys)) {
      data::WriteOutput(out, "T::%s", keys.c_str());
      Record(run, "relationship", table.name, "", ObjectOutcome::kUnsupported, keys);
    } else if (keys.empty()) {
      data::WriteOutput(out, "No Relationship(s)!");
    } else {
      for (const std::string& piece : StatementPieces(keys)) {
        const bool created = CreateObject(run, "relationship", table.name, piece, 1);
        data::WriteOutput(out, "%s", created ? "Create FOREIGN KEY SUCCESSFULLY!!!" : "E::Create Relationship failure!");
      }
    }
  }
}

bool CoreTaskFlows::MigrateAllViews(TaskRunContext& run) {
  data::OutputPane* out = run.output();
  const std::string folder = WorkDirectory();
  data::WriteOutput(out, "Convert Views of database [%s]", run.source_database.c_str());
  std::vector<ListedObject> views;
  const data::Hresult listed = ListObjects(SourceSession(run), "VIEW", &views);
  if (data::Failed(listed)) {
    data::WriteOutputText(out, data::FormatHresult("Open views Error:", listed));
    return true;
  }
  for (const ListedObject& view : views) {
    // Names with blanks are taken here: a view's name is only ever quoted.
    if (IsUserView(view)) MigrateView(run, folder, SourceTable(view.schema, view.name));
    if (run.StopRequested()) {
      data::WriteOutput(out, "Views Converting Terminaled!");
      break;
    }
  }
  return true;
}

bool CoreTaskFlows::MigrateOneView(TaskRunContext& run) {
  return MigrateView(run, WorkDirectory(), SourceObject(run.source_object, data::TreeNodeKind::kView));
}

bool CoreTaskFlows::MigrateView(TaskRunContext& run, const std::string& folder, const SourceTable& view) {
  data::OutputPane* out = run.output();
  const std::string scratch = PathInFolder(folder, view.name + ".vw");
  if (!WriteNewFile(scratch, "")) {
    data::WriteOutput(out, "%s", kCharacterSetLine);
    Record(run, "view", view.name, "", ObjectOutcome::kFailed, "the work file " + scratch + " cannot be written");
    return false;
  }
  data::WriteOutput(out, "VIEW: [%s].[%s] Converting..... ", run.source_database.c_str(), view.name.c_str());
  const std::string text = Source(run).TranslateViewDefinition(MakeSourceContext(run, folder), SourceSession(run),
                                                                     run.source_database, view);
  if (Unsupported(text)) {
    data::WriteOutput(out, "T::%s", text.c_str());
    Record(run, "view", view.name, "", ObjectOutcome::kUnsupported, text);
    return true;
  }
  if (text.empty()) {
    data::WriteOutput(out, "No View(s)!");
    Record(run, "view", view.name, "", ObjectOutcome::kFailed, "the source gives no definition");
    return true;
  }
  AppendToFile(scratch, text);
  const bool created = CreateObject(run, "view", view.name, text, 0);
  data::WriteOutput(out, created ? "Create VIEW [%s] SUCCESSFULLY!!!" : "Create VIEW [%s] failure!!!", view.name.c_str());
  return created;
}

}  // namespace tabulon::converters
