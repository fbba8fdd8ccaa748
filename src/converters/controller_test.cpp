// The controller thread and the worker procedures, driven by scripted flows that print lines,
// look at the stop request and wait on events the test opens: no test depends on timing.
#include <atomic>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "converters/workbench.h"
#include "converters/worker_procedures.h"
#include "data/regex_helper.h"

namespace tabulon::converters {
namespace {

using ::testing::ElementsAre;

// A one-shot event: Wait blocks until Set.
struct Event {
  std::promise<void> set;
  std::shared_future<void> done = set.get_future().share();
  void Set() { set.set_value(); }
  void Wait() const { done.wait(); }
};

// Prints "<step> <name>" for every call, then runs the step's hook when there is one (hooks are
// set before the controller starts). Without a hook a step succeeds.
class ScriptedFlows : public TaskFlows {
 public:
  using Hook = std::function<bool(TaskRunContext&)>;
  std::map<std::string, Hook> hooks;

  bool CreateTargetDatabase(TaskRunContext& r, const std::string& n) override {
    return Call("CreateTargetDatabase", r, n);
  }
  void ReconnectTarget(TaskRunContext& r, const std::string& n) override { Call("ReconnectTarget", r, n); }
  bool SelectSourceDatabase(TaskRunContext& r, const std::string& n) override {
    return Call("SelectSourceDatabase", r, n);
  }
  bool UseSourceDatabase(TaskRunContext& r, const std::string& n) override { return Call("UseSourceDatabase", r, n); }
  void RefreshTargetTree(TaskRunContext& r) override { Call("RefreshTargetTree", r, r.target_database); }
  bool MigrateAllTables(TaskRunContext& r) override { return Call("MigrateAllTables", r, r.source_database); }
  bool MigrateOneTable(TaskRunContext& r) override { return Call("MigrateOneTable", r, r.source_object); }
  bool MigrateAllViews(TaskRunContext& r) override { return Call("MigrateAllViews", r, r.source_database); }
  bool MigrateOneView(TaskRunContext& r) override { return Call("MigrateOneView", r, r.source_object); }
  bool MigrateRelationships(TaskRunContext& r) override { return Call("MigrateRelationships", r, r.source_database); }
  bool BackupAllTables(TaskRunContext& r) override { return Call("BackupAllTables", r, r.target_database); }
  bool BackupAllViews(TaskRunContext& r) override { return Call("BackupAllViews", r, r.target_database); }
  bool BackupOneTable(TaskRunContext& r) override { return Call("BackupOneTable", r, r.target_object); }
  bool BackupOneView(TaskRunContext& r) override { return Call("BackupOneView", r, r.target_object); }
  bool RestoreBackup(TaskRunContext& r) override {
    return Call("RestoreBackup", r, r.source_database + " " + r.target_database);
  }

 private:
  bool Call(const std::string& step, TaskRunContext& run, const std::string& name) {
    workspace::WriteOutput(run.output(), "%s %s", step.c_str(), name.c_str());
    auto hook = hooks.find(step);
    return hook == hooks.end() || hook->second(run);
  }
};

// The lines of testdata/`name`, but for "#" comments.
std::vector<std::string> ExpectedLines(const std::string& name) {
  std::ifstream in(std::string(TABULON_SOURCE_DIR) + "/src/converters/testdata/" + name);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("#")) lines.push_back(line);
  }
  return lines;
}

// Tells the test this thread got here, then waits until the test lets it go on.
void BlockHere(Event& arrived, Event& release) {
  arrived.Set();
  release.Wait();
}

// A hook that signals `running` and waits for `release` when its run is for `object` (any
// object when empty), then succeeds.
ScriptedFlows::Hook BlockOn(Event& running, Event& release, std::string object = "") {
  return [&running, &release, object](TaskRunContext& run) {
    if (object.empty() || run.source_object == object) BlockHere(running, release);
    return true;
  };
}

class ControllerTest : public ::testing::Test {
 protected:
  ControllerTest() {
    WorkbenchOptions options;
    options.output_clock = [] { return workspace::LocalTime{2024, 5, 6, 7, 8, 9, 10}; };
    options.clock = [] { return std::int64_t{1700000000}; };  // every task queued in one second
    options.sleep = [](std::chrono::milliseconds) {};
    options.pause = [this] {
      ++pauses_;
      if (on_pause_) on_pause_();
    };
    options.start_thread = [this](std::function<void()> body, std::thread* thread) {
      if (refuse_thread_) return false;
      *thread = std::thread(std::move(body));
      return true;
    };
    workbench_ = std::make_unique<Workbench>(prompt_, std::move(options));
    auto flows = std::make_unique<ScriptedFlows>();
    flows_ = flows.get();
    workbench_->SetFlows(std::move(flows));
  }

  TaskList::TaskRef Queue(TaskOperation operation, std::string source_object = "", std::string selector = "") {
    TaskNames names;
    names.source_database = operation == kRestoreBackup ? "folder" : operation >= kBackupObjects ? "" : "src";
    names.target_database = "tgt";
    (operation >= kBackupObjects ? names.target_object : names.source_object) = std::move(source_object);
    names.backup_selector = std::move(selector);
    return workbench_->QueueTask(MakeTask(operation, names));
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> texts;
    for (const auto& line : workbench_->output().Lines())
      texts.push_back(data::RegexReplace(line.text, "\\]\\([0-9]+\\)", "](N)"));
    return texts;
  }

  // Runs the queued tasks to the end of the controller.
  void RunAll() {
    workbench_->EnsureControllerRunning();
    workbench_->JoinController();
  }

  workspace::ScriptedUserPrompt prompt_;
  std::atomic<int> pauses_{0};
  std::function<void()> on_pause_;  // set before the controller starts
  bool refuse_thread_ = false;
  ScriptedFlows* flows_ = nullptr;
  std::unique_ptr<Workbench> workbench_;
};

TEST_F(ControllerTest, EveryOperationRunsItsStepsInOrderInOnePass) {
  Queue(kCloneDatabase);
  Queue(kMigrateDatabase);
  Queue(kMigrateTables);
  Queue(kMigrateViews);
  Queue(kMigrateTable, "t1");
  Queue(kMigrateView, "v1");
  Queue(kBackupObjects, "", "A");
  Queue(kBackupObject, "t2", "T");
  Queue(kBackupObject, "v2", "V");
  Queue(kRestoreBackup);
  RunAll();

  EXPECT_EQ(Lines(), ExpectedLines("operation_steps.txt"));
  for (const auto& task : workbench_->tasks().Snapshot()) {
    EXPECT_EQ(task.state, kTaskSucceeded);
    EXPECT_EQ(task.state_text, "SUCCESS");
    EXPECT_EQ(task.progress, 100);
  }
  // One pass ran everything; its pause ended the controller.
  EXPECT_EQ(pauses_, 1);
  EXPECT_EQ(workbench_->controller_state(), ControllerState::kIdle);
}

TEST_F(ControllerTest, FailuresDecideOnlyWhereTheWorkerSaysSo) {
  flows_->hooks["SelectSourceDatabase"] = [](TaskRunContext& run) { return run.source_object != "bad_db"; };
  // MigrateOneTable's failure is reported per table and does not fail its task.
  // A backup of all objects fails when the target cannot list its views (or tables).
  for (const char* step : {"MigrateOneTable", "MigrateOneView", "BackupOneTable", "BackupAllViews",
                           "CreateTargetDatabase", "UseSourceDatabase", "RestoreBackup"}) {
    flows_->hooks[step] = [](TaskRunContext&) { return false; };
  }
  auto bad_source = Queue(kMigrateTable, "bad_db");
  auto table_fails = Queue(kMigrateTable, "t1");
  // Tasks queued in one second share their stamp, yet each keeps its own outcome.
  ASSERT_EQ(bad_source->stamp, table_fails->stamp);
  const std::vector<TaskList::TaskRef> failing = {bad_source,
                                                  Queue(kMigrateView, "v1"),
                                                  Queue(kBackupObject, "t2", "T"),
                                                  Queue(kBackupObject, "x", "X"),
                                                  Queue(kBackupObjects, "", "A"),
                                                  Queue(kCloneDatabase),
                                                  Queue(kMigrateViews),
                                                  Queue(kRestoreBackup)};
  RunAll();

  EXPECT_EQ(table_fails->state, kTaskSucceeded);
  for (const TaskList::TaskRef& task : failing) {
    EXPECT_EQ(task->state, kTaskFailed) << task->operation;
    EXPECT_EQ(task->state_text, "FAILURE");
  }
  EXPECT_EQ(failing.back()->progress, 100);  // the restore's
  // The failed source selection and the failed creation stop their tasks before anything else
  // of them runs.
  EXPECT_EQ(Lines(), ExpectedLines("failing_steps.txt"));
}

TEST_F(ControllerTest, StopDuringAFlowEndsItsLoopAndStillStartsTheRestOfThePassConnectionsWait) {
  Event first_table_done, stop_asked;
  // A table loop as the migration flows run it: one line per table, ended by a stop request.
  flows_->hooks["MigrateAllTables"] = [&](TaskRunContext& run) {
    for (const char* table : {"a", "b", "c"}) {
      if (run.StopRequested()) {
        workspace::WriteOutput(run.output(), "T::Terminaled");
        break;
      }
      workspace::WriteOutput(run.output(), "table %s", table);
      if (table[0] == 'a') BlockHere(first_table_done, stop_asked);
    }
    return true;
  };
  auto first = Queue(kMigrateTables);
  auto second = Queue(kMigrateTables);
  EXPECT_TRUE(workbench_->AllowConnectionCommand());
  workbench_->EnsureControllerRunning();
  first_table_done.Wait();
  // A connection command asks to stop the tasks (No: they go on), so does the button (Yes).
  prompt_.AnswerYes(false);
  EXPECT_FALSE(workbench_->AllowConnectionCommand());
  EXPECT_EQ(workbench_->controller_state(), ControllerState::kRunning);
  prompt_.AnswerYes(true);
  workbench_->PressStartStop();
  EXPECT_EQ(workbench_->controller_state(), ControllerState::kStopRequested);
  // While stopping, the button and connection commands only tell the user to wait.
  workbench_->PressStartStop();
  EXPECT_FALSE(workbench_->AllowConnectionCommand());
  stop_asked.Set();
  workbench_->JoinController();
  EXPECT_TRUE(workbench_->AllowConnectionCommand());

  EXPECT_THAT(prompt_.texts(), ElementsAre("Some Tasks is Processing, STOP ALL?", "Some Tasks is Processing, STOP ALL?",
                                           "Some Tasks is Stopping, Please Wait!!!",
                                           "Some Tasks is Stopping, Please try again later!!!"));
  EXPECT_EQ(Lines(), ExpectedLines("stop_during_a_flow.txt"));
  EXPECT_EQ(first->state, kTaskSucceeded);
  EXPECT_EQ(second->state, kTaskSucceeded);
  EXPECT_EQ(pauses_, 1);
  EXPECT_EQ(workbench_->controller_state(), ControllerState::kIdle);
}

TEST_F(ControllerTest, StartedOnAnEmptyListItPassesUntilStoppedDuringThePause) {
  Event in_second_pause, release;
  on_pause_ = [&] {
    if (pauses_ == 2) BlockHere(in_second_pause, release);
  };
  prompt_.AnswerYes(false);  // the first stop question is cancelled
  prompt_.AnswerYes(true);
  workbench_->PressStartStop();  // idle: starts
  in_second_pause.Wait();
  workbench_->PressStartStop();  // cancelled
  EXPECT_EQ(workbench_->controller_state(), ControllerState::kRunning);
  workbench_->PressStartStop();  // confirmed
  EXPECT_EQ(workbench_->controller_state(), ControllerState::kStopRequested);
  release.Set();
  workbench_->JoinController();
  EXPECT_EQ(pauses_, 2);
  EXPECT_EQ(workbench_->controller_state(), ControllerState::kIdle);
  EXPECT_TRUE(Lines().empty());
}

TEST_F(ControllerTest, TaskQueuedDuringTheFinalPauseWaitsForTheNextStart) {
  Event in_pause, release;
  on_pause_ = [&] {
    if (pauses_ == 1) BlockHere(in_pause, release);
  };
  auto first = Queue(kMigrateTable, "t1");
  workbench_->EnsureControllerRunning();
  in_pause.Wait();
  auto late = Queue(kMigrateTable, "t2");
  workbench_->EnsureControllerRunning();  // a stop is pending: nothing starts
  release.Set();
  workbench_->JoinController();
  EXPECT_EQ(first->state, kTaskSucceeded);
  EXPECT_EQ(late->state, kTaskWaiting);
  EXPECT_EQ(late->state_text, "Waiting");

  RunAll();
  EXPECT_EQ(late->state, kTaskSucceeded);
  EXPECT_EQ(pauses_, 2);
}

TEST_F(ControllerTest, TasksMovedDeletedAndAppendedWhileOneRuns) {
  Event running, release;
  flows_->hooks["MigrateOneTable"] = BlockOn(running, release, "a");
  auto a = Queue(kMigrateTable, "a");
  auto b = Queue(kMigrateTable, "b");
  auto c = Queue(kMigrateTable, "c");
  auto d = Queue(kMigrateTable, "d");
  workbench_->EnsureControllerRunning();
  running.Wait();
  // The list is never held while a task runs: every edit goes through at once.
  TaskList& tasks = workbench_->tasks();
  EXPECT_EQ(a->state_text, "Working");
  EXPECT_TRUE(tasks.MoveDown(0));      // the running task moves: b a c d
  EXPECT_TRUE(tasks.MoveUp(3));        // d before c:              b a d c
  EXPECT_TRUE(tasks.DeleteAt(0));      // b goes:                  a d c
  auto e = Queue(kMigrateTable, "e");  // appended:            a d c e
  release.Set();
  workbench_->JoinController();

  // a, d, c and e ran in that order; b was deleted before it ran.
  EXPECT_EQ(Lines(), ExpectedLines("edited_while_running.txt"));
  EXPECT_EQ(b->state, kTaskWaiting);
  for (const auto& task : {a, c, d, e}) EXPECT_EQ(task->state, kTaskSucceeded);
  EXPECT_EQ(pauses_, 1);  // the appended task ran in the same pass
  // Edits at the edges change nothing.
  EXPECT_FALSE(tasks.MoveUp(0));
  EXPECT_FALSE(tasks.MoveDown(3));
  EXPECT_FALSE(tasks.DeleteAt(4));
  EXPECT_EQ(tasks.At(0), a);
  EXPECT_EQ(tasks.At(3), e);
  EXPECT_EQ(tasks.At(4), nullptr);
}

TEST_F(ControllerTest, DeletedOrClearedRunningTaskRecordsNothing) {
  for (const bool clear : {false, true}) {
    SCOPED_TRACE(clear ? "clear" : "delete");
    workbench_->output().Clear();
    workbench_->tasks().Clear();
    Event running, release;
    flows_->hooks["MigrateOneTable"] = BlockOn(running, release, "a");
    auto a = Queue(kMigrateTable, "a");
    auto b = Queue(kMigrateTable, "b");
    workbench_->EnsureControllerRunning();
    running.Wait();
    if (clear) {
      workbench_->tasks().Clear();
    } else {
      workbench_->tasks().DeleteAt(0);
    }
    release.Set();
    workbench_->JoinController();

    // a's run goes on to its end, then records nothing; b runs when only a was deleted.
    EXPECT_EQ(Lines(), ExpectedLines(clear ? "cleared_while_running.txt" : "deleted_while_running.txt"));
    EXPECT_EQ(a->state, kTaskWaiting);
    EXPECT_EQ(b->state, clear ? kTaskWaiting : kTaskSucceeded);
    EXPECT_EQ(workbench_->tasks().Size(), clear ? 0u : 1u);
    EXPECT_EQ(workbench_->controller_state(), ControllerState::kIdle);
  }
}

TEST_F(ControllerTest, ControllerThatCannotStartLeavesTheTaskWaiting) {
  refuse_thread_ = true;
  auto task = Queue(kMigrateTable, "a");
  workbench_->EnsureControllerRunning();
  EXPECT_THAT(Lines(), ElementsAre("Main Controller Error!"));
  EXPECT_EQ(workbench_->controller_state(), ControllerState::kIdle);
  EXPECT_EQ(task->state_text, "Waiting");
  refuse_thread_ = false;
  RunAll();
  EXPECT_EQ(task->state_text, "SUCCESS");
}

TEST_F(ControllerTest, DestroyingTheWorkbenchStopsARunningController) {
  Event running;
  flows_->hooks["MigrateAllTables"] = [&](TaskRunContext& run) {
    running.Set();
    // Waits for the stop request the destructor makes.
    while (!run.StopRequested()) std::this_thread::yield();
    return true;
  };
  Queue(kMigrateTables);
  Queue(kMigrateTables);
  workbench_->EnsureControllerRunning();
  running.Wait();
  workbench_.reset();  // must return: the running task ends, the second is not started
}

TEST(TaskListTest, LongNamesAreCutOnACharacterBoundary) {
  TaskNames names;
  names.source_object = std::string(254, 'x') + "\xC3\xA9" + "tail";  // é straddles byte 255
  const MigrationTask task = MakeTask(kMigrateTable, names);
  EXPECT_EQ(task.source_object, std::string(254, 'x'));
  EXPECT_EQ(task.state_text, "Waiting");
  // A restore's paths stay whole: cut, they would name another folder and file.
  names.source_database = "/" + std::string(300, 'f');
  names.target_database = "/" + std::string(300, 'd') + ".mdb";
  const MigrationTask restore = MakeTask(kRestoreBackup, names);
  EXPECT_EQ(restore.source_database, names.source_database);
  EXPECT_EQ(restore.target_database, names.target_database);
}

}  // namespace
}  // namespace tabulon::converters
