// How responsive the desktop window stays while a large migration runs: the real main window
// (offscreen) migrates a generated SQLite table of ROWS rows into a new .mdb through the Migrate
// command, with the task list in front, while a 5 ms timer measures how late the window's event
// loop serves it. Reports the largest and the 99th-percentile delay, and the migration's rate.
//   gui_event_loop_bench [rows]
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_util.h"
#include "command_ids.h"
#include "converters/settings_commands.h"
#include "converters/workbench.h"
#include "workspace/user_prompt.h"
#include "db_tree_widget.h"
#include "main_dialog.h"
#include "sqlite_source.h"
#include "target_access/access_files.h"

using namespace tabulon;

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const long long rows = bench::RowsArgument(argc, argv, 1);
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("gui_event_loop_bench_" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string source = (folder / "bench.sqlite").string();
  if (!bench::MakeSqliteReadings(source, rows)) return 1;

  std::vector<double> delays_ms;
  double seconds = 0;
  double task_seconds = 0;
  std::string state;
  {
    workspace::ScriptedUserPrompt prompt(/*default_yes=*/true);
    converters::WorkbenchOptions options;
    options.program_folder = folder.string();
    converters::Workbench owner(prompt, options);
    config::Settings settings;
    settings.source = {"SQLite", source, "", "", ""};
    settings.target = {"Microsoft Jet 4.0 OLE DB Provider", (folder / "Access_New.mdb").string(), "", "", ""};
    const std::string settings_path = (folder / "tabulon.cfg").string();
    if (!converters::UseConnectSettings(owner, settings, settings_path).ok() ||
        !target_access::CreateAccessDatabaseAt(owner.target_context(), settings.target.source_name)) {
      return 1;
    }
    gui::MainDialogOptions window_options;
    window_options.settings_path = settings_path;
    window_options.driver_check_at_start = false;
    window_options.run_dialog = [](QDialog&) { return 0; };
    gui::MainDialog window(owner, window_options);
    window.show();
    window.RunCommand(gui::kCmdConnectButton);
    int database = workspace::kNoItem;
    {
      std::lock_guard trees(owner.tree_lock());
      const workspace::DbTreeView& tree = owner.source_tree();
      for (size_t id = 0; id < tree.tree.size(); ++id) {
        const int item = static_cast<int>(id);
        if (tree.tree.Contains(item) && tree.tree.node(item).kind == workspace::TreeNodeKind::kDatabase)
          database = item;
      }
    }
    if (database == workspace::kNoItem) return 1;
    window.source_tree()->SelectItem(database);
    window.target_tree()->SelectItem(owner.target_tree().root_item);
    window.output_tabs()->setCurrentIndex(gui::kTaskListTab);

    // The probe: a 5 ms timer; each tick's lateness beyond its interval is a delay of the loop.
    constexpr qint64 kIntervalNs = 5'000'000;
    QElapsedTimer since_last;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
      const qint64 elapsed = since_last.nsecsElapsed();
      since_last.restart();
      delays_ms.push_back(static_cast<double>(std::max<qint64>(0, elapsed - kIntervalNs)) / 1e6);
    });
    QEventLoop loop;
    QTimer done_check;
    done_check.setInterval(50);
    const bench::Stopwatch clock;
    QObject::connect(&done_check, &QTimer::timeout, [&] {
      if (task_seconds == 0) {
        const auto tasks = owner.tasks().Snapshot();
        if (!tasks.empty() && (tasks.front().state_text == "SUCCESS" || tasks.front().state_text == "FAILURE")) {
          task_seconds = clock.Seconds();
        }
      }
      if (owner.controller_state() == converters::ControllerState::kIdle) loop.quit();
    });

    window.RunCommand(gui::kCmdMigrateButton);
    since_last.start();
    probe.start();
    done_check.start();
    loop.exec();
    seconds = clock.Seconds();
    probe.stop();
    const auto tasks = owner.tasks().Snapshot();
    state = tasks.empty() ? "none" : tasks.front().state_text;
  }
  std::vector<double> sorted = delays_ms;
  std::sort(sorted.begin(), sorted.end());
  const double largest = sorted.empty() ? 0 : sorted.back();
  const double p99 = sorted.empty() ? 0 : sorted[sorted.size() * 99 / 100];
  std::printf("gui_event_loop_bench: main window (offscreen) while the Migrate command clones %lld SQLite rows\n",
              rows);
  std::printf("task: %s\n", state.c_str());
  std::printf("event loop: %zu probe ticks, largest delay %.1f ms, 99th percentile %.1f ms\n", sorted.size(), largest,
              p99);
  std::printf("migration task with the window open: %.2f s, %.0f rows/s (the controller idle after %.2f s)\n",
              task_seconds, static_cast<double>(rows) / task_seconds, seconds);
  std::printf("peak RSS: %.1f MB\n", bench::PeakRssMegabytes());
  fs::remove_all(folder);
  return state == "SUCCESS" ? 0 : 1;
}
