#include "converters/task_model.h"

#include <algorithm>
#include <utility>

#include "data/utf8_cut.h"

namespace tabulon::converters {
namespace {

std::string Cut(const std::string& text) {
  if (text.size() <= kMaxTaskName) return text;
  const std::string_view head(text.data(), kMaxTaskName);
  return std::string(head.substr(0, data::CompleteUtf8Prefix(head)));
}

}  // namespace

TaskCategory CategoryOf(TaskOperation operation) {
  return operation >= kBackupObjects ? kCategoryBackup : kCategoryMigration;
}

std::string_view CategoryText(std::int32_t category) { return category == kCategoryBackup ? "BACKUP" : "MIGRATION"; }

MigrationTask MakeTask(TaskOperation operation, const TaskNames& names) {
  MigrationTask task;
  task.category = CategoryOf(operation);
  task.operation = operation;
  task.backup_selector = Cut(names.backup_selector);
  task.source_dbms = Cut(names.source_dbms);
  task.target_dbms = Cut(names.target_dbms);
  task.source_object = Cut(names.source_object);
  const bool paths = operation == kRestoreBackup;
  task.source_database = paths ? names.source_database : Cut(names.source_database);
  task.target_object = Cut(names.target_object);
  task.target_database = paths ? names.target_database : Cut(names.target_database);
  task.state_text = "Waiting";
  return task;
}

TaskList::TaskRef TaskList::Append(MigrationTask task, std::int64_t now) {
  task.state = kTaskWaiting;
  task.state_text = "Waiting";
  task.progress = 0;
  task.stamp = now;
  auto ref = std::make_shared<MigrationTask>(std::move(task));
  std::lock_guard guard(lock_);
  tasks_.push_back(ref);
  return ref;
}

bool TaskList::DeleteAt(std::size_t position) {
  std::lock_guard guard(lock_);
  if (position >= tasks_.size()) return false;
  tasks_.erase(tasks_.begin() + static_cast<std::ptrdiff_t>(position));
  return true;
}

void TaskList::Clear() {
  std::lock_guard guard(lock_);
  tasks_.clear();
}

bool TaskList::MoveUp(std::size_t position) {
  std::lock_guard guard(lock_);
  if (position == 0 || position >= tasks_.size()) return false;
  std::swap(tasks_[position - 1], tasks_[position]);
  return true;
}

bool TaskList::MoveDown(std::size_t position) {
  std::lock_guard guard(lock_);
  if (position + 1 >= tasks_.size()) return false;
  std::swap(tasks_[position], tasks_[position + 1]);
  return true;
}

std::size_t TaskList::Size() const {
  std::lock_guard guard(lock_);
  return tasks_.size();
}

std::vector<MigrationTask> TaskList::Snapshot() const {
  std::lock_guard guard(lock_);
  std::vector<MigrationTask> copies;
  copies.reserve(tasks_.size());
  for (const auto& task : tasks_) copies.push_back(*task);
  return copies;
}

TaskList::TaskRef TaskList::At(std::size_t position) const {
  std::lock_guard guard(lock_);
  return position < tasks_.size() ? tasks_[position] : nullptr;
}

bool TaskList::Contains(const TaskRef& task) const {
  std::lock_guard guard(lock_);
  return std::find(tasks_.begin(), tasks_.end(), task) != tasks_.end();
}

bool TaskList::HasWaiting() const {
  std::lock_guard guard(lock_);
  return std::any_of(tasks_.begin(), tasks_.end(), [](const TaskRef& t) { return t->state == kTaskWaiting; });
}

}  // namespace tabulon::converters
