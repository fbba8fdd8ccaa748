#include "main_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWindow>
#include <cctype>
#include <mutex>
#include <optional>

#include "about_dialog.h"
#include "command_ids.h"
#include "condition_dialog.h"
#include "config/condition_file.h"
#include "config/settings_file.h"
#include "converters/commands.h"
#include "converters/connect.h"
#include "converters/settings_commands.h"
#include "converters/tree_selection.h"
#include "converters/work_folders.h"
#include "db_tree_widget.h"
#include "driver_check_dialog.h"
#include "hint_box.h"
#include "icons.h"
#include "log_view.h"
#include "plan_runner.h"
#include "review_dialog.h"
#include "settings_dialog.h"
#include "task_viewer.h"

namespace tabulon::gui {

// The core's listeners run on any thread and may outlive the window by a moment: they reach it
// only through this bridge, which the window disconnects when it goes.
struct MainDialog::Bridge {
  std::mutex mutex;
  MainDialog* window = nullptr;

  // Queues `call` on the window's thread, unless the window is gone.
  template <typename Call>
  void Post(Call call) {
    std::lock_guard guard(mutex);
    if (window == nullptr) return;
    QMetaObject::invokeMethod(window, std::move(call), Qt::QueuedConnection);
  }
};

namespace {

constexpr const char* kStartHint =
    "Before you fill out connection properties, Please confirm that your ODBC/OLEDB config is true !";
constexpr const char* kCloseQuestion = "Some Tasks is Processing, STOP ALL and EXIT?";
constexpr const char* kNewDatabaseMessage =
    "Can only create database in TARGET!!!\nPlease Select Target ROOT to create new database!";
constexpr int kClosePollMs = 100;
constexpr const char* kReviewWaits =
    "Tasks are running: a migration can be reviewed once the tasks in the task list have run.";
constexpr const char* kNothingToReview =
    "The source selection migrates nothing: select a database, its Tables or Views folder, a table or a view.";

QString ToQt(const std::string& text) { return QString::fromStdString(text); }

bool SameRequest(const converters::MigrationRequest& a, const converters::MigrationRequest& b) {
  return a.operation == b.operation && a.source_database == b.source_database && a.source_object == b.source_object &&
         a.target_database == b.target_database;
}

}  // namespace

MainDialog::MainDialog(converters::Workbench& owner, MainDialogOptions options, QWidget* parent)
    : QMainWindow(parent),
      owner_(owner),
      options_(std::move(options)),
      bridge_(std::make_shared<Bridge>()),
      plan_runner_(std::make_unique<PlanRunner>(owner, this)) {
  LoadGuiResources();
  bridge_->window = this;
  setObjectName("MainDialog");
  setWindowTitle(kProductTitle);
  setWindowIcon(ApplicationIcon());
  BuildMenus();
  BuildToolbar();
  BuildCentre();
  BuildStatusBar();

  // Start-up: the condition file exists from now on; the hint; tips as the settings say.
  (void)config::EnsureConditionFile(owner_.condition_file_path);
  ShowHintText(kStartHint);
  ShowTipsTab(!options_.settings_path.empty() && config::LoadSettings(options_.settings_path).tips);
  output_tabs_->setCurrentIndex(kTaskListTab);
  ConnectCore();

  timer_ = new QTimer(this);
  timer_->setInterval(1000);
  connect(timer_, &QTimer::timeout, this, &MainDialog::OnTimer);
  timer_->start();

  // Enter and Escape decide how an in-place rename ends, wherever the key lands.
  qApp->installEventFilter(this);
  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  help->setContext(Qt::ApplicationShortcut);
  connect(help, &QShortcut::activated, this, [this] { OpenManual(); });

  if (options_.driver_check_at_start) {
    QTimer::singleShot(0, this, [this] { RunCommand(kCmdDriverCheck); });
  }
  resize(960, 720);
}

MainDialog::~MainDialog() {
  qApp->removeEventFilter(this);
  {
    std::lock_guard guard(bridge_->mutex);
    bridge_->window = nullptr;
  }
  owner_.output().SetListener(nullptr);
  owner_.SetDisplayListener(nullptr);
  owner_.SetRefreshTasksListener(nullptr);
  owner_.SetHintListener(nullptr);
}

QAction* MainDialog::AddCommand(QMenu* menu, int id, const QString& text) {
  QAction* item = menu->addAction(text);
  item->setData(id);
  item->setObjectName(CommandObjectName(id));
  connect(item, &QAction::triggered, this, [this, id] { RunCommand(id); });
  actions_[id] = item;
  return item;
}

void MainDialog::BuildMenus() {
  QMenuBar* bar = menuBar();
  QMenu* connect_menu = bar->addMenu("&Connect");
  AddCommand(connect_menu, kCmdConfig, "&Config")->setIcon(ToolbarIcon(0));
  AddCommand(connect_menu, kCmdConnect, "Co&nnect")->setIcon(ToolbarIcon(1));
  AddCommand(connect_menu, kCmdDriverCheck, "Driver Check")->setStatusTip("ODBC Driver/OLEDB Provider Check");
  connect_menu->addSeparator();
  AddCommand(connect_menu, kCmdExit, "E&xit");

  QMenu* operation = bar->addMenu("&Operation");
  AddCommand(operation, kCmdMigrate, "Migrate")->setIcon(ToolbarIcon(2));
  AddCommand(operation, kCmdReviewMigration, "Review Migration...")
      ->setStatusTip("What the selected migration will do, and the size of the file");
  AddCommand(operation, kCmdDeleteSelected, "Delete Selected")->setIcon(ToolbarIcon(3));
  AddCommand(operation, kCmdBackup, "&Backup")->setIcon(ToolbarIcon(4));
  operation->addSeparator();
  AddCommand(operation, kCmdRestore, "&Restore Backup...");

  // "Change Charset" and "Change Storage Engine(MyISAM)" are never offered.
  databases_menu_ = bar->addMenu("D&atabases");
  AddCommand(databases_menu_, kCmdNewDatabase, "New Database")->setEnabled(false);

  database_menu_ = bar->addMenu("&Database");
  AddCommand(database_menu_, kCmdDeleteDatabase, "Delete Database")->setStatusTip("Delete The selected DB");
  AddCommand(database_menu_, kCmdClearAllTables, "Clear all tables");
  AddCommand(database_menu_, kCmdClearAllData, "Clear all Data");
  for (QAction* item : database_menu_->actions()) item->setEnabled(false);

  table_menu_ = bar->addMenu("&Table");
  AddCommand(table_menu_, kCmdMigrationCondition, "Migration Condition");
  AddCommand(table_menu_, kCmdDropTable, "Drop Table");
  AddCommand(table_menu_, kCmdDropView, "Drop View");
  AddCommand(table_menu_, kCmdRenameTable, "Rename Table");
  for (QAction* item : table_menu_->actions()) item->setEnabled(false);

  QMenu* help = bar->addMenu("&Help");
  AddCommand(help, kCmdManual, "&Manual")->setShortcut(QKeySequence(Qt::Key_F1));
  actions_[kCmdManual]->setShortcutContext(Qt::WidgetShortcut);  // F1 has its own shortcut

  QMenu* about = bar->addMenu("&About");
  AddCommand(about, kCmdAbout, "&About Tabulon...");
  AddCommand(about, kCmdWebPage, "Tabulon &Home Page");
}

void MainDialog::BuildToolbar() {
  mini_toolbar_ = addToolBar("    ");
  mini_toolbar_->setObjectName("MiniToolbar");
  mini_toolbar_->setMovable(false);
  mini_toolbar_->setIconSize(QSize(24, 24));
  mini_toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  struct Button {
    int id;
    const char* caption;
    const char* tooltip;
  };
  const Button buttons[] = {
      {kCmdConfigureButton, "Configure", "Database Connections Config"},
      {kCmdConnectButton, "Connect", "Connect the DataSources"},
      {kCmdMigrateButton, "Migrate", "Convert from source into target"},
      {kCmdDeleteButton, "Delete", "Delete the selected object"},
      {kCmdBackupButton, "Backup", "Backup the selected object"},
      {kCmdAboutButton, "About", "About"},
  };
  int image = 0;
  for (const Button& button : buttons) {
    QAction* item = mini_toolbar_->addAction(ToolbarIcon(image++), button.caption);
    item->setToolTip(button.tooltip);
    item->setData(button.id);
    item->setObjectName(CommandObjectName(button.id));
    const int id = button.id;
    connect(item, &QAction::triggered, this, [this, id] { RunCommand(id); });
    actions_[id] = item;
  }
}

void MainDialog::BuildCentre() {
  auto* centre = new QSplitter(Qt::Vertical, this);
  centre->setObjectName("CentreSplitter");

  auto* trees = new QSplitter(Qt::Horizontal, centre);
  trees->setObjectName("TreeSplitter");
  const char* default_captions[2] = {"MSSQL", "Access"};
  for (int side = 0; side < 2; ++side) {
    auto* folder = new QWidget(trees);
    auto* layout = new QVBoxLayout(folder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    captions_[side] = new QLabel(default_captions[side], folder);
    captions_[side]->setObjectName(side == 0 ? "SourceCaption" : "TargetCaption");
    captions_[side]->setStyleSheet(
        "QLabel { background: #2D3E50; color: white; padding: 3px 6px; font-weight: bold; }");
    layout->addWidget(captions_[side]);
    auto* tree =
        new DbTreeWidget(owner_, side == 0 ? target_access::Side::kSource : target_access::Side::kTarget, folder);
    tree->setObjectName(side == 0 ? "SourceTree" : "TargetTree");
    layout->addWidget(tree);
    (side == 0 ? source_tree_ : target_tree_) = tree;
    connect(tree, &DbTreeWidget::selectionKindChanged, this, &MainDialog::ApplySelection);
    connect(tree, &DbTreeWidget::migrateRequested, this, [this] { RunCommand(kCmdMigrateButton); });
  }
  trees->setSizes({1, 1});

  output_tabs_ = new QTabWidget(centre);
  output_tabs_->setObjectName("OutputTabs");
  log_ = new LogView(output_tabs_);
  log_->setObjectName("Log");
  output_tabs_->addTab(log_, "Log");
  task_viewer_ = new TaskViewer(owner_, output_tabs_);
  task_viewer_->setObjectName("TasksViewer");
  output_tabs_->addTab(task_viewer_, "Task List");
  hint_box_ = new HintBox(output_tabs_);
  hint_box_->hide();
  connect(task_viewer_, &TaskViewer::tickRequested, this, &MainDialog::OnTimer);
  // A tab brought forward shows its rows within the next tick.
  connect(output_tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (index == kTaskListTab) task_viewer_->Tick(true);
  });

  centre->addWidget(trees);
  centre->addWidget(output_tabs_);
  centre->setStretchFactor(0, 3);
  centre->setStretchFactor(1, 2);
  setCentralWidget(centre);
}

void MainDialog::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  const char* texts[3] = {"Tabulon", "", ""};
  for (int pane = 0; pane < 3; ++pane) {
    status_panes_[pane] = new QLabel(texts[pane], bar);
    status_panes_[pane]->setObjectName(QStringLiteral("StatusPane%1").arg(pane));
  }
  bar->addWidget(status_panes_[0], 5);
  bar->addWidget(status_panes_[1], 2);
  bar->addPermanentWidget(status_panes_[2]);
  status_panes_[1]->setText(ToQt(owner_.display().status_text));
  status_panes_[2]->setText(QTime::currentTime().toString("HH:mm:ss"));
}

void MainDialog::ConnectCore() {
  std::shared_ptr<Bridge> bridge = bridge_;
  owner_.output().SetListener([this, bridge](const workspace::OutputLine& line) {
    std::lock_guard guard(bridge->mutex);
    if (bridge->window != nullptr) log_->Post(line);
  });
  for (const workspace::OutputLine& line : owner_.output().Lines()) log_->Post(line);
  owner_.SetDisplayListener([bridge](const converters::ControllerDisplay& display) {
    bridge->Post([bridge, display] {
      MainDialog* window = bridge->window;
      if (window == nullptr) return;
      window->status_panes_[1]->setText(ToQt(display.status_text));
      window->task_viewer_->ShowControllerDisplay(display);
    });
  });
  task_viewer_->ShowControllerDisplay(owner_.display());
  owner_.SetRefreshTasksListener([bridge] {
    bridge->Post([bridge] {
      if (bridge->window != nullptr) bridge->window->task_viewer_->ForceRebuild();
    });
  });
  owner_.SetHintListener([bridge](const std::string& hint) {
    bridge->Post([bridge, hint] {
      if (bridge->window != nullptr) bridge->window->ShowHintText(ToQt(hint));
    });
  });
}

QAction* MainDialog::action(int id) const {
  const auto found = actions_.find(id);
  return found == actions_.end() ? nullptr : found->second;
}

QMenu* MainDialog::popup(const QString& title) const {
  for (QAction* item : menuBar()->actions()) {
    if (item->menu() != nullptr && item->text() == title) return item->menu();
  }
  return nullptr;
}

void MainDialog::ShowTipsTab(bool on) {
  const int index = output_tabs_->indexOf(hint_box_);
  if (on && index < 0) {
    output_tabs_->addTab(hint_box_, "Tips");
  } else if (!on && index >= 0) {
    output_tabs_->removeTab(index);
    hint_box_->hide();
  }
}

void MainDialog::ShowHintText(const QString& hint) {
  hint_box_->ShowHint(hint);
  const int index = output_tabs_->indexOf(hint_box_);
  if (index >= 0) output_tabs_->setCurrentIndex(index);
}

void MainDialog::OnTimer() {
  status_panes_[2]->setText(QTime::currentTime().toString("HH:mm:ss"));
  task_viewer_->Tick(output_tabs_->currentIndex() == kTaskListTab);
  source_tree_->SyncFromModel();
  target_tree_->SyncFromModel();
  // The folder captions follow the connected DBMS; a task may be changing them: try only.
  std::unique_lock trees(owner_.tree_lock(), std::try_to_lock);
  if (trees.owns_lock()) {
    if (!owner_.source_dbms.empty()) captions_[0]->setText(ToQt(owner_.source_dbms));
    if (!owner_.target_dbms.empty()) captions_[1]->setText(ToQt(owner_.target_dbms));
  }
}

void MainDialog::ApplySelection(int side, int kind) {
  const bool target = side == static_cast<int>(target_access::Side::kTarget);
  databases_menu_->menuAction()->setVisible(false);
  database_menu_->menuAction()->setVisible(false);
  table_menu_->menuAction()->setVisible(false);
  switch (static_cast<workspace::TreeNodeKind>(kind)) {
    case workspace::TreeNodeKind::kRoot:
      databases_menu_->menuAction()->setVisible(true);
      actions_[kCmdNewDatabase]->setEnabled(target);
      break;
    case workspace::TreeNodeKind::kDatabase:
      database_menu_->menuAction()->setVisible(true);
      for (int id : {kCmdDeleteDatabase, kCmdClearAllTables, kCmdClearAllData}) actions_[id]->setEnabled(target);
      break;
    case workspace::TreeNodeKind::kTable:
      table_menu_->menuAction()->setVisible(true);
      actions_[kCmdMigrationCondition]->setEnabled(!target);
      actions_[kCmdDropTable]->setEnabled(target);
      actions_[kCmdRenameTable]->setEnabled(target);
      actions_[kCmdDropView]->setEnabled(false);
      break;
    case workspace::TreeNodeKind::kView:
      table_menu_->menuAction()->setVisible(true);
      actions_[kCmdMigrationCondition]->setEnabled(!target);
      actions_[kCmdDropTable]->setEnabled(false);
      actions_[kCmdRenameTable]->setEnabled(false);
      actions_[kCmdDropView]->setEnabled(target);
      break;
    default: break;
  }
}

void MainDialog::RunWithTreeLock(int id, const std::function<void()>& command) {
  std::unique_lock trees(owner_.tree_lock(), std::try_to_lock);
  if (!trees.owns_lock()) {
    // A task is rebuilding a tree (or asking the user something): never wait for it here.
    QTimer::singleShot(100, this, [this, id] { RunCommand(id); });
    return;
  }
  command();
}

int MainDialog::RunDialog(QDialog& dialog) {
  if (options_.run_dialog) return options_.run_dialog(dialog);
  return dialog.exec();
}

void MainDialog::OpenUrl(const QUrl& url) {
  if (options_.open_url) {
    options_.open_url(url);
  } else {
    QDesktopServices::openUrl(url);
  }
}

void MainDialog::WhenTreesFree(std::function<void()> command) {
  std::unique_lock trees(owner_.tree_lock(), std::try_to_lock);
  if (!trees.owns_lock()) {
    QTimer::singleShot(100, this, [this, command = std::move(command)] { WhenTreesFree(command); });
    return;
  }
  command();
}

void MainDialog::RunCommand(int id) {
  if (plan_runner_->running()) {
    // A plan borrows the source connection: every command waits until it has ended.
    QTimer::singleShot(100, this, [this, id] { RunCommand(id); });
    return;
  }
  switch (id) {
    case kCmdConfig:
    case kCmdConfigureButton: OpenSettings(); break;
    case kCmdConnect:
    case kCmdConnectButton: RunWithTreeLock(id, [this] { converters::ConnectCommand(owner_); }); break;
    case kCmdDriverCheck: OpenDriverCheck(); break;
    case kCmdExit:
      exit_without_question_ = true;
      close();
      return;
    case kCmdMigrate:
    case kCmdMigrateButton: Migrate(id); break;
    case kCmdReviewMigration: ReviewMigration(); break;
    case kCmdDeleteSelected:
    case kCmdDeleteButton: RunWithTreeLock(id, [this] { converters::DeleteCommand(owner_); }); break;
    case kCmdBackup:
    case kCmdBackupButton: RunWithTreeLock(id, [this] { converters::BackupCommand(owner_); }); break;
    case kCmdRestore: converters::RestoreCommand(owner_); break;
    case kCmdNewDatabase: NewDatabaseCheck(); break;
    case kCmdDeleteDatabase:
    case kCmdClearAllTables:
    case kCmdClearAllData:
    case kCmdDropTable:
    case kCmdDropView:
    case kCmdRenameTable: target_tree_->RunCommand(id); break;
    case kCmdMigrationCondition: source_tree_->RunCommand(id); break;
    case kCmdManual: OpenManual(); break;
    case kCmdAbout:
    case kCmdAboutButton: OpenAbout(); break;
    case kCmdWebPage: OpenProductPage(); break;
    default: return;
  }
  source_tree_->SyncFromModel(true);
  target_tree_->SyncFromModel(true);
}

void MainDialog::Migrate(int id) {
  std::optional<converters::SelectedMigration> selected;
  RunWithTreeLock(id, [this, &selected] {
    selected = converters::ReadSelectedMigration(owner_);
    // A refusal, or a selection that migrates nothing: as the core's command answers it.
    if (!selected->request) converters::MigrateCommand(owner_);
  });
  if (!selected || !selected->request) return;
  // Tasks running: no plan (the line says so), the migration queues behind them as before.
  if (plan_runner_->CheckBeforeMigrate(*selected) != PlanRunner::Gate::kGoOn) return;
  const converters::MigrationRequest checked = *selected->request;
  WhenTreesFree([this, id, checked] {
    const converters::SelectedMigration now = converters::ReadSelectedMigration(owner_);
    if (!now.request || !SameRequest(*now.request, checked)) {
      // The selection moved meanwhile: check what it asks for now, once the trees are let go (the
      // plan's thread takes them).
      QTimer::singleShot(0, this, [this, id] { RunCommand(id); });
      return;
    }
    converters::MigrateCommand(owner_);  // its question, then the task
  });
}

void MainDialog::ReviewMigration() {
  std::optional<converters::SelectedMigration> selected;
  RunWithTreeLock(kCmdReviewMigration,
                  [this, &selected] { selected = converters::ReadSelectedMigration(owner_); });
  if (!selected) return;
  if (!selected->refusal.empty()) {
    owner_.ShowHint(selected->hint);
    owner_.prompt().ShowMessage(selected->refusal);
    return;
  }
  if (!selected->request) {
    owner_.prompt().ShowMessage(kNothingToReview);
    return;
  }
  if (owner_.controller_state() != converters::ControllerState::kIdle) {
    owner_.prompt().ShowMessage(kReviewWaits);
    return;
  }
  const PlanRunner::Outcome outcome = plan_runner_->Run(*selected, "Reviewing the migration...");
  if (outcome.cancelled) return;
  if (!outcome.plan) {
    std::string text = outcome.error;
    if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    owner_.prompt().ShowMessage(text, "Review Migration");
    return;
  }
  QString what = ToQt(selected->question);
  if (what.endsWith('?')) what.chop(1);
  ReviewMigrationDialog dialog(*outcome.plan, what, this);
  if (RunDialog(dialog) != QDialog::Accepted || !dialog.migrate_button()->isEnabled()) return;
  QueueReviewed(*selected->request);
}

void MainDialog::QueueReviewed(const converters::MigrationRequest& request) {
  // Exactly what was reviewed, with no further question; the work folder as Migrate enters it.
  WhenTreesFree([this, request] {
    converters::EnterWorkFolder(owner_.work_directory, owner_.data_folder(), "./data_cache");
    converters::QueueMigration(owner_, request);
  });
}

void MainDialog::NewDatabaseCheck() {
  std::unique_lock trees(owner_.tree_lock(), std::try_to_lock);
  if (!trees.owns_lock()) {
    QTimer::singleShot(100, this, [this] { RunCommand(kCmdNewDatabase); });
    return;
  }
  const workspace::DbTreeView& tree = owner_.target_tree();
  const bool root_selected = tree.selected != workspace::kNoItem && tree.selected == tree.root_item;
  if (!root_selected) {
    owner_.prompt().ShowMessage(kNewDatabaseMessage);
    return;
  }
  target_tree_->RunCommand(kCmdNewDatabase);
}

void MainDialog::OpenSettings() {
  ConnectionSettingsDialog::Hooks hooks;
  hooks.show_tips = [this](bool on) { ShowTipsTab(on); };
  hooks.connect = [this] {
    QTimer::singleShot(0, this, [this] { RunCommand(kCmdConnectButton); });
    output_tabs_->setCurrentIndex(kTaskListTab);
  };
  ConnectionSettingsDialog dialog(owner_, options_.settings_path, std::move(hooks), this);
  RunDialog(dialog);
}

void MainDialog::OpenDriverCheck() {
  DriverCheckDialog dialog(converters::RunDriverCheck(), this);
  if (RunDialog(dialog) == DriverCheckDialog::kOpenConfig) {
    QTimer::singleShot(0, this, [this] { RunCommand(kCmdConfigureButton); });
  }
}

void MainDialog::OpenAbout() {
  AboutDialog dialog(this);
  connect(&dialog, &AboutDialog::helpRequested, this, [this] { OpenManual(); });
  RunDialog(dialog);
}

void MainDialog::OpenManual() { OpenUrl(QUrl::fromLocalFile(ManualPath())); }

void MainDialog::OpenProductPage() {
  // The program's page is the "About Tabulon" chapter of its manual.
  QUrl page = QUrl::fromLocalFile(ManualPath());
  page.setFragment("about");
  OpenUrl(page);
}

void MainDialog::closeEvent(QCloseEvent* event) {
  const converters::ControllerState state = owner_.controller_state();
  if (exit_without_question_ || state == converters::ControllerState::kIdle ||
      (close_confirmed_ && !closing_ && state != converters::ControllerState::kRunning)) {
    timer_->stop();
    event->accept();
    return;
  }
  event->ignore();
  if (closing_) return;  // already waiting for the stopped tasks
  if (state == converters::ControllerState::kRunning) {
    if (!owner_.prompt().AskOkCancel(kCloseQuestion)) return;
    owner_.RequestStop();
  }
  // The tasks stop at their next check; the window stays responsive meanwhile and closes once
  // the controller is idle, or after the wait (the core then ends the stopped task on its way out).
  closing_ = true;
  close_confirmed_ = true;
  close_waited_ms_ = 0;
  status_panes_[1]->setText("Stopping the tasks...");
  QTimer::singleShot(kClosePollMs, this, &MainDialog::FinishClosing);
}

void MainDialog::FinishClosing() {
  close_waited_ms_ += kClosePollMs;
  const converters::ControllerState state = owner_.controller_state();
  if (state == converters::ControllerState::kRunning) {
    // Started again meanwhile: ask once more.
    closing_ = false;
    close_confirmed_ = false;
    close();
    return;
  }
  if (state == converters::ControllerState::kIdle || close_waited_ms_ >= options_.close_wait_ms) {
    closing_ = false;
    close();
    return;
  }
  QTimer::singleShot(kClosePollMs, this, &MainDialog::FinishClosing);
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      target_tree_->SetCommitRename(true);
    } else if (key == Qt::Key_Escape) {
      target_tree_->SetCommitRename(false);
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainDialog::mousePressEvent(QMouseEvent* event) {
  // A press on a free spot of the window moves it.
  if (event->button() == Qt::LeftButton && windowHandle() != nullptr) {
    windowHandle()->startSystemMove();
    event->accept();
    return;
  }
  QMainWindow::mousePressEvent(event);
}

}  // namespace tabulon::gui
