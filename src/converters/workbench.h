// The program's core object: everything the main window of a front end shows and every operation
// works on. It owns both connections (with their profiles), the output pane, both trees as data,
// the task list, the controller thread and its state, the condition file path and the backup
// folder choice. Questions to the user go through the UserPrompt it is given.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "converters/migration_report.h"
#include "converters/task_flows.h"
#include "converters/task_model.h"
#include "data/db_connection.h"
#include "workspace/db_tree.h"
#include "workspace/output_pane.h"
#include "workspace/user_prompt.h"
#include "target_access/target_context.h"

namespace tabulon::converters {

enum class ControllerState : std::uint8_t { kIdle = 0, kRunning = 2, kStopRequested = 99 };

// What the task viewer's Start/Stop button and the main status pane show.
struct ControllerDisplay {
  int button_image = 5;
  std::string button_tooltip = "Stop Tasks";
  std::string status_text = "Main Controller:IDLE";
};

struct WorkbenchOptions {
  // Folder of tabulon.cfg and Condition.cfg; the condition file path is built from it.
  std::string program_folder = ".";
  // Folder of data_cache and backup; empty: the program folder.
  std::string data_folder;
  // Time stamps of output lines; null: the local time.
  workspace::OutputPane::Clock output_clock;
  // Seconds since 1970 for task stamps; null: the system clock.
  std::function<std::int64_t()> clock;
  // The short waits (50 ms before a pass and a worker, 100 ms after a start); null: sleeping.
  std::function<void(std::chrono::milliseconds)> sleep;
  // The pause after every pass, run on the controller thread; null: 3 seconds (cut short only
  // when the Workbench is destroyed).
  std::function<void()> pause;
  // Creates the controller thread; null: std::thread. Returning false (or throwing) counts as a
  // failure to create it.
  std::function<bool(std::function<void()> body, std::thread* thread)> start_thread;
};

class Workbench {
 public:
  static constexpr std::chrono::milliseconds kPassPause{3000};

  explicit Workbench(workspace::UserPrompt& prompt, WorkbenchOptions options = {});
  // Asks a running controller to stop, lets the running task end and joins the thread.
  ~Workbench();
  Workbench(const Workbench&) = delete;
  Workbench& operator=(const Workbench&) = delete;

  data::DbConnection& source() { return source_; }
  data::DbConnection& target() { return target_; }
  workspace::OutputPane& output() { return output_; }
  workspace::UserPrompt& prompt() { return prompt_; }
  TaskList& tasks() { return tasks_; }
  workspace::DbTreeView& source_tree() { return source_tree_; }
  workspace::DbTreeView& target_tree() { return target_tree_; }
  // What the target adapter needs; the front end fills in its command hooks.
  target_access::TargetContext& target_context() { return target_context_; }

  const std::string& program_folder() const { return options_.program_folder; }
  // Where data_cache and backup go.
  const std::string& data_folder() const {
    return options_.data_folder.empty() ? options_.program_folder : options_.data_folder;
  }
  // program folder + "/Condition.cfg"
  std::string condition_file_path;
  // The folder backups go to; empty: "backup" in the data folder.
  std::string backup_folder;
  // True once the user chose a backup folder.
  bool backup_folder_chosen = false;
  bool auto_backup = false;
  // Rows go into the target as INSERT statements even where it takes typed rows (see
  // SourceContext::insert_statements).
  bool insert_statements = false;
  // Set on a Workbench that plans a migration (migration_plan.h): the migration flows make the
  // tables, keys, indexes, relationships and views of a scratch file, but count each table's rows
  // and measure their values instead of copying them. Set before the controller starts.
  bool planning = false;
  // The user's type map ([TypeMap] of tabulon.cfg, or the command line's --type-map); replaced
  // and taken under tree_lock(), so a task keeps the map it started a table with.
  std::shared_ptr<const source_common::TypeMap> type_map = std::make_shared<const source_common::TypeMap>();
  // The folder the migrate and backup work writes into: the program's stand-in for a current
  // directory, which commands and flows move as they go (relative file names resolve against
  // it). Starts at the data folder.
  std::string work_directory;
  // Each side's DBMS text ("Microsoft SQL Server[16.00.1000]"), set by Connect; queued tasks
  // and the tree captions show it.
  std::string source_dbms;
  std::string target_dbms;
  std::string charset_name;

  // Held while either tree is rebuilt or changed, and by front ends while they read a tree:
  // tasks rebuild the trees on the controller thread. A task may hold it while it asks the user
  // something (a failed reconnection), so a user-interface thread must only try_lock it and
  // draw later when it is taken, never block on it.
  std::recursive_mutex& tree_lock() { return tree_lock_; }
  // Rebuilds a tree under the tree lock, then shows what the refresh left for the user.
  void RefreshTree(workspace::DbTreeView& tree);
  // Shows (and clears) the messages the trees' refreshes left for the user.
  void ShowTreeMessages();

  // The hint area: commands put their hint here and bring it to the front.
  void ShowHint(std::string_view text);
  std::string hint() const;
  void SetHintListener(std::function<void(const std::string&)> listener);

  // What the migration flows did, per table and object.
  MigrationReport& report() { return report_; }

  // Conditions used instead of Condition.cfg's for this Workbench's life (a command line's
  // --where), by table name without regard to case; the condition file is not changed.
  void SetConditionOverride(const std::string& table, std::string condition);
  std::optional<std::string> ConditionOverride(std::string_view table) const;
  // Every override, by the lower-case table name.
  std::map<std::string, std::string> ConditionOverrides() const;

  // Sets the flows the worker procedures call (before the first task runs); the program's own
  // (MakeCoreTaskFlows) until then.
  void SetFlows(std::unique_ptr<TaskFlows> flows) { flows_ = std::move(flows); }
  TaskFlows* flows() const { return flows_.get(); }

  // Seconds since 1970, from the injected clock.
  std::int64_t Now() const;
  // Appends a task stamped now.
  TaskList::TaskRef QueueTask(MigrationTask task);

  // Front ends learn of changes here; called on whichever thread made the change, never with a
  // lock of the Workbench held. They must not wait for the user-interface thread.
  void SetDisplayListener(std::function<void(const ControllerDisplay&)> listener);
  void SetRefreshTasksListener(std::function<void()> listener);
  ControllerDisplay display() const;

  ControllerState controller_state() const { return state_.load(); }

  // After a command queued a task: starts the controller when it is idle (button image 3), then
  // asks the task viewer to refresh.
  void EnsureControllerRunning();
  // The Start/Stop button's path when idle: button image 0, then the controller is started.
  void StartController();
  // The Start/Stop button.
  void PressStartStop();
  // Asks a running controller to stop after its current task (closing the window): true when it
  // was running. No question is asked.
  bool RequestStop();
  // A worker found no waiting task: stop after this pass (button image 4).
  void RequestControllerStop();
  // The Connect and Delete commands ask this first; true when they may go on (controller idle).
  bool AllowConnectionCommand();
  // Blocks until the controller thread has ended (tests and shutdown).
  void JoinController();

 private:
  friend struct TaskRunContext;

  bool StartControllerThread();
  void ControllerMain();
  void RunPass();
  void Sleep(std::chrono::milliseconds duration);
  void Pause();
  // Running -> StopRequested; returns false when the controller was not running.
  bool AskToStop();
  void UpdateDisplay(const std::function<void(ControllerDisplay&)>& change);

  workspace::UserPrompt& prompt_;
  WorkbenchOptions options_;
  workspace::OutputPane output_;
  data::DbConnection source_;
  data::DbConnection target_;
  workspace::DbTreeView source_tree_;
  workspace::DbTreeView target_tree_;
  std::recursive_mutex tree_lock_;
  target_access::TargetContext target_context_;
  TaskList tasks_;
  std::unique_ptr<TaskFlows> flows_;
  MigrationReport report_;
  mutable std::mutex condition_mutex_;
  std::map<std::string, std::string> condition_overrides_;  // keyed by the lower-case name

  std::atomic<ControllerState> state_{ControllerState::kIdle};
  std::mutex thread_mutex_;  // guards controller_ (started and joined by front-end threads)
  std::thread controller_;

  mutable std::mutex display_mutex_;
  ControllerDisplay display_;
  std::string hint_;
  std::function<void(const std::string&)> hint_listener_;
  std::function<void(const ControllerDisplay&)> display_listener_;
  std::function<void()> refresh_listener_;

  std::mutex pause_mutex_;
  std::condition_variable pause_wakeup_;
  std::atomic<bool> shutting_down_{false};
};

}  // namespace tabulon::converters
