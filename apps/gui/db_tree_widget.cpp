#include "db_tree_widget.h"

#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <mutex>
#include <utility>

#include "command_ids.h"
#include "condition_dialog.h"
#include "config/condition_file.h"
#include "converters/commands.h"
#include "converters/tree_selection.h"
#include "icons.h"

namespace tabulon::gui {
namespace {

using workspace::TreeNodeKind;

constexpr int kIdRole = Qt::UserRole;
constexpr int kKindRole = Qt::UserRole + 1;
// How long a command or a finished edit waits before it tries the tree lock again.
constexpr int kLockRetryMs = 100;
constexpr int kSelectionRetryMs = 50;

// What a drag from the source tree carries: "<item id> <revision of the drawing>".
constexpr char kTreeItemMimeType[] = "application/x-tabulon-tree-item";

QString ToQt(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

int KindOf(const QTreeWidgetItem* item) { return item == nullptr ? -1 : item->data(0, kKindRole).toInt(); }

int KindOf(const workspace::DbTreeView& view) {
  const workspace::TreeNode* node = view.SelectedNode();
  return node == nullptr ? -1 : static_cast<int>(node->kind);
}

// The item and revision of a drag's payload; false when it is not one of ours.
bool ParseDragData(const QMimeData* mime, int* item, std::uint64_t* revision) {
  if (mime == nullptr || !mime->hasFormat(kTreeItemMimeType)) return false;
  const QList<QByteArray> parts = mime->data(kTreeItemMimeType).split(' ');
  if (parts.size() != 2) return false;
  bool id_ok = false;
  bool revision_ok = false;
  *item = parts[0].toInt(&id_ok);
  *revision = parts[1].toULongLong(&revision_ok);
  return id_ok && revision_ok && *item >= 0;
}

}  // namespace

DbTreeWidget::DbTreeWidget(converters::Workbench& owner, target_access::Side side, QWidget* parent)
    : QTreeWidget(parent), owner_(owner), side_(side) {
  setHeaderHidden(true);
  setColumnCount(1);
  setSelectionMode(QAbstractItemView::SingleSelection);
  // Labels are edited only through the Rename Table command.
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setAutoScroll(true);
  setAutoScrollMargin(10);
  setDropIndicatorShown(false);
  if (side_ == target_access::Side::kSource) {
    setDragDropMode(QAbstractItemView::DragOnly);
  } else {
    setDragDropMode(QAbstractItemView::DropOnly);
    setAutoExpandDelay(700);
  }
  connect(this, &QTreeWidget::itemSelectionChanged, this, &DbTreeWidget::OnSelectionChanged);
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    RememberExpansion(item, true);
    // A table opened for the first time is filled by the core, outside this signal: the
    // redraw that follows replaces the item.
    if (!syncing_ && KindOf(item) == static_cast<int>(TreeNodeKind::kTable) && item->childCount() == 0) {
      const int id = ItemId(item);
      QTimer::singleShot(0, this, [this, id] { FillTable(id); });
    }
  });
  connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) { RememberExpansion(item, false); });
}

workspace::DbTreeView& DbTreeWidget::Tree() const {
  return side_ == target_access::Side::kSource ? owner_.source_tree() : owner_.target_tree();
}

int DbTreeWidget::ItemId(const QTreeWidgetItem* item) {
  return item == nullptr ? workspace::kNoItem : item->data(0, kIdRole).toInt();
}

QTreeWidgetItem* DbTreeWidget::FindItem(int id) const {
  const auto found = items_.find(id);
  return found == items_.end() ? nullptr : found->second;
}

QString DbTreeWidget::PathOf(const QTreeWidgetItem* item) {
  QString path;
  for (; item != nullptr; item = item->parent()) path.prepend(item->text(0) + QChar('\n'));
  return path;
}

void DbTreeWidget::RememberExpansion(QTreeWidgetItem* item, bool expanded) {
  if (syncing_ || item == nullptr) return;
  user_expansion_.insert(PathOf(item), expanded);
}

bool DbTreeWidget::ExpansionOf(const QTreeWidgetItem* item, bool core_expanded) const {
  const auto chosen = user_expansion_.constFind(PathOf(item));
  return chosen == user_expansion_.constEnd() ? core_expanded : *chosen;
}

bool DbTreeWidget::SyncFromModel(bool force) {
  std::unique_lock lock(owner_.tree_lock(), std::try_to_lock);
  if (!lock.owns_lock()) return false;
  workspace::DbTreeView& view = Tree();
  // Only this thread can be inside a rebuild while the lock is ours; draw when it is done.
  if (view.refreshing) return false;
  // An open label editor would die with its item: the drawing waits for the edit to end.
  if (rename_item_ != workspace::kNoItem) return false;
  const bool current = view.tree.revision() == drawn_revision_;
  // A selection the widget could not hand over yet wins over the core's older one.
  if (selection_retry_ && current)
    view.selected = view.tree.Contains(pending_selection_) ? pending_selection_ : workspace::kNoItem;
  if (force || !current) {
    Rebuild(view);
  } else if (ItemId(currentItem()) != view.selected ||
             (view.selected == workspace::kNoItem && !selectedItems().isEmpty())) {
    syncing_ = true;
    ShowCoreSelection(view);
    syncing_ = false;
  }
  const int kind = KindOf(view);
  lock.unlock();
  EmitKindIfChanged(kind);
  return true;
}

void DbTreeWidget::Rebuild(const workspace::DbTreeView& view) {
  syncing_ = true;
  const int scrolled = verticalScrollBar()->value();
  clear();
  items_.clear();
  drop_highlight_ = workspace::kNoItem;
  const workspace::DbTree& tree = view.tree;
  const bool source = side_ == target_access::Side::kSource;
  // Depth first, so an item is expanded only after its children exist.
  struct Pending {
    int id;
    QTreeWidgetItem* parent;
  };
  std::vector<Pending> pending;
  for (auto it = tree.top_level().rbegin(); it != tree.top_level().rend(); ++it) pending.push_back({*it, nullptr});
  std::vector<std::pair<QTreeWidgetItem*, bool>> expansions;
  while (!pending.empty()) {
    const Pending next = pending.back();
    pending.pop_back();
    if (!tree.Contains(next.id)) continue;
    const workspace::TreeNode& node = tree.node(next.id);
    auto* item = next.parent == nullptr ? new QTreeWidgetItem(this) : new QTreeWidgetItem(next.parent);
    item->setText(0, ToQt(node.text));
    item->setIcon(0, NodeIcon(node.kind));
    item->setData(0, kIdRole, next.id);
    item->setData(0, kKindRole, static_cast<int>(node.kind));
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    // A table's fields and indexes are shown, not migrated on their own.
    const bool table_part = node.kind == TreeNodeKind::kColumn || node.kind == TreeNodeKind::kFieldsFolder ||
                            node.kind == TreeNodeKind::kIndex || node.kind == TreeNodeKind::kIndexesFolder;
    if (source && !table_part) flags |= Qt::ItemIsDragEnabled;
    item->setFlags(flags);
    if (view.NeedsFilling(next.id)) item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    items_[next.id] = item;
    if (!node.children.empty()) expansions.emplace_back(item, node.expanded);
    for (auto it = node.children.rbegin(); it != node.children.rend(); ++it) pending.push_back({*it, item});
  }
  for (auto& [item, expanded] : expansions) item->setExpanded(ExpansionOf(item, expanded));
  ShowCoreSelection(view);
  // A redraw leaves the view where the user had scrolled it.
  executeDelayedItemsLayout();
  verticalScrollBar()->setValue(scrolled);
  drawn_revision_ = tree.revision();
  syncing_ = false;
}

void DbTreeWidget::FillTable(int id) {
  std::unique_lock lock(owner_.tree_lock(), std::try_to_lock);
  if (!lock.owns_lock()) {
    QTimer::singleShot(kLockRetryMs, this, [this, id] { FillTable(id); });
    return;
  }
  workspace::DbTreeView& view = Tree();
  if (view.refreshing) {
    QTimer::singleShot(kLockRetryMs, this, [this, id] { FillTable(id); });
    return;
  }
  // A tree rebuilt since the drawing may give the id to another item: fill nothing then.
  if (view.tree.revision() == drawn_revision_) view.ExpandTable(id);
  lock.unlock();
  SyncFromModel(true);
}

void DbTreeWidget::ShowCoreSelection(const workspace::DbTreeView& view) {
  // Selecting would scroll to the item and open its parents: a redraw keeps what the user
  // opened and closed, and where the view stands.
  const bool scrolls = hasAutoScroll();
  setAutoScroll(false);
  if (QTreeWidgetItem* item = FindItem(view.selected)) {
    setCurrentItem(item);
  } else {
    clearSelection();
    setCurrentItem(nullptr);
  }
  setAutoScroll(scrolls);
}

void DbTreeWidget::EmitKindIfChanged(int kind) {
  if (kind == emitted_kind_) return;
  emitted_kind_ = kind;
  emit selectionKindChanged(static_cast<int>(side_), kind);
}

void DbTreeWidget::OnSelectionChanged() {
  if (syncing_) return;
  const QList<QTreeWidgetItem*> selected = selectedItems();
  PushSelection(selected.isEmpty() ? workspace::kNoItem : ItemId(selected.front()));
}

void DbTreeWidget::PushSelection(int id) {
  pending_selection_ = id;
  std::unique_lock lock(owner_.tree_lock(), std::try_to_lock);
  if (!lock.owns_lock()) {
    if (!selection_retry_) {
      selection_retry_ = true;
      QTimer::singleShot(kSelectionRetryMs, this, [this] {
        selection_retry_ = false;
        PushSelection(pending_selection_);
      });
    }
    return;
  }
  workspace::DbTreeView& view = Tree();
  if (view.refreshing) return;
  if (view.tree.revision() != drawn_revision_) {
    // The tree was rebuilt since it was drawn: the id may name another item now. Draw it
    // again (not from inside the selection signal) and let the user choose again.
    QTimer::singleShot(0, this, [this] { SyncFromModel(true); });
    return;
  }
  view.selected = view.tree.Contains(id) ? id : workspace::kNoItem;
  const int kind = KindOf(view);
  lock.unlock();
  emitted_kind_ = kind;
  emit selectionKindChanged(static_cast<int>(side_), kind);
}

void DbTreeWidget::SelectItem(int id) {
  syncing_ = true;
  if (QTreeWidgetItem* item = FindItem(id)) {
    setCurrentItem(item);
  } else {
    clearSelection();
    setCurrentItem(nullptr);
  }
  syncing_ = false;
  PushSelection(FindItem(id) == nullptr ? workspace::kNoItem : id);
}

void DbTreeWidget::RunCommand(int command) {
  std::unique_lock lock(owner_.tree_lock(), std::try_to_lock);
  if (!lock.owns_lock()) {
    QTimer::singleShot(kLockRetryMs, this, [this, command] { RunCommand(command); });
    return;
  }
  workspace::DbTreeView& view = Tree();
  // A selection still waiting for the lock is the one the user means.
  if (selection_retry_ && view.tree.revision() == drawn_revision_) {
    view.selected = view.tree.Contains(pending_selection_) ? pending_selection_ : workspace::kNoItem;
  }
  if (side_ == target_access::Side::kSource) {
    if (command != kCmdMigrationCondition) return;
    const converters::TreeSelection selection = converters::ReadSelection(view);
    // The dialog is modal: a task must be free to rebuild the trees meanwhile.
    lock.unlock();
    if (selection.kind != TreeNodeKind::kTable && selection.kind != TreeNodeKind::kView) return;
    ConditionDialog dialog(owner_, selection.grandparent, selection.text, selection.schema, this);
    dialog.exec();
    return;
  }
  // The commands lock the tree themselves (the lock is recursive); holding it here keeps this
  // thread from ever waiting for it while they run.
  switch (command) {
    case kCmdNewDatabase: converters::NewDatabase(owner_); break;
    case kCmdDeleteDatabase: converters::DeleteDatabase(owner_); break;
    case kCmdClearAllTables: converters::ClearAllTables(owner_); break;
    case kCmdClearAllData: converters::ClearAllData(owner_); break;
    case kCmdDropTable: converters::DropTable(owner_); break;
    case kCmdDropView: converters::DropView(owner_); break;
    case kCmdRenameTable: StartRename(); return;
    default: return;
  }
  lock.unlock();
  SyncFromModel(true);
}

// Runs with the tree lock held (RunCommand).
void DbTreeWidget::StartRename() {
  if (rename_item_ != workspace::kNoItem) return;
  const int item = converters::BeginRename(owner_);
  if (item == workspace::kNoItem) return;
  if (drawn_revision_ != Tree().tree.revision()) Rebuild(Tree());
  QTreeWidgetItem* label = FindItem(item);
  if (label == nullptr) return;
  commit_rename_ = false;
  rename_item_ = item;
  label->setFlags(label->flags() | Qt::ItemIsEditable);
  scrollToItem(label);
  editItem(label, 0);
  if (state() != QAbstractItemView::EditingState) {
    rename_item_ = workspace::kNoItem;
    label->setFlags(label->flags() & ~Qt::ItemIsEditable);
  }
}

void DbTreeWidget::commitData(QWidget* editor) {
  // The core renames the table and then the label follows; the edit never writes the label.
  if (rename_item_ != workspace::kNoItem) return;
  QTreeWidget::commitData(editor);
}

void DbTreeWidget::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  if (rename_item_ == workspace::kNoItem) {
    QTreeWidget::closeEditor(editor, hint);
    return;
  }
  const int item = rename_item_;
  rename_item_ = workspace::kNoItem;
  // Enter ends an edit with SubmitModelCache (when the widget is used without the main window's
  // key filter); Escape with RevertModelCache; losing the focus with NoHint.
  const bool committed = hint != QAbstractItemDelegate::RevertModelCache &&
                         (commit_rename_ || hint == QAbstractItemDelegate::SubmitModelCache);
  commit_rename_ = false;
  std::string text;
  if (const auto* line = qobject_cast<const QLineEdit*>(editor)) text = line->text().toStdString();
  QTreeWidget::closeEditor(editor, QAbstractItemDelegate::NoHint);
  if (QTreeWidgetItem* label = FindItem(item)) label->setFlags(label->flags() & ~Qt::ItemIsEditable);
  // Not from inside the editor's own event handling: the rename may redraw the whole tree.
  QTimer::singleShot(0, this, [this, item, text, committed] { FinishRename(item, text, committed); });
}

void DbTreeWidget::FinishRename(int item, const std::string& text, bool committed) {
  if (!committed) return;  // the label never changed
  std::unique_lock lock(owner_.tree_lock(), std::try_to_lock);
  if (!lock.owns_lock()) {
    QTimer::singleShot(kLockRetryMs, this, [this, item, text] { FinishRename(item, text, true); });
    return;
  }
  // A tree rebuilt under the edit may give the id to another table: rename nothing then.
  if (Tree().tree.revision() == drawn_revision_) converters::EndRename(owner_, item, text, true);
  lock.unlock();
  SyncFromModel(true);
}

std::vector<TreeMenuEntry> DbTreeWidget::ContextMenuEntries() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  if (selected.isEmpty()) return {};
  const QTreeWidgetItem* item = selected.front();
  QString name = item->text(0);
  while (name.startsWith(QChar(' '))) name.remove(0, 1);
  if (name.isEmpty()) return {};
  const bool target = side_ == target_access::Side::kTarget;
  switch (static_cast<TreeNodeKind>(KindOf(item))) {
    case TreeNodeKind::kRoot:
      if (target) return {{kCmdNewDatabase, QStringLiteral("New Database")}};
      return {};
    case TreeNodeKind::kDatabase:
      if (!target) return {};
      return {{kCmdDeleteDatabase, QStringLiteral("Delete Database")},
              {kCmdClearAllTables, QStringLiteral("Clear all tables")},
              {kCmdClearAllData, QStringLiteral("Clear all Data")}};
    case TreeNodeKind::kTable:
      if (!target) return {{kCmdMigrationCondition, QStringLiteral("Migration Condition")}};
      return {{kCmdDropTable, QStringLiteral("Drop Table ") + name},
              {kCmdRenameTable, QStringLiteral("Rename Table ") + name}};
    case TreeNodeKind::kView:
      if (!target) return {{kCmdMigrationCondition, QStringLiteral("Migration Condition")}};
      return {{kCmdDropView, QStringLiteral("Drop View ") + name}};
    default: return {};
  }
}

void DbTreeWidget::contextMenuEvent(QContextMenuEvent* event) {
  QTreeWidgetItem* item = event->reason() == QContextMenuEvent::Mouse ? itemAt(event->pos()) : currentItem();
  if (item == nullptr) item = topLevelItem(0);
  if (item == nullptr) return;
  SelectItem(ItemId(item));
  const std::vector<TreeMenuEntry> entries = ContextMenuEntries();
  if (entries.empty()) return;
  QMenu menu(this);
  for (const TreeMenuEntry& entry : entries) {
    QAction* action = menu.addAction(entry.text);
    action->setData(entry.command);
    action->setObjectName(CommandObjectName(entry.command));
  }
  const QPoint at = event->reason() == QContextMenuEvent::Mouse
                        ? event->globalPos()
                        : viewport()->mapToGlobal(visualItemRect(item).center());
  if (const QAction* chosen = menu.exec(at)) RunCommand(chosen->data().toInt());
}

void DbTreeWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  const QTreeWidgetItem* item = itemAt(event->position().toPoint());
  if (KindOf(item) != static_cast<int>(TreeNodeKind::kDatabase)) {
    QTreeWidget::mouseDoubleClickEvent(event);
    return;
  }
  event->accept();
  std::unique_lock lock(owner_.tree_lock(), std::try_to_lock);
  // A task holds the tree (and may be using the connection): the user double-clicks again.
  if (!lock.owns_lock() || Tree().tree.revision() != drawn_revision_) return;
  converters::SwitchDatabase(owner_, side_, ItemId(item));
  lock.unlock();
  SyncFromModel(true);
}

QString DbTreeWidget::TooltipFor(const QTreeWidgetItem* item) const {
  if (side_ != target_access::Side::kSource || KindOf(item) != static_cast<int>(TreeNodeKind::kTable)) return {};
  const QTreeWidgetItem* database = item->parent() == nullptr ? nullptr : item->parent()->parent();
  const std::string database_name = database == nullptr ? std::string() : database->text(0).toStdString();
  const std::string condition =
      config::ReadCondition(owner_.condition_file_path, database_name, item->text(0).toStdString());
  return ToQt(config::ConditionTooltip(condition));
}

bool DbTreeWidget::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip && side_ == target_access::Side::kSource) {
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString text = TooltipFor(itemAt(help->pos()));
    if (text.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), text, viewport());
    }
    return true;
  }
  return QTreeWidget::viewportEvent(event);
}

QMimeData* DbTreeWidget::DragData(int id) const {
  auto* mime = new QMimeData;
  mime->setData(kTreeItemMimeType, QByteArray::number(id) + ' ' + QByteArray::number(drawn_revision_));
  return mime;
}

void DbTreeWidget::startDrag(Qt::DropActions /*actions*/) {
  if (side_ != target_access::Side::kSource) return;
  QTreeWidgetItem* item = currentItem();
  if (item == nullptr) return;
  auto* drag = new QDrag(this);
  drag->setMimeData(DragData(ItemId(item)));
  drag->setPixmap(item->icon(0).pixmap(16, 16));
  drag->exec(Qt::CopyAction, Qt::CopyAction);
}

QTreeWidgetItem* DbTreeWidget::DropItemAt(const QPoint& pos) const {
  QTreeWidgetItem* item = itemAt(pos);
  return item != nullptr ? item : topLevelItem(0);
}

void DbTreeWidget::SetDropHighlight(QTreeWidgetItem* item) {
  const int id = ItemId(item);
  if (id == drop_highlight_) return;
  if (QTreeWidgetItem* old = FindItem(drop_highlight_)) {
    old->setData(0, Qt::BackgroundRole, QVariant());
    old->setData(0, Qt::ForegroundRole, QVariant());
  }
  drop_highlight_ = id;
  if (item != nullptr) {
    item->setBackground(0, palette().brush(QPalette::Highlight));
    item->setForeground(0, palette().brush(QPalette::HighlightedText));
  }
}

// Only the target tree takes drops: the source is only ever read from, so a drop onto it has
// nothing to do and is refused (the cursor shows that nothing would happen).
void DbTreeWidget::dragEnterEvent(QDragEnterEvent* event) {
  if (side_ != target_access::Side::kTarget || !event->mimeData()->hasFormat(kTreeItemMimeType)) {
    event->ignore();
    return;
  }
  setState(QAbstractItemView::DraggingState);  // lets Qt expand the item under a resting cursor
  event->setDropAction(Qt::CopyAction);
  event->accept();
  SetDropHighlight(DropItemAt(event->position().toPoint()));
}

void DbTreeWidget::dragMoveEvent(QDragMoveEvent* event) {
  if (side_ != target_access::Side::kTarget || !event->mimeData()->hasFormat(kTreeItemMimeType)) {
    event->ignore();
    return;
  }
  QTreeWidget::dragMoveEvent(event);  // Qt's scrolling near the edges and expanding on hover
  event->setDropAction(Qt::CopyAction);
  event->accept();
  SetDropHighlight(DropItemAt(event->position().toPoint()));
}

void DbTreeWidget::dragLeaveEvent(QDragLeaveEvent* event) {
  QTreeWidget::dragLeaveEvent(event);
  SetDropHighlight(nullptr);
}

void DbTreeWidget::dropEvent(QDropEvent* event) {
  SetDropHighlight(nullptr);
  stopAutoScroll();
  setState(QAbstractItemView::NoState);
  int source_item = workspace::kNoItem;
  std::uint64_t source_revision = 0;
  QTreeWidgetItem* item = DropItemAt(event->position().toPoint());
  if (side_ != target_access::Side::kTarget || item == nullptr ||
      !ParseDragData(event->mimeData(), &source_item, &source_revision)) {
    event->ignore();
    return;
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
  const int target_item = ItemId(item);
  // Finished after the drag has ended, as a posted command: Migrate asks the user first.
  QTimer::singleShot(0, this, [this, target_item, source_item, source_revision] {
    FinishDrop(target_item, source_item, source_revision);
  });
}

void DbTreeWidget::FinishDrop(int target_item, int source_item, std::uint64_t source_revision) {
  std::unique_lock lock(owner_.tree_lock(), std::try_to_lock);
  if (!lock.owns_lock()) {
    QTimer::singleShot(kLockRetryMs, this, [this, target_item, source_item, source_revision] {
      FinishDrop(target_item, source_item, source_revision);
    });
    return;
  }
  workspace::DbTreeView& view = Tree();
  workspace::DbTreeView& source = owner_.source_tree();
  // Either tree rebuilt since the drag began: the ids may name other objects, so nothing is
  // migrated on their word.
  if (view.tree.revision() != drawn_revision_ || source.tree.revision() != source_revision ||
      !source.tree.Contains(source_item) || !view.tree.Contains(target_item)) {
    lock.unlock();
    SyncFromModel(false);
    return;
  }
  source.selected = source_item;
  view.selected = target_item;
  syncing_ = true;
  setCurrentItem(FindItem(target_item));
  syncing_ = false;
  const int kind = KindOf(view);
  lock.unlock();
  emitted_kind_ = kind;
  emit selectionKindChanged(static_cast<int>(side_), kind);
  emit migrateRequested();
}

}  // namespace tabulon::gui
