// The "Task List" tab: one row per queued task with a progress bar in its "Progress" cell, and
// a toolbar of five buttons (Clear All Tasks, Delete, Item Down, Item Up, Start/Stop). The rows
// are rebuilt from the core's task list by the main window's one-second timer (every fifth tick
// while the tab is in front) and at once when a command asked for it; the selected row and the
// scroll position survive a rebuild.
#pragma once

#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>

#include "converters/workbench.h"

class QAction;
class QProgressBar;
class QTableWidget;
class QToolBar;

namespace tabulon::gui {

class TaskViewer : public QWidget {
  Q_OBJECT

 public:
  explicit TaskViewer(converters::Workbench& owner, QWidget* parent = nullptr);

  // One tick of the main window's timer; `in_front`: the "Task List" tab is the current one.
  void Tick(bool in_front);
  // A forced rebuild: the next tick while in front rebuilds (the main window ticks at once).
  void ForceRebuild();
  // Rebuilds every row from the task list now.
  void Rebuild();
  // The Start/Stop button's image and tooltip (the controller's state).
  void ShowControllerDisplay(const converters::ControllerDisplay& display);

  QTableWidget* table() const { return table_; }
  QToolBar* toolbar() const { return toolbar_; }
  // The toolbar action of a command (5561, 5550, 5580, 5579, 5560), or null.
  QAction* action(int command) const;
  int refresh_counter() const { return refresh_counter_; }

 signals:
  // A forced rebuild wants a tick now (the main window runs its timer handler).
  void tickRequested();

 private:
  void AddButton(int command, int image, const char* tooltip, void (TaskViewer::*handler)());
  void ClearAllTasks();
  void DeleteTask();
  void MoveTaskDown();
  void MoveTaskUp();
  void PressStartStop();
  // The selected row, -1 when none.
  int SelectedRow() const;
  void SelectRow(int row);
  void SetCellText(int row, int column, const QString& text);
  QProgressBar* MakeBar();

  converters::Workbench& owner_;
  QToolBar* toolbar_ = nullptr;
  QTableWidget* table_ = nullptr;
  int refresh_counter_ = 0;
  // The bar showing each task of the last rebuild. Bars are the Progress cells' widgets (the table
  // owns and deletes them with their rows); the weak key never keeps a task alive and cannot be
  // confused with a later task at the same address. A task missing here has not been shown yet.
  std::map<std::weak_ptr<converters::MigrationTask>, QPointer<QProgressBar>, std::owner_less<>> bars_;
};

}  // namespace tabulon::gui
