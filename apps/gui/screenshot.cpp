#include "screenshot.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>
#include <cstdio>

#include "command_ids.h"
#include "condition_dialog.h"
#include "config/settings_file.h"
#include "converters/commands.h"
#include "converters/migration_plan.h"
#include "converters/settings_commands.h"
#include "workspace/user_prompt.h"
#include "db_tree_widget.h"
#include "driver_check_dialog.h"
#include "log_view.h"
#include "main_dialog.h"
#include "review_dialog.h"
#include "settings_dialog.h"
#include "target_access/access_files.h"
#include "task_viewer.h"

namespace tabulon::gui {
namespace {

// Lets the window lay out and paint.
void Settle(int milliseconds = 150) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
}

bool Save(QWidget& widget, const QDir& folder, const char* name) {
  Settle();
  const QString path = folder.filePath(name);
  if (!widget.grab().save(path, "PNG")) {
    std::fprintf(stderr, "tabulon: could not write %s\n", path.toLocal8Bit().constData());
    return false;
  }
  std::printf("%s\n", path.toLocal8Bit().constData());
  return true;
}

// The item of `kind` named `text` (any name when empty) in a side's tree, or kNoItem.
int FindNode(const workspace::DbTreeView& tree, workspace::TreeNodeKind kind, const std::string& text) {
  for (size_t id = 0; id < tree.tree.size(); ++id) {
    const int item = static_cast<int>(id);
    if (tree.tree.Contains(item) && tree.tree.node(item).kind == kind &&
        (text.empty() || tree.tree.node(item).text == text)) {
      return item;
    }
  }
  return workspace::kNoItem;
}

}  // namespace

QString DefaultSampleDatabase() {
#ifdef TABULON_SAMPLE_DATABASE
  return QStringLiteral(TABULON_SAMPLE_DATABASE);
#else
  return {};
#endif
}

int RunScreenshots(const QString& folder_path, const QString& sample_database) {
  if (sample_database.isEmpty() || !QFileInfo(sample_database).isFile()) {
    std::fprintf(stderr, "tabulon: the sample database %s is missing (build the target tabulon_sample)\n",
                 sample_database.toLocal8Bit().constData());
    return 1;
  }
  QDir folder(folder_path);
  if (!folder.mkpath(".")) {
    std::fprintf(stderr, "tabulon: cannot create the folder %s\n", folder_path.toLocal8Bit().constData());
    return 1;
  }
  QTemporaryDir scratch;
  if (!scratch.isValid()) {
    std::fprintf(stderr, "tabulon: cannot create a scratch folder\n");
    return 1;
  }
  const std::string work = scratch.path().toStdString();
  const std::string settings_path = work + "/" + config::kSettingsFileName;
  const std::string target_file = work + "/Access_New.mdb";

  // Every question is answered OK/Yes, as a user who goes ahead would.
  workspace::ScriptedUserPrompt prompt(/*default_yes=*/true);
  converters::WorkbenchOptions workbench_options;
  workbench_options.program_folder = work;
  converters::Workbench owner(prompt, workbench_options);

  config::Settings settings;
  settings.use_config_file = true;
  settings.tips = true;
  settings.source = {"SQLite", sample_database.toStdString(), "", "", ""};
  settings.target = {"Microsoft Jet 4.0 OLE DB Provider", target_file, "Admin", "", ""};
  if (!converters::UseConnectSettings(owner, settings, settings_path).ok() ||
      !target_access::CreateAccessDatabaseAt(owner.target_context(), target_file)) {
    std::fprintf(stderr, "tabulon: cannot prepare the scratch folder %s\n", work.c_str());
    return 1;
  }

  MainDialogOptions options;
  options.settings_path = settings_path;
  options.driver_check_at_start = false;
  options.open_url = [](const QUrl&) {};
  options.run_dialog = [](QDialog&) { return static_cast<int>(QDialog::Rejected); };
  MainDialog window(owner, options);
  window.resize(1100, 760);
  window.ShowTipsTab(false);
  window.show();
  Settle();

  window.RunCommand(kCmdConnectButton);
  int source_database = workspace::kNoItem;
  {
    std::lock_guard trees(owner.tree_lock());
    source_database = FindNode(owner.source_tree(), workspace::TreeNodeKind::kDatabase, "sample");
  }
  if (source_database == workspace::kNoItem) {
    std::fprintf(stderr, "tabulon: the sample database did not connect\n");
    return 1;
  }
  window.source_tree()->SelectItem(source_database);
  window.target_tree()->SelectItem(owner.target_tree().root_item);
  window.RunCommand(kCmdMigrateButton);

  // The migration runs on the controller thread; the window keeps drawing meanwhile.
  QElapsedTimer clock;
  clock.start();
  Settle(300);
  while (owner.controller_state() != converters::ControllerState::kIdle && clock.elapsed() < 600000) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(10);
  }
  window.OnTimer();
  window.source_tree()->expandAll();
  window.target_tree()->expandToDepth(1);
  const int table = [&] {
    std::lock_guard trees(owner.tree_lock());
    return FindNode(owner.target_tree(), workspace::TreeNodeKind::kTable, "orders");
  }();
  if (table != workspace::kNoItem) window.target_tree()->SelectItem(table);
  window.output_tabs()->setCurrentIndex(kLogTab);
  window.log_view()->scrollToBottom();
  bool written = Save(window, folder, "main_window.png");
  window.output_tabs()->setCurrentIndex(kTaskListTab);
  window.task_viewer()->Rebuild();
  written = Save(window, folder, "task_list.png") && written;

  ConnectionSettingsDialog settings_dialog(owner, settings_path, {}, &window);
  settings_dialog.show();
  written = Save(settings_dialog, folder, "settings.png") && written;
  settings_dialog.close();

  DriverCheckDialog driver_check(converters::RunDriverCheck(), &window);
  driver_check.show();
  written = Save(driver_check, folder, "driver_check.png") && written;
  driver_check.close();

  ConditionDialog condition(owner, "sample", "orders", {}, &window);
  condition.condition_edit()->setPlainText("freight > 50 and shipped is not null");
  condition.show();
  condition.test_button()->click();
  written = Save(condition, folder, "condition.png") && written;
  condition.close();

  // The review of migrating the sample once more into the file it was cloned into (the plan is made
  // here on this thread: nothing else runs).
  window.source_tree()->SelectItem(source_database);
  window.target_tree()->SelectItem([&] {
    std::lock_guard trees(owner.tree_lock());
    return FindNode(owner.target_tree(), workspace::TreeNodeKind::kDatabase, {});
  }());
  const converters::SelectedMigration selected = converters::ReadSelectedMigration(owner);
  const Result<converters::MigrationPlan> plan =
      selected.request ? converters::PlanMigration(owner, *selected.request, selected.target_file, nullptr)
                       : Result<converters::MigrationPlan>(InvalidArgumentError(selected.refusal));
  if (plan.ok()) {
    QString what = QString::fromStdString(selected.question);
    if (what.endsWith('?')) what.chop(1);
    ReviewMigrationDialog review(*plan, what, &window);
    review.show();
    written = Save(review, folder, "review.png") && written;
    review.close();
  } else {
    std::fprintf(stderr, "tabulon: no plan for the review: %s\n", plan.status().message().c_str());
    written = false;
  }
  return written ? 0 : 1;
}

}  // namespace tabulon::gui
