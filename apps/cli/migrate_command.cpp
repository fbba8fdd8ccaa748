// tabulon-cli migrate: copies a source database (or its tables, its views, one table or one
// view) into an .mdb file, as the Migrate command queues it, and reports what it did.
//
// The work runs in a child process. The parent only waits and watches for Ctrl-C: the first
// one asks the controller to stop after the current row, the second ends the child at once.
// The engine writes through a rollback journal, so after the child is gone the parent opens the
// file once, which puts back the pages of the unfinished batch: the file then holds what was
// stored before, and other readers (which know nothing of the journal) see a consistent file.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/text.h"
#include "commands.h"
#include "config/settings_file.h"
#include "converters/connect.h"
#include "converters/core_task_flows.h"
#include "converters/migration_plan.h"
#include "converters/migration_run.h"
#include "converters/settings_commands.h"
#include "core_session.h"
#include "data/providers/jet/jet_provider.h"
#include "data/providers/sqlite/sqlite_provider.h"
#include "jet/database.h"
#include "migrate_display.h"
#include "source_side.h"
#include "target_access/access_files.h"

namespace {

namespace fs = std::filesystem;
using tabulon::workspace::TreeNodeKind;
using namespace tabulon::converters;

constexpr const char* kMigrateUsage =
    "Usage: tabulon-cli migrate --source SOURCE --database DB\n"
    "                           [--table T | --view V | --tables | --views]\n"
    "                           (--target FILE.mdb | --clone FOLDER)\n"
    "                           [--where TABLE=CONDITION]... [--report FILE.json] [--quiet]\n"
    "                           [--config FILE] [--type-map FILE|access-native] [--verify]\n"
    "                           [--plan]\n"
    "  Copies the database DB of SOURCE (its tables with keys, unique indexes, rows and\n"
    "  relationships, then its views) into an Access file; or only its tables, its views, one\n"
    "  table or one view.\n"
    "  --source SOURCE   sqlite:PATH       a SQLite file (DB is the file's name without its ending)\n"
    "                    \"Driver=...;...\"  an ODBC connection string (any text holding '=')\n"
    "                    SourceDB          the source profile of the settings file (tabulon.cfg,\n"
    "                                      saved with \"Properties from and to config file\" on)\n"
    "  --target FILE.mdb created when missing; an existing file is added to\n"
    "  --clone FOLDER    a new file FOLDER/DB.mdb (it must not exist yet)\n"
    "  --where T=COND    copy only the rows of table T that meet COND (an SQL condition of the\n"
    "                    source, without \"where\"); instead of Condition.cfg's, for this run only\n"
    "  --report FILE     writes per table the rows read, written and refused, and per key, index,\n"
    "                    relationship and view whether it was created (or left out, or kept\n"
    "                    without enforcement) and why, as JSON\n"
    "  --quiet           prints no lines while it runs (failures still go to stderr)\n"
    "  --verify          after a successful run compares the copied tables row by row with the\n"
    "                    source, as tabulon-cli verify does; \"verified\" in the report\n"
    "  --plan            writes nothing: prints what the migration would do (per table the rows\n"
    "                    under its condition, each column's source and Access type with a note\n"
    "                    where a value is not kept exactly, AutoNumbers, renamed names, the keys,\n"
    "                    indexes and relationships made or left out and why; the views translated\n"
    "                    or not) and the estimated size of the file; with --report as \"plan\"\n"
    "  --config FILE     the settings file whose folder is the program folder\n"
    "  --type-map MAP    the rules source_type[(length range)]=AccessType of the file MAP (or of\n"
    "                    its [TypeMap] section), or the preset access-native; instead of the\n"
    "                    [TypeMap] section of the settings file\n"
    "  Before it writes, every migration estimates the size of the file from the source's rows: one\n"
    "  that would pass the 2 GB an Access file holds stops at once; above 1.8 GB it warns.\n"
    "  Ctrl-C stops after the current row; a second Ctrl-C ends at once, leaving the file as\n"
    "  it was at its last stored batch.\n"
    "Exit codes: 0 everything was copied (and verified equal), or the plan was made and fits; 1 a\n"
    "task, table, row or object failed, the run was stopped, a verified table differs, the file\n"
    "would pass 2 GB or the plan cannot be made; 2 bad usage or settings.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "tabulon-cli migrate: %s\n%s", problem.c_str(), kMigrateUsage);
  return 2;
}

int Fail(const std::string& problem) {
  std::fprintf(stderr, "tabulon-cli migrate: %s\n", problem.c_str());
  return 1;
}

struct MigrateArgs {
  std::string source, database, target, clone, config, report, type_map;
  TreeNodeKind kind = TreeNodeKind::kDatabase;
  std::string object;
  std::vector<std::pair<std::string, std::string>> conditions;
  bool quiet = false;
  bool verify = false;
  bool plan = false;
};

// The file the run writes: --target's, or the clone's FOLDER/DB.mdb.
std::string TargetFile(const MigrateArgs& args) {
  if (!args.target.empty()) return AbsolutePath(args.target);
  return (fs::path(AbsolutePath(args.clone)) / (tabulon::target_access::MakeSafeFileName(args.database) + ".mdb"))
      .string();
}

void RemoveFile(const std::string& path) {
  std::error_code error;
  fs::remove(path, error);
  fs::remove(path + tabulon::jet::kJournalSuffix, error);
}

// Opens the file writable once (which rolls back an unfinished batch) and checks it.
bool FileIsValid(const std::string& path) {
  auto db = tabulon::jet::Database::Open(path, tabulon::jet::OpenMode::kReadWrite);
  return db.ok() && (*db)->CheckIntegrity().ok();
}

struct RunOutcome {
  std::string status;  // "success", "failure", "stopped"
  std::string file;    // "complete", "kept", "removed", "damaged", "none"
  std::vector<MigrationTask> tasks;
  std::optional<bool> verified;  // --verify ran: whether everything compared equal
  std::string plan_json;         // the plan made before the run
};

bool WriteReport(const std::string& path, const MigrateArgs& args, const RunOutcome& outcome,
                 const MigrationReport* report) {
  const std::string text = MigrationReportJson(
      {args.source, args.database, TargetFile(args), outcome.status, outcome.file, outcome.verified, outcome.plan_json},
      outcome.tasks,
      report);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (out) return true;
  Fail("cannot write the report " + path);
  return false;
}

// The child of `folder` of `kind` named `name`, exactly or else without regard to case.
std::optional<std::string> FindChild(const tabulon::workspace::DbTreeView& view, int folder, TreeNodeKind kind,
                                     const std::string& name) {
  if (!view.tree.Contains(folder)) return std::nullopt;
  std::optional<std::string> loose;
  for (int child : view.tree.node(folder).children) {
    const tabulon::workspace::TreeNode& node = view.tree.node(child);
    if (node.kind != kind) continue;
    if (node.text == name) return node.text;
    if (!loose && tabulon::EqualsIgnoreAsciiCase(node.text, name)) loose = node.text;
  }
  return loose;
}

std::atomic<bool> g_stop_asked{false};

// The child's side of Ctrl-C: SIGUSR1 from the parent asks the controller to stop; asked again
// until the run ends, so a stop that arrives before the controller runs is not lost.
void WatchForStop(Workbench& workbench, const std::atomic<bool>& done) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  const timespec wait{0, 100 * 1000 * 1000};
  while (!done) {
    if (sigtimedwait(&set, nullptr, &wait) == SIGUSR1) g_stop_asked = true;
    if (g_stop_asked && workbench.controller_state() == ControllerState::kRunning) workbench.RequestControllerStop();
  }
}

// The operation a migration of `args` queues (a clone's, for --clone).
TaskOperation OperationFor(const MigrateArgs& args) {
  if (!args.clone.empty()) return kCloneDatabase;
  switch (args.kind) {
    case TreeNodeKind::kTablesFolder: return kMigrateTables;
    case TreeNodeKind::kViewsFolder: return kMigrateViews;
    case TreeNodeKind::kTable: return kMigrateTable;
    case TreeNodeKind::kView: return kMigrateView;
    default: return kMigrateDatabase;
  }
}

// Plans the migration before anything is written. With --plan prints the plan and ends (its exit
// code returned); else stops (1) when the file would pass 2 GB and warns above 1.8 GB. A plan that
// cannot be made is said and the migration goes on: the engine still refuses to pass the ceiling.
std::optional<int> PlanFirst(const MigrateArgs& args, Workbench& workbench, const std::string& database,
                             const std::string& object, const std::string& existing_file, RunOutcome* outcome) {
  MigrationRequest request;
  request.operation = OperationFor(args);
  request.source_database = database;
  request.source_object = object;
  if (!args.quiet && !args.plan) std::printf("Estimating the size of the file from the source's rows...\n");
  std::fflush(stdout);
  const tabulon::Result<MigrationPlan> plan = PlanMigration(workbench, request, existing_file, [] { return g_stop_asked.load(); });
  if (!plan.ok()) {
    if (args.plan) return Fail("the migration cannot be planned: " + plan.status().message());
    std::fprintf(stderr, "tabulon-cli migrate: the size of the file was not estimated: %s\n",
                 plan.status().message().c_str());
    return std::nullopt;
  }
  outcome->plan_json = PlanJson(*plan);
  const SizeCheck check = CheckPlannedSize(*plan);
  const std::string way_out =
      "Copy fewer rows (--where TABLE=CONDITION), one table at a time (--table T) into separate files, or "
      "the tables in groups into several files (--clone FOLDER, then --target for the rest).";
  if (args.plan) {
    for (const std::string& line : PlanLines(*plan)) std::printf("%s\n", line.c_str());
    if (check.verdict == SizeCheck::Verdict::kOverCeiling) std::printf("%s\n", way_out.c_str());
    outcome->status = "planned";
    outcome->file = existing_file.empty() ? "none" : "kept";
    if (!args.report.empty() && !WriteReport(args.report, args, *outcome, nullptr)) return 1;
    return check.verdict == SizeCheck::Verdict::kOverCeiling ? 1 : 0;
  }
  if (check.verdict == SizeCheck::Verdict::kOverCeiling) {
    std::fprintf(stderr, "tabulon-cli migrate: %s\n%s\n", check.text.c_str(), way_out.c_str());
    outcome->status = "failure";
    outcome->file = existing_file.empty() ? "none" : "kept";
    if (!args.report.empty()) WriteReport(args.report, args, *outcome, nullptr);
    return 1;
  }
  if (check.verdict == SizeCheck::Verdict::kNearCeiling) {
    std::fprintf(stderr, "tabulon-cli migrate: warning: %s\n", check.text.c_str());
  } else if (!args.quiet) {
    std::printf("Estimated size of the file: %s\n", SizeText(plan->estimated_bytes).c_str());
  }
  return std::nullopt;
}

int MigrateHeadless(const MigrateArgs& args) {
  const bool terminal = isatty(fileno(stdout)) != 0;
  MigrateDisplay display(terminal, args.quiet);
  CoreSession session("migrate", args.config);
  Workbench& workbench = session.workbench();
  workbench.output().SetListener([&display](const tabulon::workspace::OutputLine& line) { display.ShowLine(line); });
  workbench.report().SetProgressListener(
      [&display](std::string_view table, const tabulon::source_common::RowCopyCounts& counts) {
        display.ShowProgress(table, counts);
      });
  std::atomic<bool> done{false};
  std::thread watcher([&] { WatchForStop(workbench, done); });
  struct Join {
    std::atomic<bool>& done;
    std::thread& thread;
    ~Join() {
      done = true;
      thread.join();
    }
  } join{done, watcher};

  if (std::optional<int> code = SetSourceProfile("migrate", kMigrateUsage, args.source, session)) return *code;
  if (std::optional<int> code = InstallTypeMap("migrate", args.type_map, workbench)) return *code;
  ConnectSource(workbench);
  if (workbench.source().session == nullptr) return Fail("the source does not open");

  std::string database, object;
  {
    std::lock_guard guard(workbench.tree_lock());
    std::optional<std::string> found = FindDatabase(workbench.source_tree(), args.database);
    if (!found) return Fail("the source has no database named '" + args.database + "'");
    database = *found;
  }
  if (args.kind == TreeNodeKind::kTable || args.kind == TreeNodeKind::kView) {
    std::lock_guard guard(workbench.tree_lock());
    tabulon::workspace::DbTreeView& tree = workbench.source_tree();
    if (!SourceAdapterFor(workbench.source().profile.provider_name)
             .SelectDatabase(tree, workbench.target_tree(), database)) {
      return Fail("the source database '" + database + "' cannot be selected");
    }
    const bool table = args.kind == TreeNodeKind::kTable;
    std::optional<std::string> found =
        FindChild(tree, table ? tree.tables_folder : tree.views_folder, args.kind, args.object);
    if (!found) return Fail("'" + database + "' has no " + (table ? "table" : "view") + " named '" + args.object + "'");
    object = *found;
  }
  for (const auto& [table, condition] : args.conditions) workbench.SetConditionOverride(table, condition);

  const std::string file = TargetFile(args);
  std::error_code error;
  const bool existed = fs::exists(file, error);
  if (!args.clone.empty() && existed) return Fail(file + " exists already; give it as --target to add to it");
  RunOutcome outcome;
  if (std::optional<int> code = PlanFirst(args, workbench, database, object, existed ? file : "", &outcome)) {
    return *code;
  }
  MigrationRequest request;
  request.source_database = database;
  request.source_object = object;
  if (!args.clone.empty()) {
    workbench.target().profile.provider_name = tabulon::data::kJetProviderName;
    std::lock_guard guard(workbench.tree_lock());
    // The clone is made beside the target tree's current database.
    workbench.target_tree().current_database = (fs::path(file).parent_path() / database).string();
    request.operation = OperationFor(args);
    request.target_database = database;
  } else {
    if (!existed) {
      tabulon::data::PropertySet init(tabulon::data::DBPROPSET_DBINIT);
      init.AddString(tabulon::data::DBPROP_INIT_DATASOURCE, file);
      std::vector<std::string> errors;
      if (tabulon::data::Failed(tabulon::data::JetProvider().CreateDataSource({&init, 1}, &errors))) {
        RemoveFile(file);
        return Fail("cannot create " + file + (errors.empty() ? "" : ": " + errors.front()));
      }
    }
    if (!session.ConnectTarget(file)) {
      if (!existed) RemoveFile(file);
      return Fail(file + " does not open as an Access file");
    }
    std::lock_guard guard(workbench.tree_lock());
    request.target_database = workbench.target_tree().current_database;
    request.operation = OperationFor(args);
  }
  if (g_stop_asked) {
    if (!args.report.empty()) WriteReport(args.report, args, {"stopped", "kept", {}, std::nullopt, {}}, nullptr);
    return Fail("stopped before the migration began");
  }
  const MigrationRun run = RunMigration(workbench, request, [] { return g_stop_asked.load(); });

  outcome.tasks = run.tasks;
  outcome.status = MigrationStatusText(run.status);
  const bool stopped = run.status == MigrationStatus::kStopped;
  if (!fs::exists(file, error)) {
    outcome.file = "none";
  } else if (run.status == MigrationStatus::kSuccess) {
    outcome.file = "complete";
  } else if (!existed && (run.task_failed || !FileIsValid(file))) {
    // A file this run made for a task that failed, or that does not read back whole.
    RemoveFile(file);
    outcome.file = "removed";
  } else {
    outcome.file = FileIsValid(file) ? "kept" : "damaged";
  }
  if (outcome.status != "success") {
    std::fprintf(stderr, "tabulon-cli migrate: %s; %s %s\n",
                 stopped ? "stopped before the end" : "some objects or rows were not copied (see the lines above)",
                 file.c_str(),
                 outcome.file == "kept"      ? "is kept: it is valid but incomplete"
                 : outcome.file == "removed" ? "was removed"
                 : outcome.file == "none"    ? "was not made"
                                             : "does not read back whole");
  }
  if (args.verify && outcome.status == "success") {
    // The same tables, read under the same conditions, compared with what the file now holds.
    std::vector<std::string> tables;
    if (args.kind == TreeNodeKind::kTable) tables.push_back(object);
    if (args.kind != TreeNodeKind::kView && args.kind != TreeNodeKind::kViewsFolder) {
      outcome.verified = VerifyAndShow("migrate", workbench, database, tables, file) == 0;
    }
  }
  if (!args.report.empty() && !WriteReport(args.report, args, outcome, &workbench.report())) return 1;
  return outcome.status == "success" && outcome.verified.value_or(true) ? 0 : 1;
}

volatile sig_atomic_t g_interrupts = 0;

void OnInterrupt(int) { g_interrupts = g_interrupts + 1; }

// The parent: waits for the child and turns Ctrl-C into its stop request, then its end.
int Supervise(pid_t child, const MigrateArgs& args) {
  bool forwarded = false;
  for (;;) {
    int status = 0;
    const pid_t ended = waitpid(child, &status, WNOHANG);
    if (ended == child && WIFEXITED(status)) return WEXITSTATUS(status);
    if (ended == child) {
      // Killed from outside: the file may hold an unfinished batch, put right below.
      std::fprintf(stderr, "tabulon-cli migrate: the migration ended abnormally (signal %d)\n", WTERMSIG(status));
      break;
    }
    if (ended < 0 && errno != EINTR) return Fail("lost the migration process");
    if (g_interrupts >= 1 && !forwarded) {
      forwarded = true;
      std::fputs("\ntabulon-cli migrate: stopping after the current row (Ctrl-C again ends at once)\n", stderr);
      kill(child, SIGUSR1);
    }
    if (g_interrupts >= 2) {
      kill(child, SIGKILL);
      while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    usleep(20 * 1000);
  }
  const std::string file = TargetFile(args);
  std::error_code error;
  RunOutcome outcome;
  outcome.status = "stopped";
  if (!fs::exists(file, error)) {
    outcome.file = "none";
  } else if (FileIsValid(file)) {
    outcome.file = "kept";
  } else {
    RemoveFile(file);
    outcome.file = "removed";
  }
  std::fprintf(stderr, "tabulon-cli migrate: ended early; %s %s\n", file.c_str(),
               outcome.file == "kept"      ? "is kept as it was at its last stored batch"
               : outcome.file == "removed" ? "was removed: it did not read back whole"
                                           : "was not made");
  if (!args.report.empty()) WriteReport(args.report, args, outcome, nullptr);
  return 1;
}

}  // namespace

int RunMigrateCommand(int argc, char** argv) {
  MigrateArgs args;
  bool selector_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    const auto select = [&](TreeNodeKind kind) {
      if (selector_given) return false;
      selector_given = true;
      args.kind = kind;
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kMigrateUsage, stdout);
      return 0;
    } else if (arg == "--quiet" || arg == "-q") {
      args.quiet = true;
    } else if (arg == "--verify") {
      args.verify = true;
    } else if (arg == "--plan") {
      args.plan = true;
    } else if ((arg == "--tables" || arg == "--views")) {
      if (!select(arg == "--tables" ? TreeNodeKind::kTablesFolder : TreeNodeKind::kViewsFolder)) {
        return Usage("give at most one of --table, --view, --tables, --views");
      }
    } else if (!has_value && arg.starts_with("--")) {
      return Usage("unknown option or missing value: " + arg);
    } else if (arg == "--table" || arg == "--view") {
      if (!select(arg == "--table" ? TreeNodeKind::kTable : TreeNodeKind::kView)) {
        return Usage("give at most one of --table, --view, --tables, --views");
      }
      args.object = argv[++i];
    } else if (arg == "--where") {
      const std::string value = argv[++i];
      const size_t equals = value.find('=');
      if (equals == 0 || equals == std::string::npos || equals + 1 == value.size()) {
        return Usage("--where takes TABLE=CONDITION, got '" + value + "'");
      }
      args.conditions.emplace_back(value.substr(0, equals), value.substr(equals + 1));
    } else {
      std::string* slot = arg == "--source"     ? &args.source
                          : arg == "--database" ? &args.database
                          : arg == "--target"   ? &args.target
                          : arg == "--clone"    ? &args.clone
                          : arg == "--config"   ? &args.config
                          : arg == "--report"   ? &args.report
                          : arg == "--type-map" ? &args.type_map
                                                : nullptr;
      if (slot == nullptr) return Usage("unknown option or unexpected argument: " + arg);
      *slot = argv[++i];
    }
  }
  if (args.source.empty() || args.database.empty()) return Usage("--source and --database are needed");
  if (args.target.empty() == args.clone.empty()) return Usage("give one of --target FILE.mdb and --clone FOLDER");
  if (!args.clone.empty() && args.kind != TreeNodeKind::kDatabase) {
    return Usage("--clone copies a whole database; use --target for tables or views");
  }
  // The target side names its database by the path without ".mdb" and finds the file again by
  // adding it: other endings do not come back to the same file.
  if (!args.target.empty() && !args.target.ends_with(".mdb")) return Usage("the file name must end in \".mdb\"");
  if (!args.type_map.empty()) {
    // A bad rule is bad usage: said before anything is opened or written.
    auto map = tabulon::source_common::LoadTypeMap(args.type_map);
    if (!map.ok()) {
      std::fprintf(stderr, "tabulon-cli migrate: %s\n", map.status().message().c_str());
      return 2;
    }
  }

  const fs::path folder = fs::path(TargetFile(args)).parent_path();
  std::error_code error;
  fs::create_directories(folder, error);
  if (!fs::is_directory(folder, error) || access(folder.c_str(), W_OK) != 0) {
    return Fail("cannot write into the folder " + folder.string());
  }
  if (!args.report.empty()) {
    // Only a finished run writes a report: the probe leaves no empty file behind.
    const bool report_existed = fs::exists(args.report, error);
    const bool writable = std::ofstream(args.report, std::ios::app).good();
    if (!report_existed) fs::remove(args.report, error);
    if (!writable) return Fail("cannot write the report " + args.report);
  }

  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  std::fflush(nullptr);
  // The child is born with the parent's stop request (SIGUSR1) blocked, so that one sent at once
  // waits for its handling thread instead of ending the child.
  sigset_t stop_request, before;
  sigemptyset(&stop_request);
  sigaddset(&stop_request, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &stop_request, &before);
  const pid_t child = fork();
  if (child != 0) pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (child < 0) return Fail(std::string("cannot start the migration: ") + std::strerror(errno));
  if (child == 0) {
    // A Ctrl-C on the terminal reaches the whole process group: only the parent acts on it.
    signal(SIGINT, SIG_IGN);
    const int code = MigrateHeadless(args);
    std::fflush(nullptr);
    std::exit(code);
  }
  return Supervise(child, args);
}
