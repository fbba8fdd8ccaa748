#include "converters/core_task_flows.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>

#include "base/text.h"
#include "config/condition_file.h"
#include "converters/flow_support.h"
#include "converters/workbench.h"
#include "data/regex_helper.h"
#include "data/schema_rowset.h"
#include "data/statement.h"
#include "data/providers/sqlite/sqlite_provider.h"
#include "source_common/access_names.h"
#include "source_sqlite/source_adapter.h"
#include "source_sqlserver/source_adapter.h"
#include "target_access/access_files.h"

namespace tabulon::converters {

// --- shared pieces -----------------------------------------------------------------------------

data::Hresult ListObjects(data::Session* session, const char* type, std::vector<ListedObject>* objects) {
  data::TextRowset rows;
  const data::Hresult opened = data::OpenSchemaRowset(session, data::SchemaRowsetKind::kTables,
                                                      {std::nullopt, std::nullopt, std::nullopt, type}, &rows);
  if (data::Failed(opened)) return opened;
  const auto cell = [&rows](size_t ordinal) {
    const data::RowBuffer& buffer = rows.buffer();
    return ordinal > buffer.columns() || buffer.IsNull(ordinal) ? std::string() : std::string(buffer.Value(ordinal));
  };
  data::Hresult fetched;
  while ((fetched = data::MoveNextRow(rows)) == data::S_OK) {
    objects->push_back(
        {cell(data::schema::kTableSchema), cell(data::schema::kTableName), cell(data::schema::kTableType)});
  }
  // A list cut short by a failing fetch is no list: the caller reports the failure.
  return data::Failed(fetched) ? fetched : opened;
}

bool IsUserView(const ListedObject& object) {
  return object.type == "VIEW" && object.schema != "sys" && object.schema != "INFORMATION_SCHEMA";
}

std::vector<std::string> StatementPieces(std::string_view text) {
  std::vector<std::string> pieces;
  // A ";" inside a quoted text or name ('a;b', `a;b`, [a;b]) does not end a statement.
  size_t start = 0;
  char closing = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : ';';
    if (closing != 0) {
      if (c == closing && i < text.size()) closing = 0;  // a doubled quote closes and reopens
      continue;
    }
    if (c == '\'' || c == '"' || c == '`') closing = c;
    if (c == '[') closing = ']';
    if (c != ';') continue;
    const std::string_view piece = text.substr(start, i - start);
    if (piece.find_first_not_of(" \t\r\n") != std::string_view::npos) pieces.emplace_back(piece);
    start = i + 1;
  }
  if (closing != 0 && start < text.size()) {
    // An unclosed quote: the rest is one statement, as written.
    const std::string_view piece = text.substr(start);
    if (piece.find_first_not_of(" \t\r\n") != std::string_view::npos) pieces.emplace_back(piece);
  }
  return pieces;
}

namespace {

bool WriteFile(const std::string& path, std::string_view text, const char* mode) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), mode), &std::fclose);
  if (file == nullptr) return false;
  return std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
}

}  // namespace

bool WriteNewFile(const std::string& path, std::string_view text) { return WriteFile(path, text, "w"); }

bool AppendToFile(const std::string& path, std::string_view text) { return WriteFile(path, text, "a"); }

std::string DatabaseFolderName(const std::string& database) {
  std::string name = data::RegexReplace(database, "[a-zA-Z]:[\\\\|/]", "");
  const size_t cut = name.find_last_of("/\\");
  if (cut != std::string::npos) name.erase(0, cut + 1);
  return name;
}

std::string ViewScriptLine(const std::string& script, bool* is_definition) {
  // Found without regard to case; the text keeps its own case (names and string literals of
  // the view are part of it).
  const size_t create = AsciiLower(script).find("create view");
  *is_definition = create != std::string::npos;
  std::string_view text(script);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
  if (*is_definition) {
    text.remove_prefix(create + 7);  // from "view"
    return "create " + std::string(text) + "\n";
  }
  // Not a definition (a failure text): kept for the reader, as comments that no replay runs.
  std::string lines;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines += "-- " + std::string(line) + "\n";
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines.empty() ? "-- \n" : lines;
}

// --- the side operations -----------------------------------------------------------------------

const source_common::SourceAdapter& SourceAdapterFor(std::string_view provider_name) {
  if (EqualsIgnoreAsciiCase(provider_name, data::kSqliteProviderName)) return source_sqlite::SqliteSourceAdapter();
  return source_sqlserver::SqlServerSourceAdapter();
}

const source_common::SourceAdapter& CoreTaskFlows::Source(const TaskRunContext& run) {
  return SourceAdapterFor(run.source != nullptr ? run.source->profile.provider_name : std::string());
}

std::unique_ptr<TaskFlows> MakeCoreTaskFlows(Workbench& owner) { return std::make_unique<CoreTaskFlows>(owner); }

bool CoreTaskFlows::CreateTargetDatabase(TaskRunContext& /*run*/, const std::string& name) {
  return target_access::CreateAccessDatabase(owner_.target_context(), name, 1);
}

void CoreTaskFlows::ReconnectTarget(TaskRunContext& /*run*/, const std::string& database) {
  // The switch and the connection take the tree lock for their tree changes only, never while
  // they ask the user something.
  target_access::SwitchAccessDatabase(owner_.target_context(), database, target_access::Side::kTarget);
}

bool CoreTaskFlows::SelectSourceDatabase(TaskRunContext& run, const std::string& database) {
  bool selected = false;
  {
    std::lock_guard guard(owner_.tree_lock());
    selected = Source(run).SelectDatabase(owner_.source_tree(), owner_.target_tree(), database);
  }
  owner_.ShowTreeMessages();
  return selected;
}

bool CoreTaskFlows::UseSourceDatabase(TaskRunContext& run, const std::string& database) {
  return Source(run).UseDatabase(run.output(), run.source->session.get(), database);
}

void CoreTaskFlows::RefreshTargetTree(TaskRunContext& /*run*/) { owner_.RefreshTree(owner_.target_tree()); }

// --- what the flows share ----------------------------------------------------------------------

std::string CoreTaskFlows::WorkDirectory() {
  // Commands move it on the user-interface thread under the same lock.
  std::lock_guard guard(owner_.tree_lock());
  return owner_.work_directory;
}

source_common::SourceContext CoreTaskFlows::MakeSourceContext(TaskRunContext& run, const std::string& folder) {
  source_common::SourceContext context;
  context.output = &owner_.output();
  context.source = run.source;
  context.target = run.target;
  context.auto_backup = owner_.auto_backup;
  context.insert_statements = owner_.insert_statements;
  context.work_folder = folder;
  context.stop_requested = [&run] { return run.StopRequested(); };
  context.condition = [this, path = owner_.condition_file_path](std::string_view database, std::string_view table) {
    if (std::optional<std::string> given = owner_.ConditionOverride(table)) return *given;
    return config::ReadCondition(path, database, table);
  };
  context.row_progress = [this](std::string_view table, const source_common::RowCopyCounts& counts) {
    owner_.report().SetRows(table, counts);
  };
  {
    std::lock_guard guard(owner_.tree_lock());
    context.type_map = owner_.type_map;
  }
  context.column_noted = [this](const source_common::ColumnNote& note) { owner_.report().AddColumnNote(note); };
  context.column_mapped = [this](const source_common::ColumnMapping& mapping) {
    owner_.report().AddColumnMapping(mapping);
  };
  context.renamed = [this](const source_common::Rename& rename) { owner_.report().AddRename(rename); };
  if (!run.names) {
    // Every table and view of the source database, so that names Access would take as one stay
    // apart; a list that cannot be read leaves each name on its own.
    std::vector<source_common::SourceTable> objects;
    for (const char* type : {"TABLE", "VIEW"}) {
      std::vector<ListedObject> listed;
      if (run.source != nullptr && data::Succeeded(ListObjects(run.source->session.get(), type, &listed))) {
        for (const ListedObject& o : listed) objects.emplace_back(o.schema, o.name);
      }
    }
    run.names = std::make_shared<source_common::AccessNames>(objects);
  }
  context.names = run.names;
  context.object_lost = [this](std::string_view table, std::string_view notice) {
    ReportedObject lost;
    lost.kind = "index";
    lost.name = std::string(table);
    lost.outcome = ObjectOutcome::kFailed;
    lost.reason = std::string(notice);
    owner_.report().AddObject(std::move(lost));
  };
  return context;
}

source_common::SourceTable CoreTaskFlows::SourceObject(const std::string& name, workspace::TreeNodeKind kind) {
  std::lock_guard guard(owner_.tree_lock());
  const workspace::DbTree& tree = owner_.source_tree().tree;
  for (size_t id = 0; id < tree.size(); ++id) {
    if (!tree.Contains(static_cast<int>(id))) continue;
    const workspace::TreeNode& node = tree.node(static_cast<int>(id));
    if (node.kind == kind && node.text == name) return source_common::SourceTable(node.schema, name);
  }
  return source_common::SourceTable(name);
}

}  // namespace tabulon::converters
