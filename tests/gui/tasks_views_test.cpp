// The task list tab over a Workbench whose controller thread and pause the test holds: rows and
// bars follow the core's task list on the timer's ticks, the buttons edit that list, the
// selection survives rebuilds, and Start/Stop drives the controller. The log tab shows the
// output pane's lines from any thread in order, the newest 1001 only.
#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "command_ids.h"
#include "log_view.h"
#include "task_viewer.h"

namespace conv = tabulon::converters;
namespace gui = tabulon::gui;

class TaskViewerTest : public QObject {
  Q_OBJECT

 private:
  tabulon::workspace::ScriptedUserPrompt prompt_;
  std::unique_ptr<conv::Workbench> bench_;
  std::unique_ptr<gui::TaskViewer> viewer_;
  std::atomic<bool> gate_open_{false};  // the controller's pause waits until it is opened

  conv::TaskList::TaskRef Queue(const std::string& object) {
    conv::TaskNames names;
    names.source_database = "shop";
    names.source_object = object;
    names.target_database = "target.mdb";
    return bench_->QueueTask(conv::MakeTask(conv::kMigrateTable, names));
  }
  // The source objects of the core's list and of the rows, which must agree.
  QStringList Objects() {
    QStringList core, shown;
    for (const auto& task : bench_->tasks().Snapshot()) core << QString::fromStdString(task.source_object);
    for (int row = 0; row < viewer_->table()->rowCount(); ++row) shown << viewer_->table()->item(row, 6)->text();
    return core == shown ? core : QStringList{"<rows differ from the list>"};
  }
  int SelectedRow() {
    const auto rows = viewer_->table()->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
  }
  QProgressBar* Bar(int row) { return qobject_cast<QProgressBar*>(viewer_->table()->cellWidget(row, 1)); }

 private slots:
  void init() {
    conv::WorkbenchOptions options;
    options.sleep = [](std::chrono::milliseconds) {};
    gate_open_ = false;
    options.pause = [this] {
      while (!gate_open_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    bench_ = std::make_unique<conv::Workbench>(prompt_, std::move(options));
    viewer_ = std::make_unique<gui::TaskViewer>(*bench_);
  }
  void cleanup() {
    gate_open_ = true;
    viewer_.reset();
    bench_.reset();
  }

  // Rows follow the list on every fifth tick while the tab is in front, or at the next tick in
  // front after a forced rebuild; a new task's bar starts at 5 (not raised again once the
  // controller set 0) and then shows the task's progress and state.
  void rowsFollowTheListOnTicks() {
    auto first = Queue("a");
    for (int i = 0; i < 10; ++i) viewer_->Tick(false);
    for (int i = 0; i < 4; ++i) viewer_->Tick(true);
    QCOMPARE(viewer_->table()->rowCount(), 0);
    viewer_->Tick(true);
    QVERIFY(Objects() == QStringList{"a"} && first->progress == 5);
    Queue("b");
    first->progress = 0;
    QSignalSpy asked(viewer_.get(), &gui::TaskViewer::tickRequested);
    viewer_->ForceRebuild();
    viewer_->Tick(false);  // another tab in front: the request waits
    QCOMPARE(viewer_->table()->rowCount(), 1);
    viewer_->Tick(true);
    QCOMPARE(Objects(), QStringList({"a", "b"}));
    QVERIFY(asked.count() == 1 && Bar(0)->value() == 0 && Bar(1)->value() == 5);
    first->progress = 70;
    bench_->tasks().At(0)->state_text = "FAILURE";
    viewer_->Rebuild();
    QVERIFY(Bar(0)->value() == 70 && viewer_->table()->item(0, 3)->text() == "FAILURE");
  }

  // Each button edits the core's list; the selection follows a moved row and survives a rebuild
  // with more rows. Start/Stop drives the controller.
  void buttonsEditTheList() {
    for (const char* name : {"a", "b", "c", "d"}) Queue(name);
    viewer_->Rebuild();
    struct Case {
      int row;  // selected first (-1: none)
      int command;
      QStringList after;
      int selected;
    };
    const Case cases[] = {
        {-1, gui::kCmdDeleteTask, {"a", "b", "c", "d"}, -1}, {0, gui::kCmdItemUp, {"a", "b", "c", "d"}, 0},
        {3, gui::kCmdItemDown, {"a", "b", "c", "d"}, 3},     {1, gui::kCmdItemUp, {"b", "a", "c", "d"}, 0},
        {0, gui::kCmdItemDown, {"a", "b", "c", "d"}, 1},     {2, gui::kCmdItemDown, {"a", "b", "d", "c"}, 3},
        {3, gui::kCmdDeleteTask, {"a", "b", "d"}, -1},       {-1, gui::kCmdClearAllTasks, {}, -1},
    };
    for (const Case& c : cases) {
      viewer_->table()->clearSelection();
      if (c.row >= 0) viewer_->table()->selectRow(c.row);
      viewer_->action(c.command)->trigger();
      QCOMPARE(Objects(), c.after);
      QCOMPARE(SelectedRow(), c.selected);
    }
    // A task queued after a clear is new to the viewer (even at a freed task's address).
    auto fresh = Queue("e");
    viewer_->Rebuild();
    QCOMPARE(fresh->progress, 5);
    viewer_->table()->selectRow(0);
    Queue("f");
    viewer_->Rebuild();
    QVERIFY(viewer_->table()->rowCount() == 2 && SelectedRow() == 0);

    // Start/Stop reaches the controller's start and stop (its questions are the core's); with no
    // task to run, the controller waits in its pause.
    bench_->tasks().Clear();
    QAction* button = viewer_->action(gui::kCmdStartStop);
    button->trigger();  // idle: starts the controller, which then waits in its pause
    QCOMPARE(bench_->controller_state(), conv::ControllerState::kRunning);
    prompt_.AnswerYes(true);
    button->trigger();
    QCOMPARE(bench_->controller_state(), conv::ControllerState::kStopRequested);
  }

  // The pane's lines reach the log as the pane shows them, also from a task thread; a flood
  // leaves only the newest 1001 lines, in order.
  void logShowsThePaneFromAnyThread() {
    gui::LogView view;
    tabulon::workspace::OutputPane pane;
    pane.SetListener([&view](const tabulon::workspace::OutputLine& line) { view.Post(line); });
    std::thread([&pane] { tabulon::workspace::WriteOutput(&pane, "E::from a task %d", 1); }).join();
    QTRY_COMPARE(view.count(), 1);
    QCOMPARE(view.item(0)->text(), QString::fromStdString(pane.Lines().at(0).Full()));

    gui::LogView flooded;
    std::thread worker([&flooded] {
      tabulon::workspace::OutputLine line;
      for (int i = 0; i < 50000; ++i) flooded.Post((line.text = "message " + std::to_string(i), line));
    });
    while (!QTest::currentTestFailed() && flooded.count() < 1001) QCoreApplication::processEvents();
    worker.join();
    QTRY_COMPARE(flooded.item(flooded.count() - 1)->text(), QStringLiteral("message 49999"));
    QCOMPARE(flooded.count(), 1001);
    QCOMPARE(flooded.item(0)->text(), QStringLiteral("message 48999"));
  }
};

QTEST_MAIN(TaskViewerTest)
#include "tasks_views_test.moc"
