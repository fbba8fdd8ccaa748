// The main window: the menu bar, the mini toolbar, the two database trees side by side, the
// output tabs ("Log", "Task List" and, while tips are on, "Tips") and the three-pane status bar.
// It is the command hub: every menu and toolbar command lands in RunCommand, which runs the core's
// command or forwards it to a tree. The controller thread never touches a widget: its changes
// arrive as queued calls, and a one-second timer drives the clock, the task list and the trees.
#pragma once

#include <QMainWindow>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "converters/migration_run.h"
#include "converters/workbench.h"
#include "tabulon_version.h"

class QAction;
class QDialog;
class QLabel;
class QMenu;
class QTabWidget;
class QTimer;
class QToolBar;

namespace tabulon::gui {

class DbTreeWidget;
class HintBox;
class LogView;
class PlanRunner;
class TaskViewer;

struct MainDialogOptions {
  // The settings file (tabulon.cfg) the Config dialog loads and stores.
  std::string settings_path;
  // Opens the driver check once the window is shown.
  bool driver_check_at_start = true;
  // Opens a URL with the desktop's viewer (the manual, the web page); null: QDesktopServices.
  std::function<void(const QUrl&)> open_url;
  // Runs a modal dialog and returns its result; null: QDialog::exec. Tests answer dialogs here.
  std::function<int(QDialog&)> run_dialog;
  // How long closing waits for a stopped task before it asks again.
  int close_wait_ms = 3000;
};

// The output tabs by index.
inline constexpr int kLogTab = 0;
inline constexpr int kTaskListTab = 1;
inline constexpr int kTipsTab = 2;

inline constexpr const char* kProductTitle = "Tabulon Version: " TABULON_VERSION;

class MainDialog : public QMainWindow {
  Q_OBJECT

 public:
  MainDialog(converters::Workbench& owner, MainDialogOptions options, QWidget* parent = nullptr);
  ~MainDialog() override;

  // Runs the command `id` (menu, toolbar, forwarded tree commands).
  void RunCommand(int id);

  // The action of a command (menu or toolbar), or null.
  QAction* action(int id) const;
  // The menu bar's popup with `title` ("&Connect", ...), or null.
  QMenu* popup(const QString& title) const;
  QToolBar* mini_toolbar() const { return mini_toolbar_; }
  DbTreeWidget* source_tree() const { return source_tree_; }
  DbTreeWidget* target_tree() const { return target_tree_; }
  TaskViewer* task_viewer() const { return task_viewer_; }
  LogView* log_view() const { return log_; }
  HintBox* hint_box() const { return hint_box_; }
  QTabWidget* output_tabs() const { return output_tabs_; }
  QLabel* status_pane(int index) const { return status_panes_[index]; }
  QLabel* folder_caption(int side) const { return captions_[side]; }

  // Adds or removes the "Tips" tab.
  void ShowTipsTab(bool on);
  // The one-second timer's work: clock, task list, trees, captions.
  void OnTimer();
  // Shows which of "D&atabases", "&Database", "&Table" fits the selected kind on `side`.
  void ApplySelection(int side, int kind);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  struct Bridge;

  void BuildMenus();
  void BuildToolbar();
  void BuildCentre();
  void BuildStatusBar();
  void ConnectCore();
  QAction* AddCommand(QMenu* menu, int id, const QString& text);
  // Runs `command` with the tree lock held; when a task holds it, tries again a little later.
  void RunWithTreeLock(int id, const std::function<void()>& command);
  // The same for a step that is not a command of its own.
  void WhenTreesFree(std::function<void()> command);
  // Migrate (menu, toolbar, drop): the size check, then the core's command.
  void Migrate(int id);
  // "Review Migration...": the plan in a dialog whose Migrate queues the reviewed migration.
  void ReviewMigration();
  void QueueReviewed(const converters::MigrationRequest& request);
  int RunDialog(QDialog& dialog);
  void OpenUrl(const QUrl& url);
  void OpenSettings();
  void OpenDriverCheck();
  void OpenAbout();
  void OpenManual();
  void OpenProductPage();
  void NewDatabaseCheck();
  void ShowHintText(const QString& hint);
  void FinishClosing();

  converters::Workbench& owner_;
  MainDialogOptions options_;
  std::shared_ptr<Bridge> bridge_;
  std::map<int, QAction*> actions_;
  std::unique_ptr<PlanRunner> plan_runner_;
  QMenu* databases_menu_ = nullptr;  // "D&atabases"
  QMenu* database_menu_ = nullptr;   // "&Database"
  QMenu* table_menu_ = nullptr;      // "&Table"
  QToolBar* mini_toolbar_ = nullptr;
  DbTreeWidget* source_tree_ = nullptr;
  DbTreeWidget* target_tree_ = nullptr;
  QLabel* captions_[2] = {nullptr, nullptr};
  QTabWidget* output_tabs_ = nullptr;
  LogView* log_ = nullptr;
  TaskViewer* task_viewer_ = nullptr;
  HintBox* hint_box_ = nullptr;
  QLabel* status_panes_[3] = {nullptr, nullptr, nullptr};
  QTimer* timer_ = nullptr;
  bool closing_ = false;  // a close was confirmed: waiting for the tasks to stop
  bool close_confirmed_ = false;
  bool exit_without_question_ = false;
  int close_waited_ms_ = 0;
};

}  // namespace tabulon::gui
