// The main window over a real Workbench: its menus and toolbar, where each
// command lands, the popups the tree selections offer, the hint and tips, the
// status panes, and closing while a task runs. Dialogs are answered through the
// window's dialog hook, questions through the Workbench's scripted prompt.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "about_dialog.h"
#include "command_ids.h"
#include "config/settings_file.h"
#include "converters/settings_commands.h"
#include "converters/workbench.h"
#include "workspace/user_prompt.h"
#include "db_tree_widget.h"
#include "driver_check_dialog.h"
#include "gui_test_support.h"
#include "hint_box.h"
#include "main_dialog.h"
#include "settings_dialog.h"
#include "target_access/access_files.h"

using namespace tabulon;
using gui::MainDialog;

namespace {

// Flows whose table migration runs until a stop is asked for (or a second
// passes, so a broken stop cannot hang the test).
class WaitingFlows : public converters::TaskFlows {
 public:
  std::atomic<bool> started{false};

  bool CreateTargetDatabase(converters::TaskRunContext&, const std::string&) override { return true; }
  void ReconnectTarget(converters::TaskRunContext&, const std::string&) override {}
  bool SelectSourceDatabase(converters::TaskRunContext&, const std::string&) override { return true; }
  bool UseSourceDatabase(converters::TaskRunContext&, const std::string&) override { return true; }
  void RefreshTargetTree(converters::TaskRunContext&) override {}
  bool MigrateAllTables(converters::TaskRunContext& run) override {
    started = true;
    for (int i = 0; i < 10000 && !run.StopRequested(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
  }
  bool MigrateOneTable(converters::TaskRunContext&) override { return true; }
  bool MigrateAllViews(converters::TaskRunContext&) override { return true; }
  bool MigrateOneView(converters::TaskRunContext&) override { return true; }
  bool MigrateRelationships(converters::TaskRunContext&) override { return true; }
  bool BackupAllTables(converters::TaskRunContext&) override { return true; }
  bool BackupAllViews(converters::TaskRunContext&) override { return true; }
  bool BackupOneTable(converters::TaskRunContext&) override { return true; }
  bool BackupOneView(converters::TaskRunContext&) override { return true; }
  bool RestoreBackup(converters::TaskRunContext&) override { return true; }
};

// A Workbench in a scratch folder with its window; dialogs are recorded and
// rejected unless a test says otherwise.
struct Fixture {
  QTemporaryDir folder;
  workspace::ScriptedUserPrompt prompt;
  std::unique_ptr<converters::Workbench> owner;
  std::unique_ptr<MainDialog> window;
  std::vector<QString> dialogs;  // class names of the dialogs the window ran
  std::vector<QUrl> urls;
  std::function<int(QDialog&)> answer = [](QDialog&) { return static_cast<int>(QDialog::Rejected); };

  explicit Fixture(bool waiting_flows = false) {
    converters::WorkbenchOptions options;
    options.program_folder = folder.path().toStdString();
    options.pause = [] {};
    owner = std::make_unique<converters::Workbench>(prompt, options);
    if (waiting_flows) owner->SetFlows(std::make_unique<WaitingFlows>());
    gui::MainDialogOptions window_options;
    window_options.settings_path = SettingsPath();
    window_options.driver_check_at_start = false;
    window_options.close_wait_ms = 2000;
    window_options.open_url = [this](const QUrl& url) { urls.push_back(url); };
    window_options.run_dialog = [this](QDialog& dialog) {
      dialogs.push_back(dialog.metaObject()->className());
      return answer(dialog);
    };
    window = std::make_unique<MainDialog>(*owner, window_options);
  }
  ~Fixture() {
    window.reset();
    owner.reset();
  }

  std::string SettingsPath() const { return folder.path().toStdString() + "/tabulon.cfg"; }

  // Connects the sample database as the source and a new .mdb as the target.
  bool ConnectSample() {
    const std::string sample = TABULON_BINARY_DIR "/examples/sample.sqlite";
    config::Settings settings;
    settings.source = {"SQLite", sample, "", "", ""};
    settings.target = {"Microsoft Jet 4.0 OLE DB Provider", folder.path().toStdString() + "/Target.mdb", "", "", ""};
    if (!converters::UseConnectSettings(*owner, settings, SettingsPath()).ok()) return false;
    if (!target_access::CreateAccessDatabaseAt(owner->target_context(), settings.target.source_name)) return false;
    window->RunCommand(gui::kCmdConnectButton);
    return owner->source().session != nullptr && owner->target().session != nullptr;
  }
};

QStringList ActionTexts(const QMenu* menu) {
  QStringList texts;
  for (const QAction* item : menu->actions()) {
    if (!item->isSeparator()) texts << item->text();
  }
  return texts;
}

bool Visible(const MainDialog& window, const char* title) {
  const QMenu* menu = window.popup(title);
  return menu != nullptr && menu->menuAction()->isVisible();
}

}  // namespace

class MainDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void MenusToolbarAndTitle() {
    Fixture f;
    MainDialog& w = *f.window;
    QCOMPARE(w.windowTitle(), QString("Tabulon Version: 1.0"));
    QStringList titles;
    for (const QAction* item : w.menuBar()->actions()) titles << item->text();
    QCOMPARE(titles, QStringList({"&Connect", "&Operation", "D&atabases", "&Database", "&Table", "&Help", "&About"}));
    QCOMPARE(ActionTexts(w.popup("&Connect")), QStringList({"&Config", "Co&nnect", "Driver Check", "E&xit"}));
    QCOMPARE(ActionTexts(w.popup("D&atabases")), QStringList({"New Database"}));  // no charset, no storage engine
    QCOMPARE(ActionTexts(w.popup("&Database")), QStringList({"Delete Database", "Clear all tables", "Clear all Data"}));
    QCOMPARE(ActionTexts(w.popup("&Table")),
             QStringList({"Migration Condition", "Drop Table", "Drop View", "Rename Table"}));
    QCOMPARE(ActionTexts(w.popup("&Help")), QStringList({"&Manual"}));
    // Every id reaches its action; the object popups start grayed.
    for (int id : {32777, 32780, 32793, 2, 32778, 32779, 32782, 32775, 32772, 32773, 32790, 32776, 32787, 32788, 32789,
                   32783, 0x10}) {
      QVERIFY2(w.action(id) != nullptr, qPrintable(QString::number(id)));
      QCOMPARE(w.action(id)->data().toInt(), id);
    }
    for (int id : {32775, 32772, 32773, 32790, 32776, 32787, 32788, 32789}) QVERIFY(!w.action(id)->isEnabled());
    QVERIFY(w.action(gui::kCmdChangeCharset) == nullptr);
    QVERIFY(w.action(gui::kCmdStorageEngine) == nullptr);

    QStringList captions, tooltips;
    QList<int> ids;
    for (const QAction* item : w.mini_toolbar()->actions()) {
      captions << item->text();
      tooltips << item->toolTip();
      ids << item->data().toInt();
      QVERIFY(!item->icon().isNull());
    }
    QCOMPARE(captions, QStringList({"Configure", "Connect", "Migrate", "Delete", "Backup", "About"}));
    QCOMPARE(tooltips,
             QStringList({"Database Connections Config", "Connect the DataSources", "Convert from source into target",
                          "Delete the selected object", "Backup the selected object", "About"}));
    QCOMPARE(ids, QList<int>({1026, 1028, 1035, 1030, 1034, 1032}));

    // Output tabs: Log and Task List, the task list in front; the status panes.
    QCOMPARE(w.output_tabs()->count(), 2);
    QCOMPARE(w.output_tabs()->tabText(0), QString("Log"));
    QCOMPARE(w.output_tabs()->tabText(1), QString("Task List"));
    QCOMPARE(w.output_tabs()->currentIndex(), gui::kTaskListTab);
    QCOMPARE(w.status_pane(0)->text(), QString("Tabulon"));
    QCOMPARE(w.status_pane(1)->text(), QString("Main Controller:IDLE"));
    QVERIFY(QTime::fromString(w.status_pane(2)->text(), "HH:mm:ss").isValid());
    QCOMPARE(w.folder_caption(0)->text(), QString("MSSQL"));
    QCOMPARE(w.folder_caption(1)->text(), QString("Access"));
    // The condition file exists from the start.
    QVERIFY(QFile::exists(f.folder.filePath("Condition.cfg")));
  }

  void CommandsReachTheirOperations() {
    Fixture f;
    MainDialog& w = *f.window;
    // Dialogs: the settings, the driver check, the about box; "Open Config"
    // leads on to the settings.
    w.RunCommand(gui::kCmdConfigureButton);
    w.RunCommand(gui::kCmdDriverCheck);
    w.RunCommand(gui::kCmdAboutButton);
    w.RunCommand(gui::kCmdAbout);
    QCOMPARE(f.dialogs,
             std::vector<QString>({"tabulon::gui::ConnectionSettingsDialog", "tabulon::gui::DriverCheckDialog",
                                   "tabulon::gui::AboutDialog", "tabulon::gui::AboutDialog"}));
    f.dialogs.clear();
    f.answer = [](QDialog& dialog) {
      return qobject_cast<gui::DriverCheckDialog*>(&dialog) != nullptr ? gui::DriverCheckDialog::kOpenConfig : 0;
    };
    w.RunCommand(gui::kCmdDriverCheck);
    QTRY_COMPARE(f.dialogs.size(), size_t{2});
    QCOMPARE(f.dialogs[1], QString("tabulon::gui::ConnectionSettingsDialog"));

    // The manual, by menu and by F1, and the home page.
    w.RunCommand(gui::kCmdManual);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::keyClick(&w, Qt::Key_F1);
    w.RunCommand(gui::kCmdWebPage);
    QCOMPARE(f.urls.size(), size_t{3});
    QVERIFY(f.urls[0].toLocalFile().endsWith("index.html"));
    QVERIFY(QFile::exists(f.urls[0].toLocalFile()));
    QCOMPARE(f.urls[1], f.urls[0]);
    QCOMPARE(f.urls[2].fragment(), QString("about"));

    // The core's commands with nothing selected answer with their messages.
    w.RunCommand(gui::kCmdNewDatabase);
    w.RunCommand(gui::kCmdMigrateButton);
    w.RunCommand(gui::kCmdDeleteButton);
    w.RunCommand(gui::kCmdBackupButton);
    const std::vector<std::string> texts = f.prompt.texts();
    QVERIFY(texts.size() >= 4);
    QCOMPARE(QString::fromStdString(texts[0]), QString("Can only create database in TARGET!!!\nPlease Select "
                                                       "Target ROOT to create new database!"));
    QVERIFY(f.owner->tasks().Size() == 0);

    // Exit closes at once when nothing runs: no question.
    const std::size_t asked = f.prompt.texts().size();
    w.RunCommand(gui::kCmdExit);
    QVERIFY(!w.isVisible());
    QCOMPARE(f.prompt.texts().size(), asked);
  }

  void ConnectFillsTreesAndSelectionsChooseThePopups() {
    Fixture f;
    MainDialog& w = *f.window;
    QVERIFY(f.ConnectSample());
    w.OnTimer();
    QVERIFY(w.source_tree()->topLevelItemCount() == 1);
    QVERIFY(w.target_tree()->topLevelItemCount() == 1);
    QVERIFY(w.folder_caption(0)->text().startsWith("SQLite"));

    struct Case {
      gui::DbTreeWidget* tree;
      workspace::DbTreeView* model;
      workspace::TreeNodeKind kind;
      const char* popup;  // null: none of the three
      std::vector<int> enabled;
      std::vector<int> grayed;
    };
    QVERIFY(f.owner->source_tree().tables_folder != workspace::kNoItem);
    const std::vector<Case> cases = {
        {w.source_tree(), &f.owner->source_tree(), workspace::TreeNodeKind::kRoot, "D&atabases", {}, {32775}},
        {w.target_tree(), &f.owner->target_tree(), workspace::TreeNodeKind::kRoot, "D&atabases", {32775}, {}},
        {w.source_tree(),
         &f.owner->source_tree(),
         workspace::TreeNodeKind::kDatabase,
         "&Database",
         {},
         {32772, 32773, 32790}},
        {w.target_tree(),
         &f.owner->target_tree(),
         workspace::TreeNodeKind::kDatabase,
         "&Database",
         {32772, 32773, 32790},
         {}},
        {w.source_tree(),
         &f.owner->source_tree(),
         workspace::TreeNodeKind::kTable,
         "&Table",
         {32776},
         {32787, 32788, 32789}},
        {w.source_tree(),
         &f.owner->source_tree(),
         workspace::TreeNodeKind::kView,
         "&Table",
         {32776},
         {32787, 32788, 32789}},
        {w.source_tree(), &f.owner->source_tree(), workspace::TreeNodeKind::kTablesFolder, nullptr, {}, {}},
        {w.source_tree(), &f.owner->source_tree(), workspace::TreeNodeKind::kViewsFolder, nullptr, {}, {}},
    };
    for (const Case& c : cases) {
      const int item = gui::testing::FindItem(*c.model, c.kind);
      QVERIFY2(item != workspace::kNoItem, qPrintable(QString::number(static_cast<int>(c.kind))));
      c.tree->SelectItem(item);
      QApplication::processEvents();
      for (const char* title : {"D&atabases", "&Database", "&Table"}) {
        const bool expected = c.popup != nullptr && std::string(c.popup) == title;
        QVERIFY2(Visible(w, title) == expected, title);
      }
      for (int id : c.enabled) QVERIFY2(w.action(id)->isEnabled(), qPrintable(QString::number(id)));
      for (int id : c.grayed) QVERIFY2(!w.action(id)->isEnabled(), qPrintable(QString::number(id)));
    }
    // Column, index and folder nodes hide all three popups; table nodes of the
    // target offer Drop and Rename only.
    w.ApplySelection(1, static_cast<int>(workspace::TreeNodeKind::kColumn));
    QVERIFY(!Visible(w, "D&atabases") && !Visible(w, "&Database") && !Visible(w, "&Table"));
    w.ApplySelection(1, static_cast<int>(workspace::TreeNodeKind::kTable));
    QVERIFY(w.action(32787)->isEnabled() && w.action(32789)->isEnabled());
    QVERIFY(!w.action(32776)->isEnabled() && !w.action(32788)->isEnabled());
    w.ApplySelection(1, static_cast<int>(workspace::TreeNodeKind::kView));
    QVERIFY(w.action(32788)->isEnabled() && !w.action(32787)->isEnabled() && !w.action(32789)->isEnabled());

    // New Database with a database selected is refused; with the target root it
    // asks for a file.
    w.target_tree()->SelectItem(gui::testing::FindItem(f.owner->target_tree(), workspace::TreeNodeKind::kDatabase));
    w.RunCommand(gui::kCmdNewDatabase);
    QVERIFY(f.prompt.texts().back().rfind("Can only create database in TARGET!!!", 0) == 0);
    w.target_tree()->SelectItem(f.owner->target_tree().root_item);
    f.prompt.AnswerText(std::nullopt);  // the file chooser is cancelled
    w.RunCommand(gui::kCmdNewDatabase);
    QCOMPARE(f.prompt.asked().back().kind, workspace::ScriptedUserPrompt::Kind::kFile);

    // A drop on the target tree runs Migrate: the question names the source
    // database.
    w.source_tree()->SelectItem(gui::testing::FindItem(f.owner->source_tree(), workspace::TreeNodeKind::kDatabase));
    w.target_tree()->SelectItem(f.owner->target_tree().root_item);
    f.prompt.AnswerYes(false);
    emit w.target_tree()->migrateRequested();
    QVERIFY(f.prompt.texts().back().find("Clone database [sample]") != std::string::npos);
    QCOMPARE(f.owner->tasks().Size(), size_t{0});
  }

  void HintsFromAnyThreadAndTheTipsTab() {
    Fixture f;
    MainDialog& w = *f.window;
    QCOMPARE(w.hint_box()->hint(), QString("Before you fill out connection properties, Please "
                                           "confirm that your ODBC/OLEDB config is true !"));
    w.ShowTipsTab(true);
    QCOMPARE(w.output_tabs()->count(), 3);
    QCOMPARE(w.output_tabs()->tabText(gui::kTipsTab), QString("Tips"));
    w.output_tabs()->setCurrentIndex(gui::kLogTab);
    std::thread task([&] { f.owner->ShowHint("Select Source Database"); });
    task.join();
    QTRY_COMPARE(w.hint_box()->hint(), QString("Select Source Database"));
    QCOMPARE(w.output_tabs()->currentIndex(), gui::kTipsTab);
    QVERIFY(w.hint_box()->toPlainText().startsWith("F1 to Help:\n"));
    w.ShowTipsTab(false);
    QCOMPARE(w.output_tabs()->count(), 2);
  }

  void TipsOptionOfTheSettingsFileAtStart() {
    QTemporaryDir folder;
    const std::string path = folder.path().toStdString() + "/tabulon.cfg";
    workspace::ScriptedUserPrompt prompt;
    config::Settings settings;
    settings.use_config_file = true;
    settings.tips = true;
    QVERIFY(config::SaveConfig(path, settings).ok());
    converters::WorkbenchOptions options;
    options.program_folder = folder.path().toStdString();
    converters::Workbench owner(prompt, options);
    gui::MainDialogOptions window_options;
    window_options.settings_path = path;
    window_options.driver_check_at_start = false;
    MainDialog w(owner, window_options);
    QCOMPARE(w.output_tabs()->count(), 3);
  }

  void CommandWaitsWhileATaskHoldsTheTrees() {
    Fixture f;
    MainDialog& w = *f.window;
    gui::testing::LockHolder task(f.owner->tree_lock());
    QElapsedTimer clock;
    clock.start();
    w.RunCommand(gui::kCmdMigrateButton);  // must not wait for the lock
    w.OnTimer();
    QVERIFY(clock.elapsed() < 500);
    QVERIFY(f.prompt.texts().empty());
    task.Release();
    // The command ran once the trees were free.
    QTRY_VERIFY(!f.prompt.texts().empty());
  }

  void ClosingWhileATaskRuns() {
    Fixture f(/*waiting_flows=*/true);
    MainDialog& w = *f.window;
    w.show();
    converters::TaskNames names;
    names.source_database = "s";
    names.target_database = "t";
    f.owner->QueueTask(converters::MakeTask(converters::kMigrateTables, names));
    f.owner->EnsureControllerRunning();
    auto* flows = dynamic_cast<WaitingFlows*>(f.owner->flows());
    QTRY_VERIFY(flows->started);

    // Cancel: the window and the task go on.
    f.prompt.AnswerYes(false);
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QCOMPARE(f.prompt.texts().back(), std::string("Some Tasks is Processing, STOP ALL and EXIT?"));
    QCOMPARE(f.owner->controller_state(), converters::ControllerState::kRunning);

    // OK: the task is asked to stop and the window closes once the controller
    // is idle.
    f.prompt.AnswerYes(true);
    w.close();
    QCOMPARE(f.owner->controller_state(), converters::ControllerState::kStopRequested);
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 5000);
    QCOMPARE(f.owner->controller_state(), converters::ControllerState::kIdle);
  }
};

QTEST_MAIN(MainDialogTest)
#include "main_main_dialog_test.moc"
