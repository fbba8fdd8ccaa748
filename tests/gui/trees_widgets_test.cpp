// The database trees over a real Workbench (a SQLite file as the source, a Jet .mdb as the
// target): the drawing follows the core's tree and the selection stays in step both ways, the
// menus and in-place rename reach the target commands, drops from the source tree ask for
// Migrate, the condition command and tooltip reach the condition file, and the widget never
// waits for a tree lock a task holds. The condition dialog saves only what the core's condition
// test accepted and leaves the file alone otherwise.
#include <QtTest>
#include <QtWidgets>
#include <chrono>
#include <functional>
#include <thread>
#include <memory>

#include "command_ids.h"
#include "condition_dialog.h"
#include "converters/connect.h"
#include "config/condition_file.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "workspace/statement_output.h"
#include "db_tree_widget.h"
#include "gui_test_support.h"
#include "target_access/access_files.h"

using namespace tabulon;
using gui::DbTreeWidget;
using workspace::TreeNodeKind;

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
  int Source(TreeNodeKind k, const std::string& text = "") { return gui::testing::FindItem(SourceTree(), k, text); }
  int Target(TreeNodeKind k, const std::string& text = "") { return gui::testing::FindItem(TargetTree(), k, text); }
  std::vector<std::string> TargetTables() { return TargetTree().tree.ChildTexts(TargetTree().tables_folder); }
  void Refresh(workspace::DbTreeView& view) {
    std::lock_guard guard(owner_->tree_lock());
    view.RefreshTree();  // new ids for everything, no selection
  }
  // The tables the independent readers see in the target file (closed for them meanwhile).
  std::vector<std::string> TablesInFile() {
    data::CloseConnection(owner_->target());
    std::vector<std::string> tables = gui::testing::ReaderTables(mdb_);
    converters::ConnectTarget(*owner_);
    target_->SyncFromModel(true);
    return tables;
  }
  QPoint At(DbTreeWidget* widget, int item) {
    widget->scrollToItem(widget->FindItem(item));  // its folder opened
    return widget->visualItemRect(widget->FindItem(item)).center();
  }
  // Types `condition` into the condition dialog, presses Test and returns the result shown.
  static QString Test(gui::ConditionDialog& dialog, const QString& condition) {
    dialog.condition_edit()->setPlainText(condition);
    QTest::mouseClick(dialog.test_button(), Qt::LeftButton);
    return dialog.result_edit()->toPlainText();
  }
  QLineEdit* Editor() { return target_->viewport()->findChild<QLineEdit*>(); }

 private slots:
  void init() {
    folder_ = std::make_unique<QTemporaryDir>();
    const QString sqlite = folder_->filePath(QStringLiteral("Shop.sqlite"));
    QVERIFY(gui::testing::MakeSqlite(sqlite,
                                     "create table customers(id integer primary key);"
                                     "create table orders(id integer primary key, total integer);"
                                     "insert into orders values (1, 5), (2, 50), (150, 7), (151, 8);"
                                     "create view v_big as select id from orders where total > 10;"
                                     "create table \"a=b\"(id integer);"));
    prompt_ = std::make_unique<workspace::ScriptedUserPrompt>();
    converters::WorkbenchOptions options;
    options.program_folder = folder_->path().toStdString();
    options.pause = [] {};
    options.sleep = [](std::chrono::milliseconds) {};
    owner_ = std::make_unique<converters::Workbench>(*prompt_, options);
    owner_->target_context().system_database_path = folder_->filePath("System.mdw").toStdString();
    owner_->source().profile.provider_name = "SQLite";
    owner_->source().profile.source_name = sqlite.toStdString();
    converters::ConnectSource(*owner_);
    QVERIFY(owner_->source().session != nullptr);
    mdb_ = folder_->filePath(QStringLiteral("Target.mdb")).toStdString();
    QVERIFY(target_access::CreateAccessDatabaseAt(owner_->target_context(), mdb_));
    owner_->target().profile.provider_name = data::kJetProviderName;
    owner_->target().profile.source_name = mdb_;
    converters::ConnectTarget(*owner_);
    for (const char* sql : {"create table Orders (id Long, total Long)", "create table Lines (id Long)",
                            "create view vOrders as select id from Orders"}) {
      QVERIFY2(workspace::ExecuteStatement(nullptr, owner_->target().session.get(), sql, 0), sql);
    }
    Refresh(TargetTree());

    // Both trees in one window, as in the main window: focus moves between them.
    window_ = std::make_unique<QWidget>();
    auto* layout = new QHBoxLayout(window_.get());
    source_ = new DbTreeWidget(*owner_, target_access::Side::kSource, window_.get());
    target_ = new DbTreeWidget(*owner_, target_access::Side::kTarget, window_.get());
    layout->addWidget(source_);
    layout->addWidget(target_);
    window_->resize(640, 480);
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QVERIFY(source_->SyncFromModel(true) && target_->SyncFromModel(true));
  }

  void cleanup() {
    window_.reset();
    owner_.reset();
    prompt_.reset();
    folder_.reset();
  }

  // Every core item is drawn under its parent with its text; a rebuilt core tree is drawn again
  // with the core's selection. The widget's selection reaches the core, except a click on a
  // drawing the core has rebuilt since (drawn again instead), and reaches it late while a task
  // holds the tree.
  void drawingAndSelectionFollowTheCore() {
    for (auto [widget, view] : {std::pair{source_, &SourceTree()}, std::pair{target_, &TargetTree()}}) {
      for (size_t id = 0; id < view->tree.size(); ++id) {
        const int item = static_cast<int>(id);
        if (!view->tree.Contains(item)) continue;
        const QTreeWidgetItem* shown = widget->FindItem(item);
        QVERIFY(shown != nullptr && shown->text(0).toStdString() == view->tree.node(item).text);
        QCOMPARE(DbTreeWidget::ItemId(shown->parent()), view->tree.node(item).parent);
      }
    }
    Refresh(SourceTree());
    SourceTree().selected = Source(TreeNodeKind::kTable, "customers");
    QVERIFY(source_->SyncFromModel());
    QCOMPARE(DbTreeWidget::ItemId(source_->currentItem()), Source(TreeNodeKind::kTable, "customers"));

    QSignalSpy kinds(target_, &DbTreeWidget::selectionKindChanged);
    const int orders = Target(TreeNodeKind::kTable, "Orders"), folder = TargetTree().tables_folder;
    QTest::mouseClick(target_->viewport(), Qt::LeftButton, {}, At(target_, folder));
    QCOMPARE(TargetTree().selected, folder);
    QCOMPARE(kinds.last().at(1).toInt(), static_cast<int>(TreeNodeKind::kTablesFolder));
    Refresh(TargetTree());
    target_->setCurrentItem(target_->FindItem(TargetTree().views_folder));
    QCOMPARE(TargetTree().selected, workspace::kNoItem);
    QTRY_VERIFY(target_->currentItem() == nullptr);  // drawn again, as the core has it
    {
      gui::testing::LockHolder task(owner_->tree_lock());
      target_->setCurrentItem(target_->FindItem(orders));
      QTest::qWait(100);
    }
    QTRY_COMPARE(TargetTree().selected, orders);
  }

  // A double-click, the context menu and in-place rename reach the target's commands: the tree
  // and the file follow. Only Enter commits a rename (Escape, a click elsewhere or a name the
  // target refuses rename nothing); the source tree ignores the target's commands.
  void targetCommandsChangeTheFileAndTheTree() {
    owner_->output().Clear();
    QTest::mouseDClick(target_->viewport(), Qt::LeftButton, {}, At(target_, TargetTree().current_database_item));
    QVERIFY(owner_->output().Lines().at(0).text.starts_with("Select Database ["));  // switched to it
    const int orders = Target(TreeNodeKind::kTable, "Orders");
    const auto rename = [&](const QString& name, const std::function<void(QLineEdit*)>& end) {
      target_->SelectItem(orders);
      target_->RunCommand(gui::kCmdRenameTable);
      QLineEdit* editor = Editor();
      QVERIFY(editor != nullptr);
      QTRY_VERIFY(editor->hasFocus());
      editor->setText(name);
      end(editor);
      QTRY_VERIFY(Editor() == nullptr);
    };
    rename("Escaped", [](QLineEdit* e) { QTest::keyClick(e, Qt::Key_Escape); });
    rename("Clicked", [&](QLineEdit*) { source_->setFocus(Qt::MouseFocusReason); });
    rename("Lines", [](QLineEdit* e) { QTest::keyClick(e, Qt::Key_Return); });  // another table's name
    QCOMPARE(TargetTables(), (std::vector<std::string>{"Lines", "Orders"}));
    rename("Invoices", [](QLineEdit* e) { QTest::keyClick(e, Qt::Key_Return); });
    QTRY_COMPARE(TargetTables(), (std::vector<std::string>{"Lines", "Invoices"}));
    QCOMPARE(target_->FindItem(orders)->text(0), QStringLiteral("Invoices"));

    const int lines = Target(TreeNodeKind::kTable, "Lines");
    std::function<void(QMenu*)> choose = [&choose](QMenu* menu) {
      QAction* drop = menu->findChild<QAction*>(gui::CommandObjectName(gui::kCmdDropTable));
      if (drop == nullptr) return static_cast<void>(menu->close());  // not the table's menu: fails below
      menu->setActiveAction(drop);
      QTest::keyClick(menu, Qt::Key_Return);
      if (menu->isVisible()) gui::testing::WhenUp<QMenu>(choose);  // shown but not taking keys yet
    };
    gui::testing::WhenUp<QMenu>(choose);
    QContextMenuEvent on_lines(QContextMenuEvent::Mouse, At(target_, lines),
                               target_->viewport()->mapToGlobal(At(target_, lines)));
    QApplication::sendEvent(target_->viewport(), &on_lines);
    QCOMPARE(TargetTables(), std::vector<std::string>{"Invoices"});
    QVERIFY(target_->FindItem(lines) == nullptr);
    QCOMPARE(TablesInFile(), std::vector<std::string>{"Invoices"});

    source_->SelectItem(Source(TreeNodeKind::kTable, "orders"));
    const std::uint64_t revision = SourceTree().tree.revision();
    for (int command : {gui::kCmdDropTable, gui::kCmdClearAllTables, gui::kCmdRenameTable})
      source_->RunCommand(command);
    QCOMPARE(SourceTree().tree.revision(), revision);

    // Clear all tables, confirmed twice.
    target_->SelectItem(TargetTree().current_database_item);
    prompt_->AnswerYes(true);
    prompt_->AnswerYes(true);
    target_->RunCommand(gui::kCmdClearAllTables);
    QVERIFY(TargetTables().empty() && target_->FindItem(TargetTree().tables_folder)->childCount() == 0);
    QVERIFY(TablesInFile().empty());
  }

  // Opening a target table for the first time has the core fill it: Fields with its columns in
  // order and Indexes with its index, drawn under it.
  void openingATableShowsItsFieldsAndIndexes() {
    QVERIFY(workspace::ExecuteStatement(nullptr, owner_->target().session.get(),
                                        "create unique index ixOrdersId on Orders (id)", 0));
    const workspace::DbTree& tree = TargetTree().tree;
    const int orders = Target(TreeNodeKind::kTable, "Orders");
    QCOMPARE(target_->FindItem(orders)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    target_->FindItem(orders)->setExpanded(true);
    QTRY_COMPARE(tree.ChildTexts(orders), (std::vector<std::string>{"Fields", "Indexes"}));
    const int fields = tree.node(orders).children[0], indexes = tree.node(orders).children[1];
    QCOMPARE(tree.ChildTexts(fields), (std::vector<std::string>{"id", "total"}));
    QCOMPARE(tree.ChildTexts(indexes), std::vector<std::string>{"ixOrdersId"});
    QTRY_VERIFY(target_->FindItem(tree.node(indexes).children[0]) != nullptr);
    QVERIFY(target_->FindItem(orders)->isExpanded());
    for (const int id : {fields, tree.node(fields).children[0], indexes, tree.node(indexes).children[0]}) {
      const QTreeWidgetItem* shown = target_->FindItem(id);
      QCOMPARE(DbTreeWidget::ItemId(shown->parent()), tree.node(id).parent);
    }
  }

  // A drop on the target selects the item under it (the root outside any item), keeps the
  // dragged source item selected, and asks for Migrate. Drops onto the source tree, foreign
  // data and a drag from a source tree rebuilt since are refused. A busy tree lock never blocks.
  void dropsAskForMigrateAndNeverBlock() {
    QSignalSpy migrate(target_, &DbTreeWidget::migrateRequested);
    const int orders = Source(TreeNodeKind::kTable, "orders");
    std::unique_ptr<QMimeData> mime(source_->DragData(orders));
    const QPoint over = At(target_, TargetTree().current_database_item);
    QVERIFY(gui::testing::DragAndDrop(target_, over, mime.get()));
    QTRY_COMPARE(migrate.size(), 1);
    QCOMPARE(TargetTree().selected, TargetTree().current_database_item);
    QCOMPARE(SourceTree().selected, orders);
    QVERIFY(gui::testing::DragAndDrop(target_, QPoint(20, target_->viewport()->height() - 5), mime.get()));
    QTRY_COMPARE(migrate.size(), 2);
    QCOMPARE(TargetTree().selected, TargetTree().root_item);

    QVERIFY(!gui::testing::DragAndDrop(source_, At(source_, orders), mime.get()));
    QMimeData foreign;
    foreign.setText(QStringLiteral("orders"));
    QVERIFY(!gui::testing::DragAndDrop(target_, over, &foreign));
    Refresh(SourceTree());
    gui::testing::DragAndDrop(target_, over, mime.get());
    QTest::qWait(50);
    QCOMPARE(migrate.size(), 2);
    QCOMPARE(SourceTree().selected, workspace::kNoItem);

    // While a task holds the tree lock, drawing reports false at once; a command and a drop run
    // when the lock is free again.
    QVERIFY(source_->SyncFromModel(true));
    mime.reset(source_->DragData(Source(TreeNodeKind::kTable, "orders")));
    target_->SelectItem(Target(TreeNodeKind::kTable, "Lines"));
    {
      gui::testing::LockHolder task(owner_->tree_lock());
      const auto begun = std::chrono::steady_clock::now();
      QVERIFY(!target_->SyncFromModel(true));
      target_->RunCommand(gui::kCmdDropTable);
      QVERIFY(gui::testing::DragAndDrop(target_, At(target_, TargetTree().root_item), mime.get()));
      QVERIFY(std::chrono::steady_clock::now() - begun < std::chrono::milliseconds(500));
      QTest::qWait(200);
      QCOMPARE(TargetTables(), (std::vector<std::string>{"Lines", "Orders"}));
      QCOMPARE(migrate.size(), 2);
    }
    QTRY_COMPARE(TargetTables(), std::vector<std::string>{"Orders"});
    QTRY_COMPARE(migrate.size(), 3);
    QCOMPARE(TargetTree().selected, TargetTree().root_item);
  }

  // Save is offered only after a test the core accepted and only for the text tested; the file
  // is left alone otherwise.
  void conditionDialogSavesWhatTheTestAccepted() {
    const std::string path = owner_->condition_file_path;
    {
      gui::ConditionDialog dialog(*owner_, "Shop", "orders");
      QVERIFY(!dialog.save_button()->isEnabled());
      QVERIFY(Test(dialog, "id>100").contains(" 2 Records"));  // the core's count
      QVERIFY(dialog.save_button()->isEnabled());
      QVERIFY(Test(dialog, "no_such_column > 1").startsWith("Test failed!"));
      QVERIFY(!dialog.save_button()->isEnabled());
      Test(dialog, "id>150");
      dialog.condition_edit()->setPlainText("id>");  // changed after the test
      QVERIFY(!dialog.save_button()->isEnabled());
      Test(dialog, "id>150");
      QTest::mouseClick(dialog.save_button(), Qt::LeftButton);
      QVERIFY(!dialog.save_button()->isEnabled());
    }
    QCOMPARE(config::ReadCondition(path, "Shop", "orders"), std::string("id>150"));
    // The source tree's tooltip and condition command read it back.
    const int orders = Source(TreeNodeKind::kTable, "orders");
    QVERIFY(source_->TooltipFor(source_->FindItem(orders)).endsWith("id>150"));
    source_->SelectItem(orders);
    QString shown;
    gui::testing::WhenUp<gui::ConditionDialog>([&shown](gui::ConditionDialog* dialog) {
      shown = dialog->condition_edit()->toPlainText();
      dialog->close_button()->click();
    });
    source_->RunCommand(gui::kCmdMigrationCondition);
    QCOMPARE(shown, QStringLiteral("id>150"));

    // A save the file refuses (a table name it cannot hold as a key) says why; while tasks run
    // (they read through the same source connection) the test is refused. The file stays as it was.
    const std::string before = tabulon::testing::ReadTextFile(path);
    {
      gui::ConditionDialog dialog(*owner_, "Shop", "a=b");
      QVERIFY(Test(dialog, "id>1").startsWith("Test successfully!"));
      QTest::mouseClick(dialog.save_button(), Qt::LeftButton);
      QVERIFY(dialog.result_edit()->toPlainText().startsWith("Save failed!\n  Because:  "));
    }
    converters::WorkbenchOptions options;
    options.program_folder = folder_->path().toStdString();
    options.start_thread = [](std::function<void()>, std::thread*) { return true; };  // running, no thread
    converters::Workbench busy(*prompt_, options);
    busy.source().profile = owner_->source().profile;
    converters::ConnectSource(busy);
    QVERIFY(busy.source().session != nullptr);
    busy.EnsureControllerRunning();
    gui::ConditionDialog dialog(busy, "Shop", "orders");
    QVERIFY(Test(dialog, "id>100").startsWith("Test failed!\n  Because:  "));
    QVERIFY(!dialog.save_button()->isEnabled());
    QCOMPARE(tabulon::testing::ReadTextFile(path), before);
  }
};

QTEST_MAIN(TreeWidgetTest)
#include "trees_widgets_test.moc"
