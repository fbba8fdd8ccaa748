// A SQLite table into a new .mdb end to end: the core's Clone task reads a generated SQLite
// file (Long key, two Text, a Double, a DateTime) and writes every row into a new .mdb, which
// is closed before the clock stops. Rows per second and peak memory; then the same rows verified
// against the file (tabulon-cli verify's comparison), timed apart; and the plan every migration
// makes first (rows counted and measured, the file's size estimated), timed apart and its estimate
// set beside the file's size.
//   sqlite_migration_bench [rows]
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
  auto wb = std::make_unique<converters::Workbench>(prompt, std::move(options));
  wb->source().profile.provider_name = "SQLite";
  wb->source().profile.source_name = source;
  converters::ConnectSource(*wb);
  return wb;
}

}  // namespace

int main(int argc, char** argv) {
  const long long rows = bench::RowsArgument(argc, argv, 1);
  const fs::path folder = fs::temp_directory_path() / ("sqlite_migration_bench_" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string source = (folder / "bench.sqlite").string();
  if (!bench::MakeSqliteReadings(source, rows)) return 1;

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

  const bench::Stopwatch clock;
  const double cpu_start = bench::CpuSeconds();
  std::string state, last_line;
  {
    const std::unique_ptr<converters::Workbench> workbench = OpenSqliteWorkbench(folder, source);
    converters::Workbench& wb = *workbench;
    if (wb.source().session == nullptr) return bench::Fail(InvalidArgumentError("the SQLite file does not open"));
    const std::string target = (folder / "Target.mdb").string();
    data::PropertySet init(data::DBPROPSET_DBINIT);
    init.AddString(data::DBPROP_INIT_DATASOURCE, target);
    std::vector<std::string> errors;
    if (data::JetProvider().CreateDataSource({&init, 1}, &errors) != data::S_OK) {
      return bench::Fail(IoError("cannot create " + target));
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
    state = wb.tasks().Snapshot().at(0).state_text;
    for (const workspace::OutputLine& line : wb.output().Lines()) {
      if (line.text.find("records converted, convertion completed") != std::string::npos) last_line = line.text;
    }
  }  // the Workbench closes both files here
  const double seconds = clock.Seconds();
  const double cpu = bench::CpuSeconds() - cpu_start;
  std::printf("sqlite_migration_bench: SQLite table (Long key, 2 Text, Double, DateTime) -> new .mdb, Clone task\n");
  std::printf("task: %s\n%s\n", state.c_str(), last_line.c_str());
  bench::PrintRate(rows, seconds);
  bench::PrintCpuRate(rows, cpu);
  const auto size = static_cast<double>(fs::file_size(folder / "bench.mdb"));
  std::printf("mdb size: %.1f MB\n", size / 1048576.0);
  std::printf("plan: %.2f s (%.2f of the migration's time); estimated size %.1f MB (%.3f of the file's)\n",
              plan_seconds, plan_seconds / seconds, static_cast<double>(estimate) / 1048576.0,
              static_cast<double>(estimate) / size);

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
