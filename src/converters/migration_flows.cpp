// The migration flows: every table with its primary key, indexes, descriptions and rows, then the
// relationships of all tables, then the views. Every failure is a line; the flow goes on with
// the next statement or object.
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "converters/core_task_flows.h"
#include "converters/flow_support.h"
#include "converters/work_folders.h"
#include "converters/workbench.h"
#include "data/error_text.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "source_common/view_order.h"
#include "workspace/statement_output.h"

namespace tabulon::converters {
namespace {

using source_common::SourceTable;
using source_common::Translation;
using source_common::TranslationNote;

data::Session* SourceSession(const TaskRunContext& run) { return run.source->session.get(); }
// Read for every statement: a reconnection during the run is seen by the next one.
data::Session* TargetSession(const TaskRunContext& run) { return run.target->session.get(); }

// The source session, checked once per object: its absence is one line and a failure.
data::Session* CheckedSource(TaskRunContext& run) {
  data::Session* source = SourceSession(run);
  if (source == nullptr) workspace::WriteOutput(run.output(), "No Connection!");
  return source;
}

void Record(TaskRunContext& run, const char* kind, const std::string& name, const std::string& statement,
            ObjectOutcome outcome, std::string reason = {}) {
  run.owner->report().AddObject(ReportedObject{kind, name, statement, outcome, std::move(reason)});
}

// Runs one statement that creates `kind` and records the outcome with the target's reason.
bool CreateObject(TaskRunContext& run, const char* kind, const std::string& name, const std::string& statement,
                  int report) {
  std::string error;
  const bool created = workspace::ExecuteStatement(run.output(), TargetSession(run), statement, report, &error);
  Record(run, kind, name, statement, created ? ObjectOutcome::kCreated : ObjectOutcome::kFailed, error);
  return created;
}

// What a key, index or relationship translation gives when it is not statements to run: a
// failed read (the provider's words, then `failure_line`), an object the target cannot hold,
// or nothing (`nothing_line`); each a line and, but for nothing, a report entry. True when the
// translation was handled here.
bool ReportedWithoutStatements(TaskRunContext& run, const char* kind, const std::string& table,
                               const Result<Translation>& translation, const char* failure_line,
                               const char* nothing_line) {
  workspace::OutputPane* out = run.output();
  if (!translation.ok()) {
    workspace::WriteOutput(out, "T::%s", translation.status().message().c_str());
    Record(run, kind, table, "", ObjectOutcome::kFailed, translation.status().message());
    workspace::WriteOutput(out, "%s", failure_line);
    return true;
  }
  if (translation->unsupported()) {
    workspace::WriteOutput(out, "T::%s", translation->text.c_str());
    Record(run, kind, table, "", ObjectOutcome::kUnsupported, translation->text);
    return true;
  }
  if (translation->nothing()) {
    workspace::WriteOutput(out, "%s", nothing_line);
    return true;
  }
  return false;
}

// The objects a translation leaves out: a line and a report entry each.
void WriteLeftOut(TaskRunContext& run, const char* kind, const std::string& table,
                  const Result<Translation>& translation) {
  if (!translation.ok()) return;
  for (const TranslationNote& note : translation->notes) {
    if (note.statement != TranslationNote::kLeftOut) continue;
    workspace::WriteOutput(run.output(), "T::%s", note.text.c_str());
    Record(run, kind, table, "", ObjectOutcome::kUnsupported, note.text);
  }
}

// Runs the statements of a translation that each create one object of `kind`, with `made_line`
// (none when null) or `failed_line` after each, and a report entry with the difference its note
// tells. A relationship the built-in engine refuses to enforce (rows without a parent, no unique
// index on the referenced side) is created NOT ENFORCED instead, with the engine's reason.
void CreateTranslatedObjects(TaskRunContext& run, const char* kind, const std::string& table,
                             const Translation& translation, int report, const char* made_line,
                             const char* failed_line) {
  workspace::OutputPane* out = run.output();
  const bool relationship = std::string_view(kind) == "relationship";
  const bool may_relax = relationship && run.target != nullptr &&
                         EqualsIgnoreAsciiCase(run.target->profile.provider_name, data::kJetProviderName);
  const std::vector<std::string> pieces = StatementPieces(translation.text);
  for (size_t k = 0; k < pieces.size(); ++k) {
    const TranslationNote* note = nullptr;
    for (const TranslationNote& n : translation.notes) {
      if (n.statement == k) note = &n;
    }
    std::string statement = pieces[k];
    std::string error;
    bool created = false;
    ObjectOutcome outcome = ObjectOutcome::kCreated;
    std::string reason;
    const bool relaxable = may_relax && statement.find(" NOT ENFORCED") == std::string::npos;
    if (relaxable) {
      created = workspace::ExecuteStatement(out, TargetSession(run), statement, 0, &error);
      if (!created) {
        while (!statement.empty() && std::isspace(static_cast<unsigned char>(statement.back()))) statement.pop_back();
        statement += " NOT ENFORCED\n";
        std::string second;
        if (workspace::ExecuteStatement(out, TargetSession(run), statement, 0, &second)) {
          created = true;
          outcome = ObjectOutcome::kNotEnforced;
          reason = "not enforced: " + error;
          workspace::WriteOutput(out, "T::Created without enforcement: %s", error.c_str());
        } else {
          statement = pieces[k];
          workspace::WriteOutput(out, "T::%s", error.c_str());
        }
      }
      if (created && report == 1) workspace::WriteOutput(out, "RESULT: The operation completed SUCCESSFULLY");
    } else {
      created = workspace::ExecuteStatement(out, TargetSession(run), statement, report, &error);
    }
    if (!created) {
      outcome = ObjectOutcome::kFailed;
      reason = error;
    } else if (note != nullptr) {
      workspace::WriteOutput(out, "T::%s", note->text.c_str());
      if (note->not_enforced) outcome = ObjectOutcome::kNotEnforced;
      reason = note->text;
    }
    Record(run, kind, table, statement, outcome, reason);
    if (created && made_line != nullptr) workspace::WriteOutput(out, "%s", made_line);
    if (!created) workspace::WriteOutput(out, "%s", failed_line);
  }
}

// `views` ordered so that each comes after the views it reads; views that read each other are
// named in one line (and a report entry each) and come in catalogue order. A view whose
// text cannot be read keeps its place among the others.
std::vector<SourceTable> ViewsInCreationOrder(TaskRunContext& run, const source_common::SourceAdapter& adapter,
                                              const source_common::SourceContext& context,
                                              const std::vector<SourceTable>& views) {
  data::Session* source = SourceSession(run);
  if (source == nullptr || views.size() < 2) return views;
  std::vector<std::vector<size_t>> reads(views.size());
  for (size_t k = 0; k < views.size(); ++k) {
    Result<std::vector<size_t>> read = adapter.ViewsRead(context, source, run.source_database, views, k);
    if (read.ok()) reads[k] = std::move(*read);
  }
  const source_common::ViewOrder order = source_common::OrderViews(reads);
  for (const std::vector<size_t>& cycle : order.cycles) {
    std::string names;
    for (size_t k : cycle) names += (names.empty() ? "[" : ", [") + views[k].name + "]";
    const std::string line = "Views " + names + " refer to each other; created in catalogue order";
    workspace::WriteOutput(run.output(), "T::%s", line.c_str());
    for (size_t k : cycle) Record(run, "view", views[k].name, "", ObjectOutcome::kUnsupported, line);
  }
  std::vector<SourceTable> ordered;
  for (size_t k : order.order) ordered.push_back(views[k]);
  return ordered;
}

// A listed table the table flows take: every table (a name with blanks too: every name is
// quoted), not a view.
bool IsMigratedTable(const ListedObject& object) { return object.type != "VIEW"; }

}  // namespace

bool CoreTaskFlows::MigrateAllTables(TaskRunContext& run) {
  workspace::OutputPane* out = run.output();
  const std::string folder = WorkDirectory();
  workspace::WriteOutput(out, "Convert Tables of database [%s]", run.source_database.c_str());
  std::vector<ListedObject> tables;
  const data::Hresult listed = ListObjects(SourceSession(run), "TABLE", &tables);
  if (data::Failed(listed)) {
    workspace::WriteOutputText(out, data::FormatHresult("Open tables Error:", listed));
    return true;
  }
  for (const ListedObject& table : tables) {
    if (!IsMigratedTable(table)) continue;
    MigrateTable(run, folder, SourceTable(table.schema, table.name));
    if (run.StopRequested()) {
      workspace::WriteOutput(out, "Tables Converting Terminaled!");
      break;
    }
  }
  // Also after a stop: the tables made so far get their relationships.
  MigrateRelationshipsIn(run, folder);
  return true;
}

bool CoreTaskFlows::MigrateOneTable(TaskRunContext& run) {
  MigrateTable(run, WorkDirectory(), SourceObject(run.source_object, workspace::TreeNodeKind::kTable));
  return true;
}

bool CoreTaskFlows::MigrateRelationships(TaskRunContext& run) {
  MigrateRelationshipsIn(run, WorkDirectory());
  return true;
}

void CoreTaskFlows::MigrateTable(TaskRunContext& run, const std::string& folder, const SourceTable& table) {
  workspace::OutputPane* out = run.output();
  const std::string& database = run.source_database;
  const std::string scratch = PathInFolder(folder, table.name);
  MigrationReport& report = run.owner->report();
  report.BeginTable(table.name);
  if (!WriteNewFile(scratch, "")) {
    workspace::WriteOutput(out, "%s", kCharacterSetLine);
    report.FailTable(table.name, "the work file " + scratch + " cannot be written");
    return;
  }
  workspace::WriteOutput(out, "TABLE: [%s].[%s] Migrating.....", database.c_str(), table.name.c_str());
  data::Session* source = CheckedSource(run);
  if (source == nullptr) {
    report.FailTable(table.name, "No Connection!");
    return;
  }
  const source_common::SourceContext context = MakeSourceContext(run, folder);
  const Result<Translation> definition = Source(run).TranslateTableDefinition(context, source, database, table);
  if (!definition.ok() || !definition->statements()) {
    // The source could not be read (its words), or it gave no columns.
    const std::string why = definition.ok() ? "the source gives no columns" : definition.status().message();
    workspace::WriteOutput(out, "T::%s", why.c_str());
    workspace::WriteOutput(out, "E::TABLE: Create [%s].[%s] ERROR !", database.c_str(), table.name.c_str());
    report.FailTable(table.name, why);
    return;
  }
  AppendToFile(scratch, definition->text);
  std::string error;
  if (!workspace::ExecuteStatement(out, TargetSession(run), definition->text, 1, &error)) {
    workspace::WriteOutput(out, "E::TABLE: Create [%s].[%s] ERROR !", database.c_str(), table.name.c_str());
    report.FailTable(table.name, error);
    return;
  }
  report.TableCreated(table.name);
  workspace::WriteOutput(out, "Create table [%s] SUCCESSFULLY!!!", table.name.c_str());

  workspace::WriteOutput(out, "Primary Keys Migrating.....");
  const Result<Translation> key = Source(run).TranslatePrimaryKey(context, source, database, table);
  if (!ReportedWithoutStatements(run, "primary key", table.name, key, "E::Create PK failure!", "NO PRIMARY KEY(S)!")) {
    AppendToFile(scratch, key->text);
    // A failed key does not stop the table: its indexes and rows still come.
    const bool created = CreateObject(run, "primary key", table.name, key->text, 1);
    workspace::WriteOutput(out, "%s", created ? "Create PRIMARY KEY SUCCESSFULLY!!!" : "E::Create PK failure!");
  }

  workspace::WriteOutput(out, "Unique Keys Migrating.....");
  const Result<Translation> indexes = Source(run).TranslateUniqueIndexes(context, source, database, table);
  WriteLeftOut(run, "index", table.name, indexes);
  if (!ReportedWithoutStatements(run, "index", table.name, indexes, "Create Index failure!", "NO Index(es)!")) {
    AppendToFile(scratch, indexes->text);
    CreateTranslatedObjects(run, "index", table.name, *indexes, 0, "Create Index SUCCESSFULLY!!!",
                            "Create Index failure!");
  }

  const Result<Translation> descriptions = Source(run).TranslateDescriptions(context, source, database, table);
  if (!descriptions.ok()) {
    workspace::WriteOutput(out, "T::%s", descriptions.status().message().c_str());
    Record(run, "description", table.name, "", ObjectOutcome::kFailed, descriptions.status().message());
  } else if (descriptions->statements()) {
    AppendToFile(scratch, descriptions->text);
    CreateTranslatedObjects(run, "description", table.name, *descriptions, 0, nullptr, "Create Description failure!");
  }

  if (owner_.planning) {
    // A plan counts the rows and what their values take instead of copying them.
    const Result<source_common::SourceVolume> volume = Source(run).MeasureRows(context, source, database, table);
    if (volume.ok()) {
      report.SetVolume(table.name, *volume);
    } else {
      report.FailTable(table.name, volume.status().message());
    }
  } else {
    // The copy writes its own lines; what failed goes into the report.
    const Result<source_common::RowCopyCounts> copied =
        Source(run).TransferTableRows(context, source, TargetSession(run), database, table);
    if (!copied.ok()) report.FailTable(table.name, copied.status().message());
  }

  // Validation rules come after the rows: the rows are the source's, already checked there.
  const Result<Translation> checks = Source(run).TranslateCheckConstraints(context, source, database, table);
  if (!checks.ok()) {
    workspace::WriteOutput(out, "T::%s", checks.status().message().c_str());
    Record(run, "check constraint", table.name, "", ObjectOutcome::kFailed, checks.status().message());
    return;
  }
  WriteLeftOut(run, "check constraint", table.name, checks);
  if (checks->statements()) {
    AppendToFile(scratch, checks->text);
    CreateTranslatedObjects(run, "check constraint", table.name, *checks, 0, nullptr,
                            "Create Validation Rule failure!");
  }
}

void CoreTaskFlows::MigrateRelationshipsIn(TaskRunContext& run, const std::string& folder) {
  workspace::OutputPane* out = run.output();
  const std::string& database = run.source_database;
  workspace::WriteOutput(out, "Convert Relationships of database [%s]", database.c_str());
  std::vector<ListedObject> tables;
  const data::Hresult listed = ListObjects(SourceSession(run), "TABLE", &tables);
  if (data::Failed(listed)) {
    workspace::WriteOutputText(out, data::FormatHresult("Open tables Error:", listed));
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
      workspace::WriteOutput(out, "%s", kCharacterSetLine);
      continue;
    }
    data::Session* source = CheckedSource(run);
    if (source == nullptr) {
      Record(run, "relationship", table.name, "", ObjectOutcome::kFailed, "No Connection!");
      continue;
    }
    const Result<Translation> keys = Source(run).TranslateForeignKeys(context, source, database, table);
    WriteLeftOut(run, "relationship", table.name, keys);
    if (!ReportedWithoutStatements(run, "relationship", table.name, keys, "E::Create Relationship failure!",
                                   "No Relationship(s)!")) {
      AppendToFile(scratch, keys->text);
      CreateTranslatedObjects(run, "relationship", table.name, *keys, 1, "Create FOREIGN KEY SUCCESSFULLY!!!",
                              "E::Create Relationship failure!");
    }
  }
}

bool CoreTaskFlows::MigrateAllViews(TaskRunContext& run) {
  workspace::OutputPane* out = run.output();
  const std::string folder = WorkDirectory();
  workspace::WriteOutput(out, "Convert Views of database [%s]", run.source_database.c_str());
  std::vector<ListedObject> views;
  const data::Hresult listed = ListObjects(SourceSession(run), "VIEW", &views);
  if (data::Failed(listed)) {
    workspace::WriteOutputText(out, data::FormatHresult("Open views Error:", listed));
    return true;
  }
  // Names with blanks are taken here: a view's name is only ever quoted.
  std::vector<SourceTable> user_views;
  for (const ListedObject& view : views) {
    if (IsUserView(view)) user_views.emplace_back(view.schema, view.name);
  }
  for (const SourceTable& view : ViewsInCreationOrder(run, Source(run), MakeSourceContext(run, folder), user_views)) {
    MigrateView(run, folder, view);
    if (run.StopRequested()) {
      workspace::WriteOutput(out, "Views Converting Terminaled!");
      break;
    }
  }
  return true;
}

bool CoreTaskFlows::MigrateOneView(TaskRunContext& run) {
  return MigrateView(run, WorkDirectory(), SourceObject(run.source_object, workspace::TreeNodeKind::kView));
}

bool CoreTaskFlows::MigrateView(TaskRunContext& run, const std::string& folder, const SourceTable& view) {
  workspace::OutputPane* out = run.output();
  const std::string scratch = PathInFolder(folder, view.name + ".vw");
  if (!WriteNewFile(scratch, "")) {
    workspace::WriteOutput(out, "%s", kCharacterSetLine);
    Record(run, "view", view.name, "", ObjectOutcome::kFailed, "the work file " + scratch + " cannot be written");
    return false;
  }
  workspace::WriteOutput(out, "VIEW: [%s].[%s] Converting..... ", run.source_database.c_str(), view.name.c_str());
  data::Session* source = CheckedSource(run);
  if (source == nullptr) {
    Record(run, "view", view.name, "", ObjectOutcome::kFailed, "No Connection!");
    return false;
  }
  const Result<Translation> text =
      Source(run).TranslateViewDefinition(MakeSourceContext(run, folder), source, run.source_database, view);
  if (!text.ok()) {
    workspace::WriteOutput(out, "T::%s", text.status().message().c_str());
    workspace::WriteOutput(out, "Create VIEW [%s] failure!!!", view.name.c_str());
    Record(run, "view", view.name, "", ObjectOutcome::kFailed, text.status().message());
    return false;
  }
  if (text->unsupported()) {
    workspace::WriteOutput(out, "T::%s", text->text.c_str());
    Record(run, "view", view.name, "", ObjectOutcome::kUnsupported, text->text);
    return true;
  }
  if (text->nothing()) {
    workspace::WriteOutput(out, "No View(s)!");
    Record(run, "view", view.name, "", ObjectOutcome::kFailed, "the source gives no definition");
    return true;
  }
  AppendToFile(scratch, text->text);
  std::string reason;
  for (const TranslationNote& note : text->notes) {
    workspace::WriteOutput(out, "T::%s", note.text.c_str());
    reason += (reason.empty() ? "" : "; ") + note.text;
  }
  std::string error;
  const bool created = workspace::ExecuteStatement(out, TargetSession(run), text->text, 0, &error);
  if (!created) reason += (reason.empty() ? "" : "; ") + error;
  Record(run, "view", view.name, text->text, created ? ObjectOutcome::kCreated : ObjectOutcome::kFailed, reason);
  workspace::WriteOutput(out, created ? "Create VIEW [%s] SUCCESSFULLY!!!" : "Create VIEW [%s] failure!!!",
                         view.name.c_str());
  return created;
}

}  // namespace tabulon::converters
