// One side's database tree on screen: draws the core's tree (workspace::DbTreeView) with an image per
// node kind, has the core fill a table's Fields and Indexes when it is first opened, keeps the core's selection in step
// with the widget's, and carries the tree's own commands: the context menus, double-click to switch database, in-place
// rename committed only by Enter, the condition tooltip over source tables, and drag from the source tree onto the
// target tree (which asks the main window to migrate).
#pragma once

#include <QHash>
#include <QTreeWidget>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "converters/workbench.h"
#include "target_access/target_context.h"

class QMenu;
class QMimeData;

namespace tabulon::gui {

// One entry of a tree's context menu.
struct TreeMenuEntry {
  int command = 0;
  QString text;
};

class DbTreeWidget : public QTreeWidget {
  Q_OBJECT

 public:
  DbTreeWidget(converters::Workbench& owner, target_access::Side side, QWidget* parent = nullptr);

  target_access::Side side() const { return side_; }

  // Redraws from the core's tree when it changed since the last drawing (or always when
  // `force`), keeping expanded items and the selection. The tree lock is only tried: false when
  // a task holds it (the caller tries again at the next tick).
  bool SyncFromModel(bool force = false);

  // One of the tree's commands (New Database, Delete Database, Clear all tables, Clear all Data,
  // Migration Condition, Drop Table, Drop View, Rename Table), as the menu bar forwards it or the
  // context menu sends it. Commands that do not belong to this side do nothing.
  void RunCommand(int command);

  // The context menu entries for the selected item (empty: no menu).
  std::vector<TreeMenuEntry> ContextMenuEntries() const;

  // Enter sets it, Escape clears it (the main window filters these keys during an edit).
  void SetCommitRename(bool commit) { commit_rename_ = commit; }

  // The tooltip over `item` on the source tree: the table's condition, else empty.
  QString TooltipFor(const QTreeWidgetItem* item) const;

  // The core's item id shown by `item` (workspace::kNoItem for none), and the widget item of an id.
  static int ItemId(const QTreeWidgetItem* item);
  QTreeWidgetItem* FindItem(int id) const;

  // Selects the core item `id` in both the widget and the core (drops, tests).
  void SelectItem(int id);

  // The data a drag of the source item `id` carries (the caller owns it): the item and the
  // drawing it was picked from, so a drop never acts on an item of a rebuilt tree.
  QMimeData* DragData(int id) const;

 signals:
  // The selected item's kind changed (kind as int; -1 when nothing is selected).
  void selectionKindChanged(int side, int kind);
  // Something was dropped on the target tree: its item under the drop is selected; the main
  // window runs Migrate.
  void migrateRequested();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void startDrag(Qt::DropActions actions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  void commitData(QWidget* editor) override;

 private:
  void dragLeaveEvent(QDragLeaveEvent* event) override;

  workspace::DbTreeView& Tree() const;
  void Rebuild(const workspace::DbTreeView& view);
  void ShowCoreSelection(const workspace::DbTreeView& view);
  // Has the core fill the table item `id` (its Fields and Indexes) and draws the result; later
  // when a task holds the tree lock.
  void FillTable(int id);
  // The expansion an item gets when it is drawn: what the user last chose, else the core's flag.
  bool ExpansionOf(const QTreeWidgetItem* item, bool core_expanded) const;
  static QString PathOf(const QTreeWidgetItem* item);
  void RememberExpansion(QTreeWidgetItem* item, bool expanded);
  void OnSelectionChanged();
  // Hands the widget's selection to the core; later when the tree lock is taken.
  void PushSelection(int id);
  void EmitKindIfChanged(int kind);
  void StartRename();
  void FinishRename(int item, const std::string& text, bool committed);
  void OpenConditionDialog();
  void SetDropHighlight(QTreeWidgetItem* item);
  QTreeWidgetItem* DropItemAt(const QPoint& pos) const;
  void FinishDrop(int target_item, int source_item, std::uint64_t source_revision);

  converters::Workbench& owner_;
  target_access::Side side_;
  std::uint64_t drawn_revision_ = UINT64_MAX;
  bool commit_rename_ = false;
  int rename_item_ = -1;
  bool syncing_ = false;
  std::unordered_map<int, QTreeWidgetItem*> items_;
  // Expansion the user chose, by the item's path of texts (ids change with every rebuild).
  QHash<QString, bool> user_expansion_;
  int pending_selection_ = -1;
  bool selection_retry_ = false;
  int emitted_kind_ = -2;
  int drop_highlight_ = -1;
};

}  // namespace tabulon::gui
