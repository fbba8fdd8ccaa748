#include "converters/workbench.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "base/text.h"
#include "converters/connect.h"
#include "converters/core_task_flows.h"
#include "converters/worker_procedures.h"
#include "source_sqlserver/connection.h"

namespace tabulon::converters {

void TaskRunContext::SetProgress(std::int32_t percent) const {
  if (task == nullptr) return;
  std::lock_guard guard(owner->tasks().lock());
  task->progress = percent;
}

bool TaskRunContext::StopRequested() const { return owner->controller_state() == ControllerState::kStopRequested; }

workspace::OutputPane* TaskRunContext::output() const { return &owner->output(); }

Workbench::Workbench(workspace::UserPrompt& prompt, WorkbenchOptions options)
    : prompt_(prompt),
      options_(std::move(options)),
      output_(options_.output_clock ? workspace::OutputPane(options_.output_clock) : workspace::OutputPane()) {
  condition_file_path = options_.program_folder + "/Condition.cfg";
  target_context_.output = &output_;
  target_context_.source = &source_;
  target_context_.target = &target_;
  target_context_.source_tree = &source_tree_;
  target_context_.target_tree = &target_tree_;
  target_context_.tree_lock = &tree_lock_;
  work_directory = data_folder();
  for (workspace::DbTreeView* tree : {&source_tree_, &target_tree_}) {
    tree->output = &output_;
  }
  source_tree_.connection = &source_;
  source_tree_.side_kind = workspace::kSourceSideKind;
  source_tree_.database_list_statement = source_sqlserver::kDatabaseListStatement;
  target_tree_.connection = &target_;
  target_tree_.side_kind = workspace::kTargetSideKind;
  target_context_.stop_running_tasks = [this] {
    if (AskToStop()) Sleep(std::chrono::milliseconds(1000));
  };
  target_context_.stop_requested = [this] { return state_ == ControllerState::kStopRequested; };
  flows_ = MakeCoreTaskFlows(*this);
  target_context_.connect = [this](target_access::Side side) {
    if (side == target_access::Side::kSource) {
      ConnectSource(*this);
    } else {
      ConnectTarget(*this);
    }
  };
  target_context_.refresh_target = [this] { RefreshTree(target_tree_); };
}

void Workbench::RefreshTree(workspace::DbTreeView& tree) {
  {
    std::lock_guard guard(tree_lock_);
    tree.RefreshTree();
  }
  ShowTreeMessages();
}

void Workbench::ShowTreeMessages() {
  std::vector<std::string> messages;
  {
    std::lock_guard guard(tree_lock_);
    for (workspace::DbTreeView* tree : {&source_tree_, &target_tree_}) {
      for (std::string& message : tree->user_messages) messages.push_back(std::move(message));
      tree->user_messages.clear();
    }
  }
  for (const std::string& message : messages) prompt_.ShowMessage(message);
}

Workbench::~Workbench() {
  AskToStop();
  {
    std::lock_guard guard(pause_mutex_);
    shutting_down_ = true;
  }
  pause_wakeup_.notify_all();
  JoinController();
}

std::int64_t Workbench::Now() const {
  if (options_.clock) return options_.clock();
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

TaskList::TaskRef Workbench::QueueTask(MigrationTask task) { return tasks_.Append(std::move(task), Now()); }

void Workbench::SetConditionOverride(const std::string& table, std::string condition) {
  std::lock_guard guard(condition_mutex_);
  condition_overrides_[AsciiLower(table)] = std::move(condition);
}

std::optional<std::string> Workbench::ConditionOverride(std::string_view table) const {
  std::lock_guard guard(condition_mutex_);
  const auto it = condition_overrides_.find(AsciiLower(table));
  if (it == condition_overrides_.end()) return std::nullopt;
  return it->second;
}

std::map<std::string, std::string> Workbench::ConditionOverrides() const {
  std::lock_guard guard(condition_mutex_);
  return condition_overrides_;
}

void Workbench::SetDisplayListener(std::function<void(const ControllerDisplay&)> listener) {
  std::lock_guard guard(display_mutex_);
  display_listener_ = std::move(listener);
}

void Workbench::SetRefreshTasksListener(std::function<void()> listener) {
  std::lock_guard guard(display_mutex_);
  refresh_listener_ = std::move(listener);
}

void Workbench::ShowHint(std::string_view text) {
  std::function<void(const std::string&)> listener;
  std::string copy;
  {
    std::lock_guard guard(display_mutex_);
    hint_ = std::string(text);
    listener = hint_listener_;
    copy = hint_;
  }
  if (listener) listener(copy);
}

std::string Workbench::hint() const {
  std::lock_guard guard(display_mutex_);
  return hint_;
}

void Workbench::SetHintListener(std::function<void(const std::string&)> listener) {
  std::lock_guard guard(display_mutex_);
  hint_listener_ = std::move(listener);
}

ControllerDisplay Workbench::display() const {
  std::lock_guard guard(display_mutex_);
  return display_;
}

void Workbench::UpdateDisplay(const std::function<void(ControllerDisplay&)>& change) {
  ControllerDisplay copy;
  std::function<void(const ControllerDisplay&)> listener;
  {
    std::lock_guard guard(display_mutex_);
    change(display_);
    copy = display_;
    listener = display_listener_;
  }
  if (listener) listener(copy);
}

void Workbench::Sleep(std::chrono::milliseconds duration) {
  if (options_.sleep) {
    options_.sleep(duration);
  } else {
    std::this_thread::sleep_for(duration);
  }
}

void Workbench::Pause() {
  if (options_.pause) {
    options_.pause();
    return;
  }
  std::unique_lock guard(pause_mutex_);
  pause_wakeup_.wait_for(guard, kPassPause, [this] { return shutting_down_.load(); });
}

bool Workbench::AskToStop() {
  auto expected = ControllerState::kRunning;
  return state_.compare_exchange_strong(expected, ControllerState::kStopRequested);
}

bool Workbench::StartControllerThread() {
  std::lock_guard guard(thread_mutex_);
  // A controller that has set Idle has nothing left to do but return.
  if (controller_.joinable()) controller_.join();
  // Running is set before the thread exists, so that its own final Idle can never be overwritten.
  state_ = ControllerState::kRunning;
  bool started = false;
  try {
    if (options_.start_thread) {
      started = options_.start_thread([this] { ControllerMain(); }, &controller_);
    } else {
      controller_ = std::thread([this] { ControllerMain(); });
      started = true;
    }
  } catch (const std::system_error&) {
    started = false;
  }
  if (!started) {
    state_ = ControllerState::kIdle;
    workspace::WriteOutput(&output_, "Main Controller Error!");
    return false;
  }
  Sleep(std::chrono::milliseconds(100));
  return true;
}

void Workbench::EnsureControllerRunning() {
  if (state_ == ControllerState::kIdle) {
    // Shown before the thread starts, so that a worker's later image 4 is never overwritten.
    UpdateDisplay([](ControllerDisplay& d) { d.button_image = 3; });
    StartControllerThread();
  }
  std::function<void()> refresh;
  {
    std::lock_guard guard(display_mutex_);
    refresh = refresh_listener_;
  }
  if (refresh) refresh();
}

void Workbench::StartController() {
  if (state_ != ControllerState::kIdle) return;
  UpdateDisplay([](ControllerDisplay& d) { d.button_image = 0; });
  StartControllerThread();
}

void Workbench::PressStartStop() {
  switch (state_.load()) {
    case ControllerState::kRunning:
      if (prompt_.AskOkCancel("Some Tasks is Processing, STOP ALL?") && AskToStop()) {
        UpdateDisplay([](ControllerDisplay& d) { d.button_image = 5; });
      }
      break;
    case ControllerState::kStopRequested: prompt_.ShowMessage("Some Tasks is Stopping, Please Wait!!!"); break;
    case ControllerState::kIdle: StartController(); break;
  }
}

bool Workbench::RequestStop() {
  if (!AskToStop()) return false;
  UpdateDisplay([](ControllerDisplay& d) { d.button_image = 5; });
  return true;
}

void Workbench::RequestControllerStop() {
  AskToStop();
  UpdateDisplay([](ControllerDisplay& d) { d.button_image = 4; });
}

bool Workbench::AllowConnectionCommand() {
  switch (state_.load()) {
    case ControllerState::kRunning:
      if (prompt_.AskOkCancel("Some Tasks is Processing, STOP ALL?")) AskToStop();
      return false;
    case ControllerState::kStopRequested:
      prompt_.ShowMessage("Some Tasks is Stopping, Please try again later!!!");
      return false;
    case ControllerState::kIdle: break;
  }
  return true;
}

void Workbench::JoinController() {
  std::lock_guard guard(thread_mutex_);
  if (controller_.joinable()) controller_.join();
}

void Workbench::ControllerMain() {
  Sleep(std::chrono::milliseconds(50));
  UpdateDisplay([](ControllerDisplay& d) {
    d.button_tooltip = "Stop tasks";
    d.status_text = "Some Tasks are WORKING!!!";
  });
  for (;;) {
    RunPass();
    Pause();
    if (state_ == ControllerState::kStopRequested || shutting_down_) break;
  }
  UpdateDisplay([](ControllerDisplay& d) {
    d.button_tooltip = "Start tasks";
    d.status_text = "NO PROCESSING!!!";
  });
  // Last: once Idle, a new controller may be started (and this thread joined).
  state_ = ControllerState::kIdle;
}

// Runs the waiting tasks in list order. The lock is held only while a task is found and
// prepared; the list is searched again from its start after every task, so tasks appended,
// moved, deleted or cleared meanwhile are seen as they stand now.
void Workbench::RunPass() {
  std::vector<TaskList::TaskRef> started;  // a record is started at most once per pass
  while (!shutting_down_) {
    TaskRunContext run;
    std::int32_t operation = 0;
    run.owner = this;
    run.source = &source_;
    run.target = &target_;
    {
      std::lock_guard guard(tasks_.lock());
      for (std::size_t i = 0; run.task == nullptr && i < tasks_.Size(); ++i) {
        TaskList::TaskRef task = tasks_.At(i);
        if (task->state != kTaskWaiting) continue;
        if (std::find(started.begin(), started.end(), task) != started.end()) continue;
        run.task = std::move(task);
      }
      if (run.task == nullptr) return;
      MigrationTask& task = *run.task;
      started.push_back(run.task);
      task.stamp = run.stamp = Now();
      task.progress = 0;
      run.source_database = task.source_database;
      run.source_object = task.source_object;
      run.target_database = task.target_database;
      run.target_object = task.target_object;
      run.backup_selector = task.backup_selector;
      task.state_text = "Working";
      operation = task.operation;
    }
    Sleep(std::chrono::milliseconds(50));
    RunWorker(operation, run);
  }
}

}  // namespace tabulon::converters
