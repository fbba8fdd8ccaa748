// A SQLite table into a new .mdb end to end: the core's Clone task reads a generated SQLite
// file (Long key, two Text, a Double, a DateTime) and writes every row into a new .mdb, which
// is closed before the clock stops. Rows per second and peak memory, through the typed rows the
// engine takes and again through INSERT statements (the way to other targets), each set beside
// the engine's own insert rate for the same rows and key, measured in the same run; then the rows verified
// against the file (tabulon-cli verify's comparison), timed apart; and the plan every migration
// makes first (rows counted and measured, the file's size estimated), timed apart and its estimate
// set beside the file's size.
//   sqlite_migration_bench [rows] [typed]   (typed: the typed migration alone, for a profiler)
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "sqlite_source.h"
#include "converters/connect.h"
#include "converters/verify.h"
#include "converters/core_task_flows.h"
#include "converters/migration_plan.h"
#include "converters/work_folders.h"
#include "converters/workbench.h"
#include "data/providers/jet/jet_provider.h"
#include "jet/database.h"
#include "jet/values.h"
#include "workspace/user_prompt.h"

using namespace tabulon;

namespace {

namespace fs = std::filesystem;

// No one answers: the Clone task asks nothing of a new file.
class SilentPrompt : public workspace::UserPrompt {
 public:
  void ShowMessage(std::string_view, std::string_view) override {}
  bool AskOkCancel(std::string_view) override { return true; }
  bool AskYesNo(std::string_view) override { return true; }
  std::optional<std::string> AskText(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> ChooseFile(const workspace::FileChoice&) override { return std::nullopt; }
  std::optional<std::string> ChooseFolder(std::string_view, std::string_view) override { return std::nullopt; }
};

// A Workbench in `folder` with the SQLite file `source` as its source, connected (the session is
// null when the file does not open).
std::unique_ptr<converters::Workbench> OpenSqliteWorkbench(const fs::path& folder, const std::string& source) {
  static SilentPrompt prompt;
  converters::WorkbenchOptions options;
  options.program_folder = folder.string();
  options.pause = [] {};
  // The controller's fixed waits around a task start (0.1 s a task, whatever its size) are
  // pacing, not throughput: left out like the pause between passes.
  options.sleep = [](std::chrono::milliseconds) {};
  auto wb = std::make_unique<converters::Workbench>(prompt, std::move(options));
  wb->source().profile.provider_name = "SQLite";
  wb->source().profile.source_name = source;
  converters::ConnectSource(*wb);
  return wb;
}

struct Migration {
  std::string state;      // the task's state text
  std::string last_line;  // the table's last line
  double seconds = 0;
  double cpu = 0;
};

// One Clone task of the SQLite file `source` into a new bench.mdb in `folder`, timed until the
// file is closed.
Result<Migration> Migrate(const fs::path& folder, const std::string& source, bool insert_statements) {
  const bench::Stopwatch clock;
  const double cpu_start = bench::CpuSeconds();
  Migration migration;
  {
    const std::unique_ptr<converters::Workbench> workbench = OpenSqliteWorkbench(folder, source);
    converters::Workbench& wb = *workbench;
    if (wb.source().session == nullptr) return InvalidArgumentError("the SQLite file does not open");
    wb.insert_statements = insert_statements;
    const std::string target = (folder / "Target.mdb").string();
    fs::remove(target);
    data::PropertySet init(data::DBPROPSET_DBINIT);
    init.AddString(data::DBPROP_INIT_DATASOURCE, target);
    std::vector<std::string> errors;
    if (data::JetProvider().CreateDataSource({&init, 1}, &errors) != data::S_OK) {
      return IoError("cannot create " + target);
    }
    wb.target().profile.provider_name = data::kJetProviderName;
    wb.target().profile.source_name = target;
    wb.target_context().system_database_path = (folder / "System.mdw").string();
    converters::ConnectTarget(wb);
    wb.target_tree().current_database = (folder / "Target").string();
    converters::EnterWorkFolder(wb.work_directory, wb.data_folder(), "./data_cache");
    converters::TaskNames names;
    names.source_database = "bench";
    names.target_database = "bench";
    wb.QueueTask(converters::MakeTask(converters::kCloneDatabase, names));
    wb.EnsureControllerRunning();
    wb.JoinController();
    migration.state = wb.tasks().Snapshot().at(0).state_text;
    for (const workspace::OutputLine& line : wb.output().Lines()) {
      if (line.text.find("records converted, convertion completed") != std::string::npos) {
        migration.last_line = line.text;
      }
    }
  }  // the Workbench closes both files here
  migration.seconds = clock.Seconds();
  migration.cpu = bench::CpuSeconds() - cpu_start;
  return migration;
}

// The engine's own rate: the rows MakeSqliteReadings makes, built in memory one at a time and
// streamed into InsertRows of the table with its Long primary key, in a new file; seconds until
// the file is closed.
Result<double> EngineInsertSeconds(const fs::path& folder, long long rows) {
  const std::string path = (folder / "engine.mdb").string();
  fs::remove(path);
  const bench::Stopwatch clock;
  {
    ASSIGN_OR_RETURN(std::unique_ptr<jet::Database> db, jet::Database::Create(path));
    RETURN_IF_ERROR(db->CreateTable(bench::ReadingsTable()));
    RETURN_IF_ERROR(db->CreateIndex("readings", bench::ReadingsKey()));
    long long i = 0;
    RETURN_IF_ERROR(db->InsertRows("readings", [&](jet::Row& row) -> Result<bool> {
      if (++i > rows) return false;
      bench::MakeReadingsRow(i, row);
      return true;
    }));
  }
  const double seconds = clock.Seconds();
  fs::remove(path);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const long long rows = bench::RowsArgument(argc, argv, 1);
  const fs::path folder = fs::temp_directory_path() / ("sqlite_migration_bench_" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string source = (folder / "bench.sqlite").string();
  if (!bench::MakeSqliteReadings(source, rows)) return 1;
  // "typed": the typed migration alone (for a profiler).
  if (argc > 2 && std::string(argv[2]) == "typed") {
    Result<Migration> typed = Migrate(folder, source, false);
    if (!typed.ok()) return bench::Fail(typed.status());
    bench::PrintRate(rows, typed->seconds);
    fs::remove_all(folder);
    return 0;
  }

  // The plan tabulon-cli migrate makes before it writes.
  const bench::Stopwatch plan_clock;
  long long estimate = 0;
  {
    const std::unique_ptr<converters::Workbench> workbench = OpenSqliteWorkbench(folder, source);
    converters::MigrationRequest request;
    request.operation = converters::kCloneDatabase;
    request.source_database = "bench";
    request.target_database = "bench";
    Result<converters::MigrationPlan> plan = converters::PlanMigration(*workbench, request, "", nullptr);
    if (!plan.ok()) return bench::Fail(plan.status());
    estimate = plan->estimated_bytes;
  }
  const double plan_seconds = plan_clock.Seconds();

  // The typed path first, so that the peak memory printed is its own.
  Result<Migration> typed = Migrate(folder, source, false);
  if (!typed.ok()) return bench::Fail(typed.status());
  std::printf("sqlite_migration_bench: SQLite table (Long key, 2 Text, Double, DateTime) -> new .mdb, Clone task\n");
  std::printf("typed rows: task %s\n%s\n", typed->state.c_str(), typed->last_line.c_str());
  bench::PrintRate(rows, typed->seconds);
  bench::PrintCpuRate(rows, typed->cpu);
  const double seconds = typed->seconds;
  const auto size = static_cast<double>(fs::file_size(folder / "bench.mdb"));
  std::printf("mdb size: %.1f MB\n", size / 1048576.0);
  std::printf("plan: %.2f s (%.2f of the migration's time); estimated size %.1f MB (%.3f of the file's)\n",
              plan_seconds, plan_seconds / seconds, static_cast<double>(estimate) / 1048576.0,
              static_cast<double>(estimate) / size);

  // The engine alone: the same rows, table and key straight into InsertRows.
  Result<double> engine = EngineInsertSeconds(folder, rows);
  if (!engine.ok()) return bench::Fail(engine.status());
  std::printf("engine InsertRows, same rows and Long primary key: %.3f s, %.0f rows/s\n", *engine,
              static_cast<double>(rows) / *engine);

  // INSERT statements, into a file of its own (kept apart from the typed path's).
  fs::rename(folder / "bench.mdb", folder / "typed.mdb");
  Result<Migration> statements = Migrate(folder, source, true);
  if (!statements.ok()) return bench::Fail(statements.status());
  fs::remove(folder / "bench.mdb");
  fs::rename(folder / "typed.mdb", folder / "bench.mdb");
  std::printf("INSERT statements: task %s, %.3f s, %.0f rows/s\n", statements->state.c_str(), statements->seconds,
              static_cast<double>(rows) / statements->seconds);
  std::printf("typed rows / engine: %.2f (goal >= 0.7)\nINSERT statements / engine: %.2f\n", *engine / seconds,
              *engine / statements->seconds);
  const std::string state = typed->state == "SUCCESS" && statements->state == "SUCCESS" ? "SUCCESS" : "FAILED";

  // The verification: every row read again from SQLite and compared with the file.
  const bench::Stopwatch verify_clock;
  std::string verdict;
  {
    const std::unique_ptr<converters::Workbench> workbench = OpenSqliteWorkbench(folder, source);
    converters::Workbench& wb = *workbench;
    Result<std::vector<converters::TableVerification>> verified =
        converters::RunVerification(wb, {"bench", {}, (folder / "bench.mdb").string()});
    if (!verified.ok()) return bench::Fail(verified.status());
    for (const converters::TableVerification& t : *verified) {
      verdict += " [" + t.table + "] " + (t.equal() ? "equal" : "differs " + t.error) + " (" + std::to_string(t.rows) +
                 " rows)";
    }
  }
  const double verify_seconds = verify_clock.Seconds();
  std::printf("verify:%s\n", verdict.c_str());
  bench::PrintRate(rows, verify_seconds);
  std::printf("verify time / migrate time: %.2f\n", verify_seconds / seconds);
  fs::remove_all(folder);
  return state == "SUCCESS" ? 0 : 1;
}
