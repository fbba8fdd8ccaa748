// The database trees over a real Workbench: a SQLite file as the source and a
// Jet .mdb as the target. What is drawn, the menus each kind offers, the
// selection handed to the core, in-place rename (only Enter commits), the
// target commands, drops from the source tree, the condition tooltip, and that
// the widget never waits for a tree lock held elsewhere.
#include <QApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <chrono>
#include <memory>
#include <tuple>

#include "command_ids.h"
#include "condition_dialog.h"
#include "config/condition_file.h"
#include "converters/connect.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "workspace/statement_output.h"
#include "db_tree_widget.h"
#include "gui_test_support.h"
#include "icons.h"
#include "jet_readers.h"
#include "target_access/access_files.h"

using namespace tabulon;
using gui::DbTreeWidget;
using workspace::TreeNodeKind;
using Side = target_access::Side;

namespace {

constexpr char kShop[] = R"sql(
create table customers(id integer primary key, name varchar(20));
create table orders(id integer primary key, total integer);
create view v_big as select id from orders where total > 10;
insert into customers values (1, 'Ann');
insert into orders values (1, 5), (2, 50), (150, 7);
)sql";

}  // namespace

class TreeWidgetTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> folder_;
  std::unique_ptr<workspace::ScriptedUserPrompt> prompt_;
  std::unique_ptr<converters::Workbench> owner_;
  std::unique_ptr<QWidget> window_;
  DbTreeWidget* source_ = nullptr;  // owned by window_
  DbTreeWidget* target_ = nullptr;
  std::string mdb_;

  workspace::DbTreeView& SourceTree() { return owner_->source_tree(); }
  workspace::DbTreeView& TargetTree() { return owner_->target_tree(); }

  static int Find(const workspace::DbTreeView& view, TreeNodeKind kind, const std::string& text = "") {
    return gui::testing::FindItem(view, kind, text);
  }
  std::vector<std::string> TargetTables() { return TargetTree().tree.ChildTexts(TargetTree().tables_folder); }
  bool RunOnTarget(const std::string& sql) {
    return workspace::ExecuteStatement(nullptr, owner_->target().session.get(), sql, 0);
  }
  std::vector<std::pair<int, QString>> EntriesFor(DbTreeWidget& widget, int id) {
    widget.SelectItem(id);
    std::vector<std::pair<int, QString>> entries;
    for (const gui::TreeMenuEntry& entry : widget.ContextMenuEntries()) entries.emplace_back(entry.command, entry.text);
    return entries;
  }
  bool OutputHas(const std::string& text) {
    const auto lines = owner_->output().Lines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const workspace::OutputLine& line) { return line.text == text; });
  }
  // Drags `mime` onto `widget` at `at` and drops it there, as the drag manager
  // delivers it: a drop reaches only the widget that took the drag's entry.
  // True when the drop was taken.
  static bool DragAndDrop(DbTreeWidget* widget, const QPoint& at, const QMimeData* mime) {
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, {});
    QApplication::sendEvent(widget->viewport(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, {});
    QApplication::sendEvent(widget->viewport(), &drop);
    return drop.isAccepted();
  }
  QLineEdit* Editor(DbTreeWidget& widget) { return widget.viewport()->findChild<QLineEdit*>(); }
  // The table names the independent readers list in the target file, sorted
  // (the target is closed for them and opened again afterwards).
  std::vector<std::string> TablesInFile() {
    data::CloseConnection(owner_->target());
    std::vector<std::vector<std::string>> lists;
    if (tabulon::testing::MdbToolsAvailable()) {
      auto listed = tabulon::testing::MdbToolsTables(mdb_);
      lists.push_back(listed.ok() ? *listed : std::vector<std::string>{"<unreadable>"});
    }
    if (tabulon::testing::MdbReaderAvailable()) {
      auto read = tabulon::testing::ReadWithMdbReader(mdb_);
      lists.push_back(read.ok() ? std::vector<std::string>{} : std::vector<std::string>{"<unreadable>"});
      if (read.ok())
        for (const auto& table : *read) lists.back().push_back(table.name);
    }
    converters::ConnectTarget(*owner_);
    for (auto& list : lists) std::sort(list.begin(), list.end());
    if (lists.size() == 2 && lists[0] != lists[1]) return {"<readers disagree>"};
    return lists.empty() ? std::vector<std::string>{} : lists[0];
  }

 private slots:
  void initTestCase() { gui::LoadGuiResources(); }

  void init() {
    folder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(folder_->isValid());
    const QString sqlite = folder_->filePath(QStringLiteral("Shop.sqlite"));
    QVERIFY(gui::testing::MakeSqlite(sqlite, kShop));
    prompt_ = std::make_unique<workspace::ScriptedUserPrompt>();
    owner_ = gui::testing::MakeSqliteWorkbench(*prompt_, folder_->path(), sqlite);
    QVERIFY(owner_->source().session != nullptr);

    mdb_ = folder_->filePath(QStringLiteral("Target.mdb")).toStdString();
    QVERIFY(target_access::CreateAccessDatabaseAt(owner_->target_context(), mdb_));
    owner_->target().profile.provider_name = data::kJetProviderName;
    owner_->target().profile.source_name = mdb_;
    converters::ConnectTarget(*owner_);
    QVERIFY(owner_->target().session != nullptr);
    for (const char* sql : {"create table Orders (id Long, total Long)", "create table Lines (id Long)",
                            "insert into Orders values (1, 10)", "create view vOrders as select id from Orders"}) {
      QVERIFY2(RunOnTarget(sql), sql);
    }
    {
      std::lock_guard guard(owner_->tree_lock());
      TargetTree().RefreshTree();
    }

    // Both trees in one window, as in the main window: focus moves between
    // them.
    window_ = std::make_unique<QWidget>();
    auto* layout = new QHBoxLayout(window_.get());
    source_ = new DbTreeWidget(*owner_, Side::kSource, window_.get());
    target_ = new DbTreeWidget(*owner_, Side::kTarget, window_.get());
    layout->addWidget(source_);
    layout->addWidget(target_);
    window_->resize(640, 480);
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QVERIFY(source_->SyncFromModel(true));
    QVERIFY(target_->SyncFromModel(true));
  }

  void cleanup() {
    window_.reset();
    owner_.reset();
    prompt_.reset();
    folder_.reset();
  }

  // Every core item is drawn once, with its text, id and kind, in the core's
  // order; the root and the current database start expanded.
  void drawsBothTreesAfterConnect() {
    for (auto [widget, view] : {std::pair{source_, &SourceTree()}, std::pair{target_, &TargetTree()}}) {
      QCOMPARE(widget->topLevelItemCount(), 1);
      int drawn = 0;
      for (size_t id = 0; id < view->tree.size(); ++id) {
        const int item = static_cast<int>(id);
        if (!view->tree.Contains(item)) continue;
        const workspace::TreeNode& node = view->tree.node(item);
        QTreeWidgetItem* shown = widget->FindItem(item);
        QVERIFY(shown != nullptr && DbTreeWidget::ItemId(shown) == item);
        QCOMPARE(shown->text(0).toStdString(), node.text);
        QCOMPARE(shown->childCount(), static_cast<int>(node.children.size()));
        QCOMPARE(DbTreeWidget::ItemId(shown->parent()), node.parent);
        QCOMPARE(shown->icon(0).pixmap(16, 16).toImage(), gui::NodeIcon(node.kind).pixmap(16, 16).toImage());
        ++drawn;
      }
      QVERIFY(drawn > 6);
      QVERIFY(widget->FindItem(view->root_item)->isExpanded());
      QVERIFY(widget->FindItem(view->current_database_item)->isExpanded());
    }
    // In the core's order.
    const QTreeWidgetItem* tables = source_->FindItem(SourceTree().tables_folder);
    QCOMPARE(tables->child(0)->text(0), QStringLiteral("customers"));
    QCOMPARE(tables->child(1)->text(0), QStringLiteral("orders"));
  }

  // A rebuild keeps what the user opened and closed, and the core's selection.
  void rebuildKeepsExpansionAndSelection() {
    source_->FindItem(SourceTree().tables_folder)->setExpanded(true);
    source_->FindItem(SourceTree().current_database_item)->setExpanded(false);
    {
      std::lock_guard guard(owner_->tree_lock());
      SourceTree().RefreshTree();  // new ids for everything, no selection
      SourceTree().selected = Find(SourceTree(), TreeNodeKind::kTable, "customers");
    }
    QVERIFY(source_->SyncFromModel());
    const int rebuilt = Find(SourceTree(), TreeNodeKind::kTable, "orders");
    QVERIFY(source_->FindItem(SourceTree().tables_folder)->isExpanded());           // the user opened it
    QVERIFY(!source_->FindItem(SourceTree().current_database_item)->isExpanded());  // and closed this
    QVERIFY(!source_->FindItem(SourceTree().views_folder)->isExpanded());
    QVERIFY(source_->FindItem(SourceTree().root_item)->isExpanded());
    QCOMPARE(DbTreeWidget::ItemId(source_->currentItem()), Find(SourceTree(), TreeNodeKind::kTable, "customers"));
    QVERIFY(source_->currentItem()->isSelected());

    // Only the selection moved: no rebuild, the widget follows.
    QTreeWidgetItem* drawn = source_->FindItem(rebuilt);
    {
      std::lock_guard guard(owner_->tree_lock());
      SourceTree().selected = rebuilt;
    }
    QVERIFY(source_->SyncFromModel());
    QCOMPARE(source_->currentItem(), drawn);
  }

  void contextMenuEntriesByKind() {
    using Entries = std::vector<std::pair<int, QString>>;
    // Fields and indexes under a table of each side, drawn like any other item.
    for (auto [widget, view, table] :
         {std::tuple{source_, &SourceTree(), "orders"}, std::tuple{target_, &TargetTree(), "Orders"}}) {
      std::lock_guard guard(owner_->tree_lock());
      const int item = Find(*view, TreeNodeKind::kTable, table);
      view->tree.Insert(view->tree.Insert(item, "Fields", TreeNodeKind::kFieldsFolder), "id", TreeNodeKind::kColumn);
      view->tree.Insert(view->tree.Insert(item, "Indexes", TreeNodeKind::kIndexesFolder), "pk", TreeNodeKind::kIndex);
      QVERIFY(widget->SyncFromModel());
      QCOMPARE(widget->FindItem(item)->childCount(), 2);
    }
    const workspace::DbTreeView& t = TargetTree();
    QCOMPARE(EntriesFor(*target_, t.root_item), (Entries{{gui::kCmdNewDatabase, "New Database"}}));
    QCOMPARE(EntriesFor(*target_, t.current_database_item), (Entries{{gui::kCmdDeleteDatabase, "Delete Database"},
                                                                     {gui::kCmdClearAllTables, "Clear all tables"},
                                                                     {gui::kCmdClearAllData, "Clear all Data"}}));
    QCOMPARE(EntriesFor(*target_, Find(t, TreeNodeKind::kTable, "Orders")),
             (Entries{{gui::kCmdDropTable, "Drop Table Orders"}, {gui::kCmdRenameTable, "Rename Table Orders"}}));
    QCOMPARE(EntriesFor(*target_, Find(t, TreeNodeKind::kView, "vOrders")),
             (Entries{{gui::kCmdDropView, "Drop View vOrders"}}));
    for (TreeNodeKind kind : {TreeNodeKind::kTablesFolder, TreeNodeKind::kViewsFolder, TreeNodeKind::kFieldsFolder,
                              TreeNodeKind::kColumn, TreeNodeKind::kIndexesFolder, TreeNodeKind::kIndex}) {
      QVERIFY(Find(t, kind) != workspace::kNoItem);
      QVERIFY2(EntriesFor(*target_, Find(t, kind)).empty(), QByteArray::number(static_cast<int>(kind)));
      QCOMPARE(t.selected, Find(t, kind));
    }

    const workspace::DbTreeView& s = SourceTree();
    const Entries condition{{gui::kCmdMigrationCondition, "Migration Condition"}};
    QVERIFY(EntriesFor(*source_, s.root_item).empty());
    QVERIFY(EntriesFor(*source_, s.current_database_item).empty());
    QCOMPARE(EntriesFor(*source_, Find(s, TreeNodeKind::kTable, "orders")), condition);
    QCOMPARE(EntriesFor(*source_, Find(s, TreeNodeKind::kView, "v_big")), condition);
    for (TreeNodeKind kind : {TreeNodeKind::kTablesFolder, TreeNodeKind::kFieldsFolder, TreeNodeKind::kColumn,
                              TreeNodeKind::kIndexesFolder, TreeNodeKind::kIndex}) {
      QVERIFY(Find(s, kind) != workspace::kNoItem);
      QVERIFY2(EntriesFor(*source_, Find(s, kind)).empty(), QByteArray::number(static_cast<int>(kind)));
    }
    // An item whose text is blank offers nothing, whatever its kind.
    QTreeWidgetItem* orders = target_->FindItem(Find(t, TreeNodeKind::kTable, "Orders"));
    target_->SelectItem(DbTreeWidget::ItemId(orders));
    orders->setText(0, QStringLiteral("   "));
    QVERIFY(target_->ContextMenuEntries().empty());
  }

  // Right-clicking empty space selects the root: no menu on the source, "New
  // Database" on the target. The target menu's action runs the command on its
  // tree.
  void rightClickSelectsAndRunsTheChosenEntry() {
    const QPoint empty(20, source_->viewport()->height() - 5);
    QVERIFY(source_->itemAt(empty) == nullptr);
    QContextMenuEvent on_source(QContextMenuEvent::Mouse, empty, source_->viewport()->mapToGlobal(empty));
    QApplication::sendEvent(source_->viewport(), &on_source);
    QCOMPARE(SourceTree().selected, SourceTree().root_item);
    QVERIFY(QApplication::activePopupWidget() == nullptr);

    QStringList offered;
    QTimer::singleShot(50, [&] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        for (QAction* action : menu->actions()) offered << action->text();
        menu->close();
      }
    });
    QContextMenuEvent on_target(QContextMenuEvent::Mouse, empty, target_->viewport()->mapToGlobal(empty));
    QApplication::sendEvent(target_->viewport(), &on_target);
    QCOMPARE(TargetTree().selected, TargetTree().root_item);
    QCOMPARE(offered, QStringList{"New Database"});

    // Right-click on Lines, choose "Drop Table Lines": the table leaves the
    // tree and the file.
    QTreeWidgetItem* lines = target_->FindItem(Find(TargetTree(), TreeNodeKind::kTable, "Lines"));
    target_->scrollToItem(lines);
    const QPoint at = target_->visualItemRect(lines).center();
    QTimer::singleShot(50, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (menu == nullptr) return;
      menu->setActiveAction(menu->findChild<QAction*>(gui::CommandObjectName(gui::kCmdDropTable)));
      QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent on_lines(QContextMenuEvent::Mouse, at, target_->viewport()->mapToGlobal(at));
    QApplication::sendEvent(target_->viewport(), &on_lines);
    QCOMPARE(TargetTables(), std::vector<std::string>{"Orders"});
    QVERIFY(target_->FindItem(Find(TargetTree(), TreeNodeKind::kTable, "Lines")) == nullptr);
    QCOMPARE(target_->FindItem(TargetTree().tables_folder)->childCount(), 1);
    QCOMPARE(TablesInFile(), std::vector<std::string>{"Orders"});
  }

  void selectingHandsTheItemToTheCore() {
    QSignalSpy kinds(target_, &DbTreeWidget::selectionKindChanged);
    const int orders = Find(TargetTree(), TreeNodeKind::kTable, "Orders");
    target_->setCurrentItem(target_->FindItem(orders));
    QCOMPARE(TargetTree().selected, orders);
    QCOMPARE(kinds.size(), 1);
    QCOMPARE(kinds.at(0).at(0).toInt(), 1);
    QCOMPARE(kinds.at(0).at(1).toInt(), 2);
    const int folder = TargetTree().tables_folder;
    QTest::mouseClick(target_->viewport(), Qt::LeftButton, {},
                      target_->visualItemRect(target_->FindItem(folder)).center());
    QCOMPARE(TargetTree().selected, folder);
    QCOMPARE(kinds.last().at(1).toInt(), 3);

    // A tree rebuilt behind the drawing: the old item's id may name another
    // node now, so the click is not handed over; the tree is drawn again.
    {
      std::lock_guard guard(owner_->tree_lock());
      TargetTree().RefreshTree();
    }
    const int spied = static_cast<int>(kinds.size());
    target_->setCurrentItem(target_->FindItem(orders));
    QCOMPARE(TargetTree().selected, workspace::kNoItem);
    QCOMPARE(static_cast<int>(kinds.size()), spied);
    QTRY_VERIFY(target_->currentItem() == nullptr);  // drawn again, as the core has it
    target_->setCurrentItem(target_->FindItem(orders));
    QCOMPARE(TargetTree().selected, orders);

    // While a task holds the tree, the selection reaches the core once it is
    // free.
    const int views = TargetTree().views_folder;
    {
      gui::testing::LockHolder task(owner_->tree_lock());
      target_->setCurrentItem(target_->FindItem(views));
      QTest::qWait(120);
      task.Release();
    }
    QTRY_COMPARE(TargetTree().selected, views);
    QCOMPARE(kinds.last().at(1).toInt(), 9);
  }

  // Only Enter commits (Escape, a click elsewhere, a refused name or a tree
  // rebuilt under the edit rename nothing); the label follows the core and the
  // file holds the new name.
  void renameCommitsOnlyOnEnter() {
    const int orders = Find(TargetTree(), TreeNodeKind::kTable, "Orders");
    const auto start = [&] {
      target_->SelectItem(orders);
      target_->RunCommand(gui::kCmdRenameTable);
      return Editor(*target_);
    };
    const auto unchanged = [&] {
      QTRY_VERIFY(Editor(*target_) == nullptr);
      QTest::qWait(20);
      QCOMPARE(TargetTables(), (std::vector<std::string>{"Lines", "Orders"}));
      QCOMPARE(target_->FindItem(orders)->text(0), QStringLiteral("Orders"));
    };

    QLineEdit* editor = start();
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->text(), QStringLiteral("Orders"));
    QVERIFY(!target_->SyncFromModel(true));  // the drawing waits for the edit
    QVERIFY(Editor(*target_) == editor);
    editor->setText(QStringLiteral("Escaped"));
    QTest::keyClick(editor, Qt::Key_Escape);
    unchanged();

    editor = start();
    QTRY_VERIFY(editor->hasFocus());
    editor->setText(QStringLiteral("Clicked"));
    source_->setFocus(Qt::MouseFocusReason);
    unchanged();

    editor = start();
    editor->setText(QStringLiteral("Lines"));  // another table's name: the target refuses it
    QTest::keyClick(editor, Qt::Key_Return);
    unchanged();

    editor = start();
    {
      std::lock_guard guard(owner_->tree_lock());
      TargetTree().RefreshTree();  // the id may name another table now
    }
    editor->setText(QStringLiteral("Elsewhere"));
    QTest::keyClick(editor, Qt::Key_Return);
    unchanged();

    editor = start();
    editor->setText(QStringLiteral("Invoices"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(TargetTables(), (std::vector<std::string>{"Lines", "Invoices"}));
    QTRY_VERIFY(target_->FindItem(orders) != nullptr && target_->FindItem(orders)->text(0) == "Invoices");

    // The main window's key filter saw Enter: the edit commits however it ends.
    editor = start();
    QTRY_VERIFY(editor->hasFocus());
    editor->setText(QStringLiteral("Bills"));
    target_->SetCommitRename(true);
    source_->setFocus(Qt::MouseFocusReason);
    QTRY_COMPARE(TargetTables(), (std::vector<std::string>{"Lines", "Bills"}));
    QCOMPARE(TablesInFile(), (std::vector<std::string>{"Bills", "Lines"}));
  }

  void targetCommandsChangeTheFileAndTheTree() {
    // Delete Database answered Cancel drops nothing.
    target_->SelectItem(TargetTree().current_database_item);
    prompt_->AnswerYes(false);
    target_->RunCommand(gui::kCmdDeleteDatabase);
    QVERIFY(QFile::exists(QString::fromStdString(mdb_)));
    QVERIFY(prompt_->texts().back().starts_with("Remove database ["));

    // Drop View removes the view's item and the query.
    target_->SelectItem(Find(TargetTree(), TreeNodeKind::kView, "vOrders"));
    target_->RunCommand(gui::kCmdDropView);
    QCOMPARE(Find(TargetTree(), TreeNodeKind::kView, "vOrders"), workspace::kNoItem);
    QCOMPARE(target_->FindItem(TargetTree().views_folder)->childCount(), 0);

    // The source tree ignores the target's commands, and the target the
    // condition command.
    source_->SelectItem(Find(SourceTree(), TreeNodeKind::kTable, "orders"));
    const std::uint64_t source_revision = SourceTree().tree.revision();
    for (int command : {gui::kCmdDropTable, gui::kCmdDeleteDatabase, gui::kCmdClearAllTables, gui::kCmdRenameTable}) {
      source_->RunCommand(command);
    }
    QCOMPARE(SourceTree().tree.revision(), source_revision);
    QVERIFY(Editor(*source_) == nullptr);
    target_->SelectItem(Find(TargetTree(), TreeNodeKind::kTable, "Orders"));
    target_->RunCommand(gui::kCmdMigrationCondition);
    QVERIFY(QApplication::activeModalWidget() == nullptr);

    // Clear all tables, confirmed twice, empties the file and redraws.
    target_->SelectItem(TargetTree().current_database_item);
    prompt_->AnswerYes(true);
    prompt_->AnswerYes(true);
    target_->RunCommand(gui::kCmdClearAllTables);
    QVERIFY(TargetTables().empty());
    QCOMPARE(target_->FindItem(TargetTree().tables_folder)->childCount(), 0);
    QVERIFY(TablesInFile().empty());
  }

  // Migration Condition on a source table opens the dialog for that table and
  // its database.
  void conditionCommandOpensTheDialog() {
    QVERIFY(config::SaveCondition(owner_->condition_file_path, "Shop", "orders", "id>100").ok());
    source_->SelectItem(Find(SourceTree(), TreeNodeKind::kTable, "orders"));
    QString statement, condition;
    QTimer::singleShot(50, [&] {
      auto* dialog = qobject_cast<gui::ConditionDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      statement = dialog->statement_label()->text();
      condition = dialog->condition_edit()->toPlainText();
      dialog->close_button()->click();
    });
    source_->RunCommand(gui::kCmdMigrationCondition);
    QCOMPARE(statement, QStringLiteral("select * from orders where"));
    QCOMPARE(condition, QStringLiteral("id>100"));
  }

  void tooltipShowsTheStoredCondition() {
    QVERIFY(config::SaveCondition(owner_->condition_file_path, "Shop", "orders", "id>100").ok());
    QVERIFY(config::SaveCondition(owner_->condition_file_path, "Other", "customers", "id<0").ok());
    QTreeWidgetItem* orders = source_->FindItem(Find(SourceTree(), TreeNodeKind::kTable, "orders"));
    QTreeWidgetItem* customers = source_->FindItem(Find(SourceTree(), TreeNodeKind::kTable, "customers"));
    source_->scrollToItem(orders);
    QCOMPARE(source_->TooltipFor(orders), QStringLiteral("Condition : id>100"));
    QCOMPARE(source_->TooltipFor(customers),
             QStringLiteral("Convert All"));  // Other's condition is not Shop's
    QVERIFY(source_->TooltipFor(source_->FindItem(SourceTree().current_database_item)).isEmpty());
    QVERIFY(source_->TooltipFor(source_->FindItem(Find(SourceTree(), TreeNodeKind::kView))).isEmpty());
    QVERIFY(target_->TooltipFor(target_->FindItem(Find(TargetTree(), TreeNodeKind::kTable, "Orders"))).isEmpty());

    const QPoint at = source_->visualItemRect(orders).center();
    QHelpEvent hover(QEvent::ToolTip, at, source_->viewport()->mapToGlobal(at));
    QApplication::sendEvent(source_->viewport(), &hover);
    QTRY_COMPARE(QToolTip::text(), QStringLiteral("Condition : id>100"));
    const QPoint empty(20, source_->viewport()->height() - 5);
    QHelpEvent nowhere(QEvent::ToolTip, empty, source_->viewport()->mapToGlobal(empty));
    QApplication::sendEvent(source_->viewport(), &nowhere);
    QTRY_VERIFY(!QToolTip::isVisible());
  }

  // A drop on the target selects the item under it (the root outside any item)
  // in the widget and the core, keeps the dragged source item selected, and
  // asks for Migrate.
  void dropOnTargetAsksForMigrate() {
    QSignalSpy migrate(target_, &DbTreeWidget::migrateRequested);
    const int orders = Find(SourceTree(), TreeNodeKind::kTable, "orders");
    QTreeWidgetItem* database = target_->FindItem(TargetTree().current_database_item);
    const QPoint over = target_->visualItemRect(database).center();
    std::unique_ptr<QMimeData> mime(source_->DragData(orders));

    QDragEnterEvent enter(over, Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(target_->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QCOMPARE(database->background(0), target_->palette().brush(QPalette::Highlight));
    const QPoint empty(20, target_->viewport()->height() - 5);
    QDragMoveEvent away(empty, Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(target_->viewport(), &away);
    QCOMPARE(database->background(0).style(), Qt::NoBrush);
    QCOMPARE(target_->FindItem(TargetTree().root_item)->background(0), target_->palette().brush(QPalette::Highlight));
    QDragMoveEvent back(over, Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(target_->viewport(), &back);
    QVERIFY(back.isAccepted());

    QDropEvent drop(over, Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(target_->viewport(), &drop);
    QVERIFY(drop.isAccepted());
    QTRY_COMPARE(migrate.size(), 1);
    QCOMPARE(TargetTree().selected, TargetTree().current_database_item);
    QCOMPARE(target_->currentItem(), database);
    QCOMPARE(SourceTree().selected, orders);
    QCOMPARE(database->background(0).style(), Qt::NoBrush);

    // Outside any item: the root.
    QVERIFY(DragAndDrop(target_, empty, mime.get()));
    QTRY_COMPARE(migrate.size(), 2);
    QCOMPARE(TargetTree().selected, TargetTree().root_item);

    // Drops onto the source tree, foreign data, and a drag from a source tree
    // rebuilt since are all refused: nothing is selected, Migrate is not asked
    // for.
    QVERIFY(!DragAndDrop(source_, source_->visualItemRect(source_->FindItem(orders)).center(), mime.get()));
    QMimeData foreign;
    foreign.setData("application/x-tabulon-tree-item", "orders");
    QVERIFY(!DragAndDrop(target_, over, &foreign));
    QMimeData text;
    text.setText(QStringLiteral("orders"));
    QVERIFY(!DragAndDrop(target_, over, &text));
    {
      std::lock_guard guard(owner_->tree_lock());
      SourceTree().RefreshTree();
    }
    QVERIFY(DragAndDrop(target_, over, mime.get()));  // taken, then found stale
    QTest::qWait(50);
    QCOMPARE(migrate.size(), 2);
    QCOMPARE(TargetTree().selected, TargetTree().root_item);
    QCOMPARE(SourceTree().selected, workspace::kNoItem);
  }

  void doubleClickSwitchesTheTargetDatabase() {
    QTreeWidgetItem* database = target_->FindItem(TargetTree().current_database_item);
    const std::string name = database->text(0).toStdString();
    owner_->output().Clear();
    QTest::mouseDClick(target_->viewport(), Qt::LeftButton, {}, target_->visualItemRect(database).center());
    QVERIFY(OutputHas("Select Database [" + name + "]"));
    QVERIFY(owner_->target().session != nullptr);
    QCOMPARE(target_->FindItem(TargetTree().current_database_item)->text(0).toStdString(), name);
    QCOMPARE(TargetTables(), (std::vector<std::string>{"Lines", "Orders"}));

    // Any other kind: no switch.
    owner_->output().Clear();
    QTreeWidgetItem* root = target_->FindItem(TargetTree().root_item);
    QTest::mouseDClick(target_->viewport(), Qt::LeftButton, {}, target_->visualItemRect(root).center());
    QVERIFY(owner_->output().Lines().empty());
    QVERIFY(owner_->target().session != nullptr);
  }

  // A task holding the tree lock never makes the widget wait: drawing reports
  // false at once, commands and drops run when the lock is free again.
  void neverBlocksOnABusyTreeLock() {
    const int lines = Find(TargetTree(), TreeNodeKind::kTable, "Lines");
    target_->SelectItem(lines);
    {
      gui::testing::LockHolder task(owner_->tree_lock());
      const auto begun = std::chrono::steady_clock::now();
      QVERIFY(!target_->SyncFromModel(true));
      QVERIFY(!source_->SyncFromModel(false));
      target_->RunCommand(gui::kCmdDropTable);
      QVERIFY(std::chrono::steady_clock::now() - begun < std::chrono::milliseconds(500));
      QTest::qWait(250);
      QCOMPARE(TargetTables(), (std::vector<std::string>{"Lines", "Orders"}));
    }
    QTRY_COMPARE(TargetTables(), std::vector<std::string>{"Orders"});
    QVERIFY(target_->FindItem(lines) == nullptr);

    // A drop while the lock is taken selects and asks for Migrate once it is
    // free.
    QSignalSpy migrate(target_, &DbTreeWidget::migrateRequested);
    std::unique_ptr<QMimeData> mime(source_->DragData(Find(SourceTree(), TreeNodeKind::kTable, "orders")));
    const QPoint over = target_->visualItemRect(target_->FindItem(TargetTree().root_item)).center();
    {
      gui::testing::LockHolder task(owner_->tree_lock());
      QVERIFY(DragAndDrop(target_, over, mime.get()));
      QTest::qWait(250);
      QCOMPARE(migrate.size(), 0);
    }
    QTRY_COMPARE(migrate.size(), 1);
    QCOMPARE(TargetTree().selected, TargetTree().root_item);
    QCOMPARE(SourceTree().selected, Find(SourceTree(), TreeNodeKind::kTable, "orders"));
  }
};

QTEST_MAIN(TreeWidgetTest)
#include "trees_tree_widget_test.moc"
