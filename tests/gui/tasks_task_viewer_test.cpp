// The task list tab: rows and bars rebuilt from the core's task list, the tick
// rules, the five buttons and the Start/Stop path into a controller whose
// thread and pause the test holds.
#include <QAction>
#include <QImage>
#include <QPointer>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QToolBar>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "command_ids.h"
#include "task_viewer.h"

namespace conv = tabulon::converters;
using tabulon::gui::TaskViewer;

namespace {

QString Cell(const TaskViewer& v, int row, int column) {
  const QTableWidgetItem* item = v.table()->item(row, column);
  return item != nullptr ? item->text() : QStringLiteral("<none>");
}

QProgressBar* Bar(const TaskViewer& v, int row) { return qobject_cast<QProgressBar*>(v.table()->cellWidget(row, 1)); }

}  // namespace

class TaskViewerTest : public QObject {
  Q_OBJECT

 private:
  tabulon::workspace::ScriptedUserPrompt prompt_;
  std::unique_ptr<conv::Workbench> bench_;
  std::unique_ptr<TaskViewer> viewer_;
  std::promise<void> gate_;  // the controller's pause waits until it is opened
  std::shared_future<void> gate_opened_;
  bool refuse_thread_ = false;

  conv::TaskList& Tasks() { return bench_->tasks(); }
  conv::TaskList::TaskRef Queue(conv::TaskOperation op, const std::string& object = "t") {
    conv::TaskNames names;
    names.target_dbms = "Microsoft Access";
    names.target_database = "target.mdb";
    if (op >= conv::kBackupObjects) {
      names.backup_selector = "T";
      names.target_object = object;
    } else {
      names.source_dbms = "Microsoft SQL Server";
      names.source_database = "shop";
      names.source_object = object;
    }
    return bench_->QueueTask(conv::MakeTask(op, names));
  }
  void Select(int row) { viewer_->table()->selectRow(row); }
  void Press(int command) { viewer_->action(command)->trigger(); }
  QStringList Objects() {
    QStringList names;
    for (const auto& task : Tasks().Snapshot()) names << QString::fromStdString(task.source_object);
    return names;
  }

 private slots:
  void init() {
    conv::WorkbenchOptions options;
    options.sleep = [](std::chrono::milliseconds) {};
    gate_ = {};
    gate_opened_ = gate_.get_future().share();
    options.pause = [opened = gate_opened_] { opened.wait(); };
    options.start_thread = [this](std::function<void()> body, std::thread* thread) {
      if (refuse_thread_) return false;
      *thread = std::thread(std::move(body));
      return true;
    };
    bench_ = std::make_unique<conv::Workbench>(prompt_, std::move(options));
    viewer_ = std::make_unique<TaskViewer>(*bench_);
  }
  void cleanup() {
    if (gate_opened_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) gate_.set_value();
    viewer_.reset();
    bench_.reset();
    refuse_thread_ = false;
  }

  // The five buttons and the column titles as the user sees them; a migration
  // row and a backup row with their texts; a new task's bar starts at 5, then
  // shows the task's progress.
  void buttonsColumnsRowsAndBars() {
    const QList<QAction*> actions = viewer_->toolbar()->actions();
    QCOMPARE(actions.size(), 5);
    const int ids[] = {5561, 5550, 5580, 5579, 5560};
    const char* tips[] = {"Clear All Tasks", "Delete", "Item Down", "Item Up", "Stop Tasks"};
    for (int i = 0; i < 5; ++i) {
      QCOMPARE(actions[i]->data().toInt(), ids[i]);
      QCOMPARE(actions[i]->toolTip(), QString::fromLatin1(tips[i]));
      QVERIFY(!actions[i]->icon().isNull());
    }
    const QStringList headers = {"NO.",       "Progress",    "Type",         "State",     "Source DBMS",
                                 "Source DB", "Source T(V)", "Targert DBMS", "Target DB", "Target T(V)"};
    for (int c = 0; c < headers.size(); ++c) QCOMPARE(viewer_->table()->horizontalHeaderItem(c)->text(), headers[c]);

    auto first = Queue(conv::kMigrateTable, "orders");
    Queue(conv::kBackupObject, "customers");
    viewer_->Rebuild();
    QCOMPARE(viewer_->table()->rowCount(), 2);
    const QStringList migration = {"01",   " ",      "MIGRATION",        "Waiting",    "Microsoft SQL Server",
                                   "shop", "orders", "Microsoft Access", "target.mdb", ""};
    const QStringList backup = {"02", " ", "BACKUP",           "Waiting",    "",
                                "",   "",  "Microsoft Access", "target.mdb", "customers"};
    for (int c = 0; c < 10; ++c) {
      QCOMPARE(Cell(*viewer_, 0, c), migration[c]);
      QCOMPARE(Cell(*viewer_, 1, c), backup[c]);
    }
    QCOMPARE(Bar(*viewer_, 0)->value(), 5);
    QCOMPARE(first->progress, 5);
    QVERIFY(!Bar(*viewer_, 0)->isTextVisible());

    first->progress = 0;  // the controller started it: 0 is shown now, not raised again
    Tasks().At(1)->state_text = "FAILURE";
    Queue(conv::kMigrateTable, "b");
    viewer_->Rebuild();
    QCOMPARE(Bar(*viewer_, 0)->value(), 0);
    QCOMPARE(first->progress, 0);
    QCOMPARE(Bar(*viewer_, 2)->value(), 5);
    QCOMPARE(Cell(*viewer_, 1, 3), QStringLiteral("FAILURE"));
    first->progress = 100;
    viewer_->Rebuild();
    // A full bar is painted in the bar colour.
    QProgressBar* bar = Bar(*viewer_, 0);
    QCOMPARE(bar->value(), 100);
    bar->resize(72, 20);
    const QImage image = bar->grab().toImage();
    QCOMPARE(QColor(image.pixel(image.width() / 2, image.height() / 2)), QColor(27, 156, 213));
  }

  void tickRules() {
    Queue(conv::kMigrateTable);
    for (int i = 0; i < 10; ++i) viewer_->Tick(false);
    QCOMPARE(viewer_->refresh_counter(), 0);
    QCOMPARE(viewer_->table()->rowCount(), 0);
    for (int i = 1; i <= 5; ++i) {  // in front: every fifth tick rebuilds
      viewer_->Tick(true);
      QCOMPARE(viewer_->refresh_counter(), i % 5);
      QCOMPARE(viewer_->table()->rowCount(), i == 5 ? 1 : 0);
    }

    Queue(conv::kMigrateTable);
    QSignalSpy asked(viewer_.get(), &TaskViewer::tickRequested);
    viewer_->ForceRebuild();
    QCOMPARE(asked.count(), 1);
    viewer_->Tick(false);  // another tab in front: waits, the request is kept
    QCOMPARE(viewer_->table()->rowCount(), 1);
    QCOMPARE(viewer_->refresh_counter(), 5);
    viewer_->Tick(true);
    QCOMPARE(viewer_->table()->rowCount(), 2);
    QCOMPARE(viewer_->refresh_counter(), 0);
  }

  void buttonsEditTheList() {
    for (const char* name : {"a", "b", "c", "d"}) Queue(conv::kMigrateTable, name);
    viewer_->Rebuild();
    QSignalSpy asked(viewer_.get(), &TaskViewer::tickRequested);

    Press(tabulon::gui::kCmdDeleteTask);  // nothing selected
    QCOMPARE(Objects(), QStringList({"a", "b", "c", "d"}));
    Select(0);
    Press(tabulon::gui::kCmdItemUp);
    Select(3);
    Press(tabulon::gui::kCmdItemDown);
    QCOMPARE(Objects(), QStringList({"a", "b", "c", "d"}));

    Select(1);
    Press(tabulon::gui::kCmdItemUp);
    QCOMPARE(Objects(), QStringList({"b", "a", "c", "d"}));
    QCOMPARE(viewer_->table()->currentRow(),
             0);  // the selection follows the row
    QCOMPARE(Cell(*viewer_, 0, 6), QStringLiteral("b"));
    Press(tabulon::gui::kCmdItemDown);
    Press(tabulon::gui::kCmdItemDown);
    QCOMPARE(Objects(), QStringList({"a", "c", "b", "d"}));
    QCOMPARE(viewer_->table()->selectionModel()->selectedRows().first().row(), 2);
    QCOMPARE(asked.count(), 0);

    QPointer<QProgressBar> last = Bar(*viewer_, 3);
    Press(tabulon::gui::kCmdDeleteTask);
    QCOMPARE(Objects(), QStringList({"a", "c", "d"}));
    QCOMPARE(asked.count(), 1);
    QCOMPARE(viewer_->table()->rowCount(), 3);
    QCOMPARE(Cell(*viewer_, 2, 6), QStringLiteral("d"));
    QVERIFY(viewer_->table()->selectionModel()->selectedRows().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(last.isNull());  // the row that went away took its bar with it

    Press(tabulon::gui::kCmdClearAllTasks);
    QCOMPARE(Tasks().Size(), std::size_t{0});
    QCOMPARE(viewer_->table()->rowCount(), 0);
    QCOMPARE(asked.count(), 1);
    // A task queued after a clear is new to the viewer: its bar starts at 5
    // again.
    auto fresh = Queue(conv::kMigrateTable, "e");
    viewer_->Rebuild();
    QCOMPARE(fresh->progress, 5);
  }

  void selectionAndScrollSurviveRebuilds() {
    for (int i = 0; i < 100; ++i) Queue(conv::kMigrateTable, "t" + std::to_string(i));
    viewer_->resize(400, 200);
    viewer_->show();
    viewer_->Rebuild();
    QCOMPARE(Cell(*viewer_, 8, 0), QStringLiteral("09"));
    QCOMPARE(Cell(*viewer_, 9, 0), QStringLiteral("10"));
    QCOMPARE(Cell(*viewer_, 99, 0), QStringLiteral("100"));
    Select(40);
    QScrollBar* vertical = viewer_->table()->verticalScrollBar();
    QScrollBar* horizontal = viewer_->table()->horizontalScrollBar();
    QVERIFY(vertical->maximum() > 40 && horizontal->maximum() > 100);
    vertical->setValue(37);
    horizontal->setValue(100);
    Queue(conv::kBackupObject);
    Tasks().At(40)->state_text = "Working";
    viewer_->Rebuild();
    QCOMPARE(viewer_->table()->rowCount(), 101);
    QCOMPARE(viewer_->table()->selectionModel()->selectedRows().first().row(), 40);
    QCOMPARE(Cell(*viewer_, 40, 3), QStringLiteral("Working"));
    QCOMPARE(vertical->value(), 37);
    QCOMPARE(horizontal->value(), 100);
  }

  void startStopDrivesTheController() {
    QAction* button = viewer_->action(tabulon::gui::kCmdStartStop);
    refuse_thread_ = true;
    button->trigger();
    QCOMPARE(bench_->output().Lines().back().text, std::string("Main Controller Error!"));
    QCOMPARE(bench_->controller_state(), conv::ControllerState::kIdle);

    refuse_thread_ = false;
    button->trigger();  // idle: starts the controller, which then waits in its
                        // pause
    QCOMPARE(bench_->controller_state(), conv::ControllerState::kRunning);
    prompt_.AnswerYes(false);
    button->trigger();
    QCOMPARE(bench_->controller_state(), conv::ControllerState::kRunning);
    prompt_.AnswerYes(true);
    button->trigger();
    QCOMPARE(bench_->controller_state(), conv::ControllerState::kStopRequested);
    button->trigger();
    QCOMPARE(prompt_.texts(),
             std::vector<std::string>({"Some Tasks is Processing, STOP ALL?", "Some Tasks is Processing, STOP ALL?",
                                       "Some Tasks is Stopping, Please Wait!!!"}));
    gate_.set_value();
    bench_->JoinController();
    viewer_->ShowControllerDisplay(bench_->display());
    QCOMPARE(button->toolTip(), QStringLiteral("Start tasks"));
    QCOMPARE(bench_->controller_state(), conv::ControllerState::kIdle);
  }
};

QTEST_MAIN(TaskViewerTest)
#include "tasks_task_viewer_test.moc"
