// Set-up shared by the desktop tests: a SQLite file made by the sqlite3 program, a task that
// holds the tree lock, a drag and drop, the tables the independent readers see in a .mdb, and
// small file and tree look-ups (a file's bytes: tabulon::testing::ReadTextFile).
#pragma once

#include <QtWidgets>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "converters/workbench.h"
#include "workspace/user_prompt.h"
#include "jet_readers.h"
#include "jet_test_files.h"

namespace tabulon::gui::testing {

// Runs `sql` into a new SQLite file at `path`; false when sqlite3 refuses it.
inline bool MakeSqlite(const QString& path, const char* sql) {
  QProcess process;
  process.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), path});
  if (!process.waitForStarted()) return false;
  process.write(sql);
  process.closeWriteChannel();
  return process.waitForFinished() && process.exitCode() == 0;
}

// Holds a tree lock on another thread until released, as a running task does.
class LockHolder {
 public:
  explicit LockHolder(std::recursive_mutex& lock) {
    thread_ = std::thread([this, &lock] {
      std::lock_guard guard(lock);
      locked_ = true;
      while (!release_) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    while (!locked_) std::this_thread::yield();
  }
  ~LockHolder() { Release(); }
  void Release() {
    release_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> locked_{false}, release_{false};
  std::thread thread_;
};

// The table names the independent readers (those installed) list in the closed file `mdb`,
// sorted; "<unreadable>" or "<readers disagree>" when they fail.
inline std::vector<std::string> ReaderTables(const std::string& mdb) {
  std::vector<std::vector<std::string>> lists;
  if (tabulon::testing::MdbToolsAvailable()) {
    auto listed = tabulon::testing::MdbToolsTables(mdb);
    lists.push_back(listed.ok() ? *listed : std::vector<std::string>{"<unreadable>"});
  }
  if (tabulon::testing::MdbReaderAvailable()) {
    auto read = tabulon::testing::ReadWithMdbReader(mdb);
    lists.emplace_back(read.ok() ? std::vector<std::string>{} : std::vector<std::string>{"<unreadable>"});
    for (const auto& table : read.ok() ? *read : std::vector<tabulon::testing::ReaderTable>{}) {
      lists.back().push_back(table.name);
    }
  }
  for (auto& list : lists) std::sort(list.begin(), list.end());
  if (lists.size() == 2 && lists[0] != lists[1]) return {"<readers disagree>"};
  return lists.empty() ? std::vector<std::string>{} : lists[0];
}

// Drags `mime` onto `widget` at `at` and drops it there; true when the drop was taken.
inline bool DragAndDrop(QAbstractItemView* widget, const QPoint& at, const QMimeData* mime) {
  QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, {});
  QApplication::sendEvent(widget->viewport(), &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, {});
  QApplication::sendEvent(widget->viewport(), &drop);
  return drop.isAccepted();
}

// Runs `act` on the next popup or modal widget of type T once it is up (a modal loop waits for it).
template <typename T>
void WhenUp(std::function<void(T*)> act) {
  QTimer::singleShot(20, [act] {
    QWidget* up = QApplication::activePopupWidget();
    if (auto* widget = qobject_cast<T*>(up != nullptr ? up : QApplication::activeModalWidget())) return act(widget);
    WhenUp<T>(act);
  });
}

// The first item of `kind` (with `text`, when given) in a side's core tree.
inline int FindItem(const workspace::DbTreeView& view, workspace::TreeNodeKind kind, const std::string& text = "") {
  for (size_t id = 0; id < view.tree.size(); ++id) {
    const int item = static_cast<int>(id);
    if (view.tree.Contains(item) && view.tree.node(item).kind == kind &&
        (text.empty() || view.tree.node(item).text == text)) {
      return item;
    }
  }
  return workspace::kNoItem;
}

inline bool WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

}  // namespace tabulon::gui::testing
