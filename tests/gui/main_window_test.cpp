// The main window over a real Workbench: each menu and toolbar command reaches its operation, a
// tree selection chooses the popups, a drag from the source tree onto the target tree queues a
// task, hints from a task thread reach the Tips tab, a command never waits for a tree a task
// holds, and closing while a task runs asks first; "Review Migration..." shows the plan and queues
// what it showed, and Migrate checks the size of the file first. Dialogs are answered through the
// window's dialog hook, questions through the Workbench's scripted prompt.
#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <memory>
#include <thread>

#include "command_ids.h"
#include "config/settings_file.h"
#include "converters/settings_commands.h"
#include "db_tree_widget.h"
#include "driver_check_dialog.h"
#include "gui_test_support.h"
#include "hint_box.h"
#include "main_dialog.h"
#include "plan_runner.h"
#include "review_dialog.h"
#include "target_access/access_files.h"

using namespace tabulon;
using gui::MainDialog;
using workspace::TreeNodeKind;

namespace {

// A Workbench in a scratch folder whose controller waits until the gate opens (before its first
// pass, so a queued task does not run, and in its pause), with its window; dialogs are recorded and
// rejected unless a test says otherwise.
struct Fixture {
  QTemporaryDir folder;
  workspace::ScriptedUserPrompt prompt;
  std::atomic<bool> gate_open{false};
  std::unique_ptr<converters::Workbench> owner;
  std::unique_ptr<MainDialog> window;
  QStringList events;  // the dialogs the window ran (class names) and the pages it opened
  std::function<int(QDialog&)> answer = [](QDialog&) { return static_cast<int>(QDialog::Rejected); };

  explicit Fixture(bool tips = false) {
    if (tips) gui::testing::WriteBytes(QString::fromStdString(SettingsPath()), "[Public]\nTips=true\n");
    converters::WorkbenchOptions options;
    options.program_folder = folder.path().toStdString();
    options.pause = [this] {
      while (!gate_open) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    options.sleep = [this, window_thread = std::this_thread::get_id()](std::chrono::milliseconds wait) {
      if (std::this_thread::get_id() == window_thread) return std::this_thread::sleep_for(wait);
      while (!gate_open) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    owner = std::make_unique<converters::Workbench>(prompt, options);
    gui::MainDialogOptions window_options;
    window_options.settings_path = SettingsPath();
    window_options.driver_check_at_start = false;
    window_options.close_wait_ms = 2000;
    window_options.open_url = [this](const QUrl& url) { events << url.fileName() + '#' + url.fragment(); };
    window_options.run_dialog = [this](QDialog& dialog) {
      events << dialog.metaObject()->className();
      return answer(dialog);
    };
    window = std::make_unique<MainDialog>(*owner, window_options);
  }
  ~Fixture() {
    gate_open = true;
    window.reset();
    owner.reset();
  }

  std::string SettingsPath() const { return folder.path().toStdString() + "/tabulon.cfg"; }
  std::string TargetPath() const { return folder.path().toStdString() + "/Target.mdb"; }

  // Selects the source database and the target's database (or its root).
  void SelectDatabases(bool target_root = false) {
    window->source_tree()->SelectItem(gui::testing::FindItem(owner->source_tree(), TreeNodeKind::kDatabase));
    window->target_tree()->SelectItem(target_root ? owner->target_tree().root_item
                                                  : gui::testing::FindItem(owner->target_tree(), TreeNodeKind::kDatabase));
  }
  // The output lines with `severity` that contain `text`.
  int LinesWith(workspace::Severity severity, const std::string& text) const {
    int found = 0;
    for (const workspace::OutputLine& line : owner->output().Lines()) {
      found += line.severity == severity && line.text.find(text) != std::string::npos ? 1 : 0;
    }
    return found;
  }

  // Connects the sample database (or another SQLite file) as the source and a new .mdb as the target.
  bool ConnectSample(const std::string& source = TABULON_BINARY_DIR "/examples/sample.sqlite") {
    config::Settings settings;
    settings.source = {"SQLite", source, "", "", ""};
    settings.target = {"Microsoft Jet 4.0 OLE DB Provider", TargetPath(), "", "", ""};
    if (!converters::UseConnectSettings(*owner, settings, SettingsPath()).ok()) return false;
    if (!target_access::CreateAccessDatabaseAt(owner->target_context(), settings.target.source_name)) return false;
    window->RunCommand(gui::kCmdConnectButton);
    window->OnTimer();
    return owner->source().session != nullptr && owner->target().session != nullptr;
  }
};

// A small shop: an AutoNumber key, a unique and a partial index (left out), a composite key with a
// relationship, a view Access takes and one it does not (a function it has no equal for).
constexpr const char* kShop = R"(
CREATE TABLE parts (id INTEGER PRIMARY KEY, name VARCHAR(30) NOT NULL, price MONEY);
CREATE UNIQUE INDEX parts_name ON parts(name);
CREATE INDEX parts_cheap ON parts(price) WHERE price < 1;
CREATE TABLE orders (no INTEGER NOT NULL, part_id INTEGER NOT NULL REFERENCES parts(id), qty SMALLINT,
                     PRIMARY KEY (no, part_id));
INSERT INTO parts VALUES (1, 'bolt', 0.5), (2, 'nut', 0.2), (3, 'gear', 12);
INSERT INTO orders VALUES (1, 1, 10), (1, 2, 20);
CREATE VIEW cheap AS SELECT name FROM parts WHERE price < 1;
CREATE VIEW odd AS SELECT printf('%d', qty) AS q FROM orders;
)";

bool Visible(const MainDialog& window, const char* title) { return window.popup(title)->menuAction()->isVisible(); }

}  // namespace

class MainDialogTest : public QObject {
  Q_OBJECT

 private slots:
  // Each menu and toolbar action reaches its dialog, page or core command (the core commands,
  // with nothing connected, are told apart by their hints). Hints, also from a task thread,
  // reach the Tips tab (on from the settings file at start), newest first above the earlier.
  void CommandsReachTheirOperations() {
    Fixture f(/*tips=*/true);
    MainDialog& w = *f.window;
    QCOMPARE(w.output_tabs()->indexOf(w.hint_box()), gui::kTipsTab);  // on from the settings file
    const QString settings = "tabulon::gui::ConnectionSettingsDialog", about = "tabulon::gui::AboutDialog";
    const QString migrate = "Please confirm your Target Database Connection is valid!";
    const QString backup = "Please confirm your target Database connected SUCCESSFULLY!";
    const QString remove = "Press Config button, and get a successful target Connection!";
    const std::pair<int, QString> cases[] = {
        // the command and its dialog, page or hint
        {gui::kCmdConfig, settings},
        {gui::kCmdMigrate, migrate},
        {gui::kCmdConfigureButton, settings},
        {gui::kCmdBackup, backup},
        {gui::kCmdDriverCheck, "tabulon::gui::DriverCheckDialog"},
        {gui::kCmdMigrateButton, migrate},
        {gui::kCmdAbout, about},
        {gui::kCmdDeleteButton, remove},
        {gui::kCmdAboutButton, about},
        {gui::kCmdBackupButton, backup},
        {gui::kCmdReviewMigration, migrate},
        {gui::kCmdManual, "index.html#"},
        {gui::kCmdDeleteSelected, remove},
        {gui::kCmdWebPage, "index.html#about"},
    };
    QStringList hints = {w.hint_box()->hint()};
    for (const auto& [id, outcome] : cases) {
      const bool hint = outcome == migrate || outcome == backup || outcome == remove;
      f.events.clear();
      w.output_tabs()->setCurrentIndex(gui::kLogTab);
      w.action(id)->trigger();
      QCOMPARE(f.events, hint ? QStringList() : QStringList{outcome});
      if (!hint) continue;
      QTRY_COMPARE(w.hint_box()->hint(), outcome);
      QCOMPARE(w.output_tabs()->currentIndex(), gui::kTipsTab);
      hints.prepend(outcome);
    }
    std::thread([&] { f.owner->ShowHint("from a task"); }).join();
    hints.prepend("from a task");
    QTRY_COMPARE(w.hint_box()->hints(), hints);

    // "Open Config" of the driver check leads on to the settings; F1 opens the manual.
    f.events.clear();
    f.answer = [](QDialog& dialog) {
      return qobject_cast<gui::DriverCheckDialog*>(&dialog) != nullptr ? gui::DriverCheckDialog::kOpenConfig : 0;
    };
    w.RunCommand(gui::kCmdDriverCheck);
    QTRY_COMPARE(f.events, QStringList({"tabulon::gui::DriverCheckDialog", settings}));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::keyClick(&w, Qt::Key_F1);
    QCOMPARE(f.events.last(), QStringLiteral("index.html#"));

    // Exit closes at once when nothing runs: no question.
    const std::size_t asked = f.prompt.texts().size();
    w.action(gui::kCmdExit)->trigger();
    QVERIFY(!w.isVisible());
    QCOMPARE(f.prompt.texts().size(), asked);
  }

  // A selection in either tree shows the popup its kind offers, its commands enabled for the
  // side that can run them; a drop onto the target tree runs Migrate, which queues a task once
  // confirmed.
  void SelectionsChoosePopupsAndADropQueuesATask() {
    Fixture f;
    MainDialog& w = *f.window;
    QVERIFY(f.ConnectSample());
    struct Case {
      bool target;
      TreeNodeKind kind;
      const char* popup;  // null: none of the three
      int enabled, grayed;
    };
    const Case cases[] = {
        {false, TreeNodeKind::kRoot, "D&atabases", 0, gui::kCmdNewDatabase},
        {true, TreeNodeKind::kRoot, "D&atabases", gui::kCmdNewDatabase, 0},
        {true, TreeNodeKind::kDatabase, "&Database", gui::kCmdClearAllTables, 0},
        {false, TreeNodeKind::kDatabase, "&Database", 0, gui::kCmdClearAllTables},
        {false, TreeNodeKind::kTable, "&Table", gui::kCmdMigrationCondition, gui::kCmdDropTable},
        {false, TreeNodeKind::kTablesFolder, nullptr, 0, 0},
    };
    for (const Case& c : cases) {
      (c.target ? w.target_tree() : w.source_tree())
          ->SelectItem(gui::testing::FindItem(c.target ? f.owner->target_tree() : f.owner->source_tree(), c.kind));
      const QByteArray name = QByteArray::number(static_cast<int>(c.kind));
      for (const char* title : {"D&atabases", "&Database", "&Table"}) {
        QVERIFY2(Visible(w, title) == (c.popup != nullptr && std::string(c.popup) == title), name + title);
      }
      QVERIFY2(c.enabled == 0 || w.action(c.enabled)->isEnabled(), name);
      QVERIFY2(c.grayed == 0 || !w.action(c.grayed)->isEnabled(), name);
    }

    // A drop on the target tree (the trees' test drops for real) selects the item under it and
    // asks for Migrate.
    w.source_tree()->SelectItem(gui::testing::FindItem(f.owner->source_tree(), TreeNodeKind::kDatabase));
    w.target_tree()->SelectItem(f.owner->target_tree().root_item);
    f.prompt.AnswerYes(true);
    emit w.target_tree()->migrateRequested();
    QTRY_COMPARE(f.owner->tasks().Size(), std::size_t{1});
    QVERIFY(f.prompt.texts().back().starts_with("Clone database [sample]"));
    f.owner->tasks().Clear();  // the controller waits at the gate: nothing ran
  }

  // A task holding the trees never makes a command wait: it runs once they are free. Closing
  // while a task runs asks first.
  void WhileATaskRuns() {
    Fixture f;
    gui::testing::LockHolder task(f.owner->tree_lock());
    QElapsedTimer clock;
    clock.start();
    f.window->RunCommand(gui::kCmdMigrateButton);
    f.window->OnTimer();
    QVERIFY(clock.elapsed() < 500);
    QVERIFY(f.prompt.texts().empty());
    task.Release();
    QTRY_VERIFY(!f.prompt.texts().empty());

    // Closing while the controller runs asks first: Cancel keeps both; OK asks the controller to
    // stop and closes once it is idle.
    MainDialog& w = *f.window;
    const std::size_t asked = f.prompt.texts().size();
    w.show();
    f.owner->EnsureControllerRunning();  // it waits at the gate
    f.prompt.AnswerYes(false);
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QCOMPARE(f.owner->controller_state(), converters::ControllerState::kRunning);
    f.prompt.AnswerYes(true);
    w.close();
    QCOMPARE(f.owner->controller_state(), converters::ControllerState::kStopRequested);
    QVERIFY(w.isVisible());
    f.gate_open = true;
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 5000);
    QCOMPARE(f.owner->controller_state(), converters::ControllerState::kIdle);
    QCOMPARE(f.prompt.texts().size(), asked + 2);
  }

  // "Review Migration..." plans the selected migration and shows it: each table with its rows,
  // size and columns (types, AutoNumber, notes), what is left out, the views, the size of the
  // file. Its Migrate queues exactly that migration without a further question; Cancel while the
  // plan is made shows nothing; while tasks run a review waits for them.
  void ReviewShowsThePlanAndQueuesWhatItShowed() {
    Fixture f;
    const QString source = f.folder.filePath("shop.sqlite");
    QVERIFY(gui::testing::MakeSqlite(source, kShop));
    QVERIFY(f.ConnectSample(source.toStdString()));
    f.SelectDatabases();

    QStringList shown;
    f.answer = [&shown](QDialog& dialog) {
      auto* review = qobject_cast<gui::ReviewMigrationDialog*>(&dialog);
      if (review == nullptr) return static_cast<int>(QDialog::Rejected);
      using R = gui::ReviewMigrationDialog;
      QTreeWidgetItemIterator it(review->plan_tree());
      for (; *it; ++it) {
        QStringList texts;
        for (int column : {R::kNameColumn, R::kSourceTypeColumn, R::kAccessTypeColumn, R::kAutoNumberColumn,
                           R::kOutcomeColumn, R::kNoteColumn}) {
          texts << (*it)->text(column);
        }
        // What is kept with a change, or left out, is marked (a warning icon and orange text).
        if (!(*it)->icon(R::kNameColumn).isNull()) texts << "marked";
        shown << texts.join('|');
      }
      shown << review->size_label()->text() << (review->check_label()->isVisible() ? "check shown" : "no check");
      review->migrate_button()->click();
      return review->result();
    };
    const std::size_t asked = f.prompt.texts().size();
    // Cancel while the plan is made (posted before the command: the first thing its busy dialog
    // sees): no review, no message, and the source connection the plan borrowed is back.
    QTimer::singleShot(0, [] {
      if (auto* busy = qobject_cast<gui::PlanProgressDialog*>(QApplication::activeModalWidget())) {
        busy->cancel_button()->click();
      }
    });
    f.window->action(gui::kCmdReviewMigration)->trigger();
    QVERIFY(f.events.isEmpty());
    QCOMPARE(f.prompt.texts().size(), asked);
    QVERIFY(f.owner->source().session != nullptr);

    f.window->action(gui::kCmdReviewMigration)->trigger();
    QCOMPARE(f.events, QStringList{"tabulon::gui::ReviewMigrationDialog"});
    // Whole rows (name, source type, Access type, AutoNumber, rows or outcome, note; "marked").
    for (const char* expected : {
             "id|INTEGER|COUNTER|Yes||AutoNumber from the rowid key|marked",
             "name|VARCHAR(30)|VarChar(30)|||",
             "Views (2, 1 translated)|||||",
         }) {
      QVERIFY2(shown.contains(expected), qPrintable(expected + QStringLiteral("\n") + shown.join('\n')));
    }
    // Rows whose ends (reasons, sizes) are the core's words.
    for (const char* expected : {"parts||||3 rows|", "orders||||2 rows|", "index||||left out|", "cheap||||translated|",
                                 "odd||||not translated|", "Estimated size of the file: ", "no check"}) {
      QVERIFY2(std::any_of(shown.begin(), shown.end(), [&](const QString& line) { return line.startsWith(expected); }),
               qPrintable(expected + QStringLiteral("\n") + shown.join('\n')));
    }
    // Migrate in the dialog queued the reviewed migration and asked nothing.
    QCOMPARE(f.owner->tasks().Size(), std::size_t{1});
    const converters::MigrationTask queued = f.owner->tasks().Snapshot().front();
    QCOMPARE(queued.operation, static_cast<int>(converters::kMigrateDatabase));
    QCOMPARE(queued.source_database, std::string("shop"));
    QCOMPARE(f.prompt.texts().size(), asked);

    // The controller runs (held at the gate): the review waits, with a message.
    f.events.clear();
    f.window->RunCommand(gui::kCmdReviewMigration);
    QVERIFY(f.events.isEmpty());
    QVERIFY(f.prompt.texts().back().starts_with("Tasks are running: a migration can be reviewed once"));
    f.owner->tasks().Clear();
  }

  // Migrate estimates the size of the file before its question. The target file is grown
  // (sparse) so the estimate passes 2 GB: a message box with the way out, a red line, nothing
  // queued. Close to it: an orange line, then the question and the task as always.
  void MigrateChecksTheSizeOfTheFileFirst() {
    Fixture f;
    const QString source = f.folder.filePath("shop.sqlite");
    QVERIFY(gui::testing::MakeSqlite(source, kShop));
    QVERIFY(f.ConnectSample(source.toStdString()));
    f.SelectDatabases();
    QFile target(QString::fromStdString(f.TargetPath()));
    const qint64 size = target.size();

    QVERIFY(target.resize(2100LL * 1024 * 1024));
    const std::size_t asked = f.prompt.texts().size();
    f.window->action(gui::kCmdMigrateButton)->trigger();
    QCOMPARE(f.prompt.texts().size(), asked + 1);
    const std::string refused = f.prompt.texts().back();
    QVERIFY2(refused.find("passes the 2 GB an Access file can hold") != std::string::npos, refused.c_str());
    QVERIFY2(refused.find("Table -> Migration Condition") != std::string::npos, refused.c_str());
    QCOMPARE(f.LinesWith(workspace::Severity::kError, "passes the 2 GB"), 1);
    QCOMPARE(f.owner->tasks().Size(), std::size_t{0});

    QVERIFY(target.resize(1900LL * 1024 * 1024));
    f.prompt.AnswerYes(true);
    f.window->action(gui::kCmdMigrate)->trigger();
    QCOMPARE(f.LinesWith(workspace::Severity::kWarning, "is close to the 2 GB an Access file can hold"), 1);
    QVERIFY(f.prompt.texts().back().starts_with("Convert database [shop] into Target database ["));
    QCOMPARE(f.owner->tasks().Size(), std::size_t{1});
    QVERIFY(target.resize(size));

    // While tasks run no plan is made: a line says so, and the migration queues behind them.
    f.owner->EnsureControllerRunning();  // held at the gate
    f.prompt.AnswerYes(true);
    f.window->action(gui::kCmdMigrate)->trigger();
    QCOMPARE(f.LinesWith(workspace::Severity::kWarning, "The size of the file was not estimated: tasks are running"), 1);
    QCOMPARE(f.owner->tasks().Size(), std::size_t{2});
    f.owner->tasks().Clear();
  }
};

QTEST_MAIN(MainDialogTest)
#include "main_window_test.moc"
