// The queued unit of work (MigrationTask), its codes, and the ordered TaskList with its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::converters {

enum TaskState : std::int32_t { kTaskWaiting = 0, kTaskSucceeded = 1, kTaskFailed = 3 };
enum TaskCategory : std::int32_t { kCategoryMigration = 0x100, kCategoryBackup = 0x200 };
enum TaskOperation : std::int32_t {
  kCloneDatabase = 257,
  kMigrateDatabase = 258,
  kMigrateTables = 259,
  kMigrateViews = 260,
  kMigrateTable = 261,
  kMigrateView = 262,
  kBackupObjects = 513,
  kBackupObject = 514,
  // Replays a backup folder into an .mdb file (created when it does not exist). The task keeps
  // the folder in source_database and the .mdb file's path in target_database.
  kRestoreBackup = 515,
};

// The category an operation belongs to.
TaskCategory CategoryOf(TaskOperation operation);
// "MIGRATION" or "BACKUP", as the task viewer shows the category.
std::string_view CategoryText(std::int32_t category);

// Name fields keep at most this many bytes (cut on a character boundary).
inline constexpr std::size_t kMaxTaskName = 255;

struct MigrationTask {
  std::int32_t state = kTaskWaiting;
  std::int64_t stamp = 0;  // seconds since 1970: queued, then started
  std::int32_t category = 0;
  std::int32_t operation = 0;
  std::string backup_selector;  // "A", "T", "V"; empty for migrations
  std::string source_dbms;
  std::string target_dbms;
  std::string source_object;  // source table or view
  std::string source_database;
  std::string target_object;  // target table or view
  std::string target_database;
  std::string state_text;  // "Waiting", "Working", "SUCCESS", "FAILURE"
  std::int32_t progress = 0;
};

// Builds a task as a command queues it: every name cut to kMaxTaskName bytes, category from the
// operation, state Waiting. The stamp is set by TaskList::Append. The folder and file paths of a
// restore are kept whole: a cut path would name another folder or file.
struct TaskNames {
  std::string backup_selector, source_dbms, target_dbms, source_object, source_database, target_object, target_database;
};
MigrationTask MakeTask(TaskOperation operation, const TaskNames& names);

// The ordered task list. Every operation takes the list's recursive lock (TaskListLock) for its
// own short duration only; the controller never holds it while a task runs, so the thread that
// edits the list never waits for a task. Records are shared: a running task keeps its record
// while it is moved, and a record removed from the list lives on, detached, until its run ends.
class TaskList {
 public:
  using Lock = std::recursive_mutex;
  using TaskRef = std::shared_ptr<MigrationTask>;

  // TaskListLock: take it to make several operations (or reads of task fields) atomic.
  Lock& lock() const { return lock_; }

  // Appends `task` with the stamp `now` and returns its reference.
  TaskRef Append(MigrationTask task, std::int64_t now);
  // Out-of-range positions change nothing (and return false).
  bool DeleteAt(std::size_t position);
  void Clear();
  bool MoveUp(std::size_t position);
  bool MoveDown(std::size_t position);

  std::size_t Size() const;
  // Copies of the records, in order, for display.
  std::vector<MigrationTask> Snapshot() const;
  // The reference at a position (null when out of range).
  TaskRef At(std::size_t position) const;
  // True when `task` is still in the list.
  bool Contains(const TaskRef& task) const;
  // True when some task has state Waiting.
  bool HasWaiting() const;

 private:
  mutable Lock lock_;
  std::vector<TaskRef> tasks_;
};

}  // namespace tabulon::converters
