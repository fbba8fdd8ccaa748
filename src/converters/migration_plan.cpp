#include "converters/migration_plan.h"

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <utility>

#include "base/text.h"
#include "config/condition_file.h"
#include "converters/connect.h"
#include "converters/workbench.h"
#include "data/providers/jet/jet_provider.h"
#include "jet/database.h"
#include "jet/size_estimate.h"

namespace tabulon::converters {
namespace {

namespace fs = std::filesystem;

// The plan's own Workbench asks nobody anything: a question during a plan is answered No.
class SilentPrompt : public workspace::UserPrompt {
 public:
  void ShowMessage(std::string_view, std::string_view) override {}
  bool AskOkCancel(std::string_view) override { return false; }
  bool AskYesNo(std::string_view) override { return false; }
  std::optional<std::string> AskText(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> ChooseFile(const workspace::FileChoice&) override { return std::nullopt; }
  std::optional<std::string> ChooseFolder(std::string_view, std::string_view) override { return std::nullopt; }
};

// A temporary folder, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code error;
    std::string pattern = (fs::temp_directory_path(error) / "tabulon-plan-XXXXXX").string();
    if (error) pattern = "/tmp/tabulon-plan-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code error;
    if (!path_.empty()) fs::remove_all(path_, error);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Lends the owner's source connection to the plan's Workbench and takes it back, each under the
// owner's tree lock (its tree reads the connection).
class BorrowedSource {
 public:
  BorrowedSource(Workbench& owner, data::DbConnection& borrower) : owner_(owner), borrower_(borrower) {
    std::lock_guard guard(owner_.tree_lock());
    borrower_.profile = owner_.source().profile;
    Swap();
  }
  ~BorrowedSource() {
    std::lock_guard guard(owner_.tree_lock());
    Swap();
  }
  BorrowedSource(const BorrowedSource&) = delete;
  BorrowedSource& operator=(const BorrowedSource&) = delete;

 private:
  void Swap() {
    std::swap(owner_.source().data_source, borrower_.data_source);
    std::swap(owner_.source().session, borrower_.session);
  }

  Workbench& owner_;
  data::DbConnection& borrower_;
};

const char* PlannedOutcome(ObjectOutcome outcome) {
  switch (outcome) {
    case ObjectOutcome::kCreated: return "created";
    case ObjectOutcome::kUnsupported: return "left out";
    case ObjectOutcome::kNotEnforced: return "not enforced";
    case ObjectOutcome::kFailed: break;
  }
  return "fails";
}

// The condition a migration of `table` reads its rows under, as the flows take it.
std::string ConditionOf(Workbench& owner, const std::string& database, const std::string& table) {
  if (std::optional<std::string> given = owner.ConditionOverride(table)) return *given;
  return config::ReadCondition(owner.condition_file_path, database, table);
}

// The engine's view of a table's rows, from the source's measure: columns by their Access names.
jet::TableVolume VolumeFor(const ReportedTable& reported) {
  jet::TableVolume volume;
  volume.rows = reported.volume->rows;
  for (const source_common::SourceColumnVolume& measured : reported.volume->columns) {
    std::string access = measured.column;
    for (const source_common::ColumnMapping& m : reported.mappings) {
      if (m.column == measured.column) access = m.access_column;
    }
    jet::ColumnVolume column;
    column.column = access;
    column.values = measured.values;
    column.length = measured.length;
    volume.columns.push_back(std::move(column));
  }
  return volume;
}

PlannedTable PlanTable(Workbench& owner, const std::string& database, const ReportedTable& reported,
                       const std::vector<ReportedObject>& objects, jet::Database* scratch) {
  PlannedTable table;
  table.name = reported.name;
  table.access_name = reported.name;
  table.condition = ConditionOf(owner, database, reported.name);
  table.renames = reported.renames;
  for (const source_common::Rename& r : reported.renames) {
    if (r.kind == "table") table.access_name = r.to;
  }
  table.error = reported.error;
  if (table.error.empty() && !reported.created) table.error = "the table is not made";
  if (reported.volume) table.rows = reported.volume->rows;

  Result<jet::TableDefinition> definition = jet::TableDefinition{};
  if (scratch != nullptr && reported.created) definition = scratch->GetTable(table.access_name);
  for (const source_common::ColumnMapping& m : reported.mappings) {
    PlannedColumn column;
    column.name = m.column;
    column.access_name = m.access_column;
    column.source_type = m.source_type;
    column.access_type = m.target_type;
    for (const source_common::ColumnNote& note : reported.columns) {
      if (note.column == m.column) column.note = note.why;
    }
    if (definition.ok()) {
      const int at = jet::ColumnIndex(*definition, m.access_column);
      if (at >= 0) column.autonumber = definition->columns[static_cast<size_t>(at)].auto_number();
    }
    table.columns.push_back(std::move(column));
  }
  for (const ReportedObject& o : objects) {
    if (o.kind == "view" || o.name != reported.name) continue;
    PlannedObject object;
    object.kind = o.kind;
    object.outcome = PlannedOutcome(o.outcome);
    object.statement = o.statement;
    object.reason = o.reason;
    table.objects.push_back(std::move(object));
  }
  if (reported.volume && definition.ok() && reported.created) {
    table.estimated_bytes = jet::EstimateTableSize(*definition, VolumeFor(reported)).total();
  }
  return table;
}

// One decimal: "1.84 GB".
std::string OneDecimal(double value, const char* unit) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %s", value, unit);
  return text;
}

}  // namespace

Result<MigrationPlan> PlanMigration(Workbench& owner, const MigrationRequest& request, const std::string& target_file,
                                    const std::function<bool()>& stop_asked) {
  if (owner.controller_state() != ControllerState::kIdle) {
    return InvalidArgumentError("a plan is made while no task runs");
  }
  if (owner.source().session == nullptr) return InvalidArgumentError("the source is not connected");
  const ScratchFolder folder;
  if (folder.path().empty()) return InternalError("no temporary folder can be made for the plan");
  const std::string scratch_file = (fs::path(folder.path()) / "plan.mdb").string();
  {
    Result<std::unique_ptr<jet::Database>> made = jet::Database::Create(scratch_file);
    if (!made.ok()) return made.status();
  }

  SilentPrompt prompt;
  WorkbenchOptions options;
  options.program_folder = owner.program_folder();
  options.data_folder = folder.path();
  options.pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); };
  options.sleep = [](std::chrono::milliseconds) {};
  Workbench probe(prompt, options);
  probe.planning = true;
  probe.condition_file_path = owner.condition_file_path;
  for (const auto& [table, condition] : owner.ConditionOverrides()) probe.SetConditionOverride(table, condition);
  {
    std::lock_guard guard(owner.tree_lock());
    probe.type_map = owner.type_map;
    probe.source_dbms = owner.source_dbms;
    probe.charset_name = owner.charset_name;
    probe.work_directory = folder.path();
  }
  const BorrowedSource borrowed(owner, probe.source());
  {
    std::lock_guard guard(probe.tree_lock());
    {
      std::lock_guard owner_guard(owner.tree_lock());
      probe.source_tree().current_database = owner.source_tree().current_database;
    }
    probe.source_tree().state = 0;
    probe.source_tree().RefreshTree();
  }
  probe.target().profile.provider_name = data::kJetProviderName;
  probe.target().profile.source_name = scratch_file;
  ConnectTarget(probe);
  if (probe.target().session == nullptr) return InternalError("the plan's scratch file does not open");

  MigrationRequest planned = request;
  if (planned.operation == kCloneDatabase) planned.operation = kMigrateDatabase;
  {
    std::lock_guard guard(probe.tree_lock());
    planned.target_database = probe.target_tree().current_database;
  }
  // The caller's stop request reaches the plan's controller between tables.
  std::atomic<bool> done{false};
  std::atomic<bool> stopped{false};
  std::thread watcher([&] {
    while (!done) {
      if (stop_asked && stop_asked()) {
        stopped = true;
        if (probe.controller_state() == ControllerState::kRunning) probe.RequestControllerStop();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  const MigrationRun run = RunMigration(probe, planned, nullptr);
  done = true;
  watcher.join();
  if (stopped) return InternalError("the plan was stopped");
  if (run.tasks.empty() || run.tasks.front().state != kTaskSucceeded) {
    // The task itself failed (the source database cannot be used): its lines say why.
    std::string why;
    for (const workspace::OutputLine& line : probe.output().Lines()) {
      if (line.severity == workspace::Severity::kError) why = line.text;
    }
    return InvalidArgumentError("the migration cannot be planned" + (why.empty() ? "" : ": " + why));
  }

  MigrationPlan plan;
  Result<std::unique_ptr<jet::Database>> scratch = jet::Database::Open(scratch_file, jet::OpenMode::kReadOnly);
  const std::vector<ReportedObject> objects = probe.report().Objects();
  for (const ReportedTable& reported : probe.report().Tables()) {
    plan.tables.push_back(
        PlanTable(owner, request.source_database, reported, objects, scratch.ok() ? scratch->get() : nullptr));
  }
  for (const ReportedObject& o : objects) {
    if (o.kind != "view") continue;
    PlannedView view;
    view.name = o.name;
    view.translated = o.outcome == ObjectOutcome::kCreated;
    view.statement = o.statement;
    view.reason = o.reason;
    plan.views.push_back(std::move(view));
  }
  std::error_code error;
  const bool existing = !target_file.empty() && fs::exists(target_file, error);
  plan.base_bytes = existing ? static_cast<long long>(fs::file_size(target_file, error)) : jet::EmptyFileBytes();
  if (error) plan.base_bytes = jet::EmptyFileBytes();
  plan.estimated_bytes = plan.base_bytes;
  for (const PlannedTable& t : plan.tables) plan.estimated_bytes += t.estimated_bytes;
  // A view is a few catalogue rows: a page each is generous.
  plan.estimated_bytes += static_cast<long long>(plan.views.size()) * 4096;
  return plan;
}

std::string SizeText(long long bytes) {
  constexpr double kKb = 1024.0;
  if (bytes >= kKb * kKb * kKb) return OneDecimal(static_cast<double>(bytes) / (kKb * kKb * kKb), "GB");
  if (bytes >= kKb * kKb) return OneDecimal(static_cast<double>(bytes) / (kKb * kKb), "MB");
  if (bytes >= kKb) return OneDecimal(static_cast<double>(bytes) / kKb, "KB");
  return std::to_string(bytes) + " bytes";
}

SizeCheck CheckPlannedSize(const MigrationPlan& plan) {
  SizeCheck check;
  if (plan.estimated_bytes <= kJetFileWarning) return check;
  std::vector<const PlannedTable*> largest;
  for (const PlannedTable& t : plan.tables) largest.push_back(&t);
  std::sort(largest.begin(), largest.end(),
            [](const PlannedTable* a, const PlannedTable* b) { return a->estimated_bytes > b->estimated_bytes; });
  if (largest.size() > 3) largest.resize(3);
  std::string tables;
  for (const PlannedTable* t : largest) {
    tables += (tables.empty() ? "" : ", ") + ("[" + t->name + "] " + SizeText(t->estimated_bytes));
    if (t->rows >= 0) tables += " (" + std::to_string(t->rows) + " rows)";
  }
  if (plan.estimated_bytes > kJetFileCeiling) {
    check.verdict = SizeCheck::Verdict::kOverCeiling;
    check.text = "The estimated size of the file, " + SizeText(plan.estimated_bytes) +
                 ", passes the 2 GB an Access file can hold; nothing was written. Largest tables: " + tables + ".";
  } else {
    check.verdict = SizeCheck::Verdict::kNearCeiling;
    check.text = "The estimated size of the file, " + SizeText(plan.estimated_bytes) +
                 ", is close to the 2 GB an Access file can hold. Largest tables: " + tables + ".";
  }
  return check;
}

std::vector<std::string> PlanLines(const MigrationPlan& plan) {
  std::vector<std::string> lines;
  for (const PlannedTable& t : plan.tables) {
    std::string head = "TABLE [" + t.name + "]";
    if (t.access_name != t.name) head += " as [" + t.access_name + "]";
    head += t.rows >= 0 ? ": " + std::to_string(t.rows) + " rows" : ": rows not counted";
    if (!t.condition.empty()) head += " where " + t.condition;
    head += ", about " + SizeText(t.estimated_bytes);
    lines.push_back(head);
    if (!t.error.empty()) lines.push_back("  not migrated: " + t.error);
    for (const PlannedColumn& c : t.columns) {
      std::string line = "  column [" + c.name + "]";
      if (c.access_name != c.name) line += " as [" + c.access_name + "]";
      line += " " + c.source_type + " -> " + c.access_type;
      if (c.autonumber) line += " (AutoNumber)";
      if (!c.note.empty()) line += ": " + c.note;
      lines.push_back(line);
    }
    for (const source_common::Rename& r : t.renames) {
      if (r.kind == "table" || r.kind == "column") continue;  // shown with the table and its columns
      lines.push_back("  " + r.kind + " [" + r.from + "] renamed [" + r.to + "]");
    }
    for (const PlannedObject& o : t.objects) {
      std::string line = "  " + o.kind + ": " + o.outcome;
      if (!o.statement.empty()) {
        std::string statement = o.statement;
        while (!statement.empty() && (statement.back() == '\n' || statement.back() == ' ')) statement.pop_back();
        statement.erase(0, statement.find_first_not_of(" \n"));
        std::replace(statement.begin(), statement.end(), '\n', ' ');
        line += ": " + statement;
      }
      if (!o.reason.empty()) line += " (" + o.reason + ")";
      lines.push_back(line);
    }
  }
  for (const PlannedView& v : plan.views) {
    lines.push_back("VIEW [" + v.name + "]: " + (v.translated ? "translated" : "not translated") +
                    (v.reason.empty() ? "" : " (" + v.reason + ")"));
  }
  lines.push_back("Estimated size of the file: " + SizeText(plan.estimated_bytes) + " (" +
                  std::to_string(plan.estimated_bytes) + " bytes; the file holds at most 2 GB)");
  const SizeCheck check = CheckPlannedSize(plan);
  if (!check.text.empty()) lines.push_back(check.text);
  return lines;
}

std::string PlanJson(const MigrationPlan& plan) {
  nlohmann::ordered_json json = {{"tables", nlohmann::json::array()},
                                 {"views", nlohmann::json::array()},
                                 {"base_bytes", plan.base_bytes},
                                 {"estimated_bytes", plan.estimated_bytes}};
  for (const PlannedTable& t : plan.tables) {
    nlohmann::ordered_json columns = nlohmann::json::array();
    for (const PlannedColumn& c : t.columns) {
      columns.push_back({{"name", c.name},
                         {"access_name", c.access_name},
                         {"source_type", c.source_type},
                         {"access_type", c.access_type},
                         {"autonumber", c.autonumber},
                         {"note", c.note}});
    }
    nlohmann::ordered_json renames = nlohmann::json::array();
    for (const source_common::Rename& r : t.renames) {
      renames.push_back({{"kind", r.kind}, {"from", r.from}, {"to", r.to}});
    }
    nlohmann::ordered_json objects = nlohmann::json::array();
    for (const PlannedObject& o : t.objects) {
      objects.push_back(
          {{"kind", o.kind}, {"outcome", o.outcome}, {"statement", o.statement}, {"reason", o.reason}});
    }
    json["tables"].push_back({{"name", t.name},
                              {"access_name", t.access_name},
                              {"condition", t.condition},
                              {"rows", t.rows},
                              {"error", t.error},
                              {"estimated_bytes", t.estimated_bytes},
                              {"columns", columns},
                              {"renames", renames},
                              {"objects", objects}});
  }
  for (const PlannedView& v : plan.views) {
    json["views"].push_back(
        {{"name", v.name}, {"translated", v.translated}, {"statement", v.statement}, {"reason", v.reason}});
  }
  return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tabulon::converters
