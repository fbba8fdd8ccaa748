#include "task_viewer.h"

#include <QAction>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPalette>
#include <QProgressBar>
#include <QScrollBar>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cstddef>
#include <mutex>
#include <vector>

#include "command_ids.h"
#include "icons.h"

namespace tabulon::gui {
namespace {

using converters::MigrationTask;
using converters::TaskList;

constexpr int kProgressColumn = 1;
constexpr QColor kBarColour(27, 156, 213);

struct Column {
  const char* header;
  int width;  // 0: the header text's width plus 15 pixels
};
constexpr std::array<Column, 10> kColumns = {{
    {"NO.", 32},
    {"Progress", 72},
    {"Type", 62},
    {"State", 60},
    {"Source DBMS", 200},
    {"Source DB", 0},
    {"Source T(V)", 0},
    {"Targert DBMS", 200},
    {"Target DB", 0},
    {"Target T(V)", 0},
}};

// A task as one rebuild shows it: its reference (to find its bar) and a copy of its fields taken
// under the list's lock, so that the widgets are filled without holding it.
struct ShownTask {
  TaskList::TaskRef task;
  MigrationTask fields;
};

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TaskViewer::TaskViewer(converters::Workbench& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
  setObjectName(QStringLiteral("TasksViewer"));
  LoadGuiResources();

  toolbar_ = new QToolBar(this);
  toolbar_->setIconSize(QSize(16, 16));
  toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  toolbar_->setMovable(false);
  toolbar_->setFloatable(false);
  AddButton(kCmdClearAllTasks, 4, "Clear All Tasks", &TaskViewer::ClearAllTasks);
  AddButton(kCmdDeleteTask, 3, "Delete", &TaskViewer::DeleteTask);
  AddButton(kCmdItemDown, 2, "Item Down", &TaskViewer::MoveTaskDown);
  AddButton(kCmdItemUp, 1, "Item Up", &TaskViewer::MoveTaskUp);
  AddButton(kCmdStartStop, 5, "Stop Tasks", &TaskViewer::PressStartStop);

  table_ = new QTableWidget(0, static_cast<int>(kColumns.size()), this);
  table_->setShowGrid(true);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setContextMenuPolicy(Qt::NoContextMenu);
  table_->setWordWrap(false);
  table_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);  // the DBMS columns are wide
  table_->verticalHeader()->hide();
  QHeaderView* header = table_->horizontalHeader();
  header->setStretchLastSection(false);
  header->setHighlightSections(false);
  header->setMinimumSectionSize(8);
  const QFontMetrics metrics = header->fontMetrics();
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    const QString title = QString::fromLatin1(kColumns[i].header);
    auto* item = new QTableWidgetItem(title);
    item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const int column = static_cast<int>(i);
    table_->setHorizontalHeaderItem(column, item);
    table_->setColumnWidth(column, kColumns[i].width > 0 ? kColumns[i].width : metrics.horizontalAdvance(title) + 15);
  }
  // The fixed widths suit a small font; with the desktop's font the category and state texts still
  // show whole.
  const QFontMetrics cells = table_->fontMetrics();
  table_->setColumnWidth(2, std::max(kColumns[2].width, cells.horizontalAdvance("MIGRATION") + 12));
  table_->setColumnWidth(3, std::max(kColumns[3].width, cells.horizontalAdvance("SUCCESS") + 12));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(toolbar_);
  layout->addWidget(table_);

  ShowControllerDisplay(owner_.display());
}

void TaskViewer::AddButton(int command, int image, const char* tooltip, void (TaskViewer::*handler)()) {
  QAction* button = toolbar_->addAction(TaskButtonIcon(image), QString::fromLatin1(tooltip));
  button->setToolTip(QString::fromLatin1(tooltip));
  button->setData(command);
  button->setObjectName(CommandObjectName(command));
  connect(button, &QAction::triggered, this, handler);
}

QAction* TaskViewer::action(int command) const {
  for (QAction* candidate : toolbar_->actions()) {
    if (candidate->data().toInt() == command) return candidate;
  }
  return nullptr;
}

void TaskViewer::ShowControllerDisplay(const converters::ControllerDisplay& display) {
  QAction* button = action(kCmdStartStop);
  if (button == nullptr) return;
  button->setIcon(TaskButtonIcon(display.button_image));
  button->setText(Text(display.button_tooltip));
  button->setToolTip(Text(display.button_tooltip));
}

void TaskViewer::Tick(bool in_front) {
  if (!in_front) return;
  if (refresh_counter_ <= 3) {
    ++refresh_counter_;
    return;
  }
  Rebuild();
  refresh_counter_ = 0;
}

void TaskViewer::ForceRebuild() {
  refresh_counter_ = 5;
  emit tickRequested();
}

QProgressBar* TaskViewer::MakeBar() {
  auto* bar = new QProgressBar;
  bar->setRange(0, 100);
  bar->setTextVisible(false);
  // The palette serves the styles that paint with it, the style sheet the others.
  QPalette palette = bar->palette();
  palette.setColor(QPalette::Highlight, kBarColour);
  bar->setPalette(palette);
  bar->setStyleSheet(
      QStringLiteral("QProgressBar { border: 1px solid #a0a0a0; background: white; }"
                     "QProgressBar::chunk { background-color: rgb(27, 156, 213); }"));
  return bar;
}

void TaskViewer::SetCellText(int row, int column, const QString& text) {
  // Items are reused, so that a rebuild keeps the selection and the view's position.
  if (QTableWidgetItem* item = table_->item(row, column)) {
    if (item->text() != text) item->setText(text);
  } else {
    table_->setItem(row, column, new QTableWidgetItem(text));
  }
}

void TaskViewer::Rebuild() {
  QScrollBar* horizontal = table_->horizontalScrollBar();
  QScrollBar* vertical = table_->verticalScrollBar();
  const int horizontal_position = horizontal->value();
  const int vertical_position = vertical->value();
  const int selected = SelectedRow();

  // The list's lock is held only while the records are copied: the controller never holds it
  // while a task runs, so this never waits for a task.
  std::vector<ShownTask> shown;
  {
    TaskList& tasks = owner_.tasks();
    std::lock_guard guard(tasks.lock());
    const std::size_t count = tasks.Size();
    shown.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      TaskList::TaskRef task = tasks.At(i);
      if (task == nullptr) break;
      // A task shown for the first time starts its bar at 5 per cent, until the controller
      // starts it (which sets 0).
      if (bars_.find(task) == bars_.end() && task->progress == 0) task->progress = 5;
      shown.push_back({task, *task});
    }
  }

  table_->setUpdatesEnabled(false);
  const int rows = static_cast<int>(shown.size());
  const bool resized = table_->rowCount() != rows;
  // Rows past the end are removed with their bars; the remaining rows keep their items and bars.
  if (resized) table_->setRowCount(rows);
  decltype(bars_) bars;
  for (int row = 0; row < rows; ++row) {
    const ShownTask& entry = shown[static_cast<std::size_t>(row)];
    const MigrationTask& task = entry.fields;
    SetCellText(row, 0, QStringLiteral("%1").arg(row + 1, 2, 10, QLatin1Char('0')));
    SetCellText(row, kProgressColumn, QStringLiteral(" "));
    SetCellText(row, 2, QString::fromLatin1(converters::CategoryText(task.category)));
    SetCellText(row, 3, Text(task.state_text));
    SetCellText(row, 4, Text(task.source_dbms));
    SetCellText(row, 5, Text(task.source_database));
    SetCellText(row, 6, Text(task.source_object));
    SetCellText(row, 7, Text(task.target_dbms));
    SetCellText(row, 8, Text(task.target_database));
    SetCellText(row, 9, Text(task.target_object));
    auto* bar = qobject_cast<QProgressBar*>(table_->cellWidget(row, kProgressColumn));
    if (bar == nullptr) {
      bar = MakeBar();
      table_->setCellWidget(row, kProgressColumn, bar);
    }
    bar->setValue(std::clamp(task.progress, 0, 100));
    bars[entry.task] = bar;
  }
  // Tasks that left the list drop out of the map here; their rows went with them.
  bars_.swap(bars);

  if (selected >= 0 && selected < rows) {
    SelectRow(selected);
  } else {
    table_->clearSelection();
  }
  if (resized) table_->doItemsLayout();  // the scroll ranges follow the new row count now
  horizontal->setValue(horizontal_position);
  vertical->setValue(vertical_position);
  table_->setUpdatesEnabled(true);
}

int TaskViewer::SelectedRow() const {
  const QModelIndexList rows = table_->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void TaskViewer::SelectRow(int row) {
  if (SelectedRow() == row && table_->currentRow() == row) return;
  table_->selectRow(row);
}

void TaskViewer::ClearAllTasks() {
  table_->setRowCount(0);
  bars_.clear();
  owner_.tasks().Clear();
}

void TaskViewer::DeleteTask() {
  const int row = SelectedRow();
  if (row < 0) return;
  if (!owner_.tasks().DeleteAt(static_cast<std::size_t>(row))) return;
  // The selection does not pass to the next task: a second press must not delete it unseen.
  table_->clearSelection();
  Rebuild();
  ForceRebuild();
}

// The moved row is shown in its new place at once and stays selected.
void TaskViewer::MoveTaskDown() {
  const int row = SelectedRow();
  if (row < 0 || !owner_.tasks().MoveDown(static_cast<std::size_t>(row))) return;
  Rebuild();
  SelectRow(row + 1);
}

void TaskViewer::MoveTaskUp() {
  const int row = SelectedRow();
  if (row < 0 || !owner_.tasks().MoveUp(static_cast<std::size_t>(row))) return;
  Rebuild();
  SelectRow(row - 1);
}

void TaskViewer::PressStartStop() { owner_.PressStartStop(); }

}  // namespace tabulon::gui
