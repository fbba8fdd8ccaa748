// The migration condition dialog over a Workbench connected to a SQLite source:
// the statement it shows, the test's texts and when "Save" is offered, what
// Save and Close leave in Condition.cfg, and a dialog without a source
// connection.
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

#include "condition_dialog.h"
#include "config/condition_file.h"
#include "gui_test_support.h"

using namespace tabulon;
using gui::ConditionDialog;

namespace {

constexpr char kShop[] = R"sql(
create table orders(id integer primary key, total integer);
insert into orders values (1, 5), (2, 50), (150, 7), (151, 8);
create table "a=b"(id integer);
insert into "a=b" values (1), (2);
)sql";

}  // namespace

class ConditionDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> folder_;
  std::unique_ptr<workspace::ScriptedUserPrompt> prompt_;
  std::unique_ptr<converters::Workbench> owner_;

  std::string Path() const { return owner_->condition_file_path; }
  QByteArray FileBytes() const {
    QFile file(QString::fromStdString(Path()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
  }
  // Types `condition`, presses Test and returns the result as shown.
  static QString Test(ConditionDialog& dialog, const QString& condition) {
    dialog.condition_edit()->setPlainText(condition);
    QTest::mouseClick(dialog.test_button(), Qt::LeftButton);
    return dialog.result_edit()->toPlainText();
  }

 private slots:
  void init() {
    folder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(folder_->isValid());
    const QString sqlite = folder_->filePath(QStringLiteral("Shop.sqlite"));
    QVERIFY(gui::testing::MakeSqlite(sqlite, kShop));
    prompt_ = std::make_unique<workspace::ScriptedUserPrompt>();
    owner_ = gui::testing::MakeSqliteWorkbench(*prompt_, folder_->path(), sqlite);
    QVERIFY(owner_->source().session != nullptr);
  }

  void cleanup() {
    owner_.reset();
    prompt_.reset();
    folder_.reset();
  }

  // Opening creates the missing file empty and shows the statement; Save waits
  // for a successful test, which reports the count, and a failed one the
  // source's reason.
  void testReportsTheCountOrTheReason() {
    QVERIFY(!QFile::exists(QString::fromStdString(Path())));
    ConditionDialog dialog(*owner_, "Shop", "orders");
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Migration Condition"));
    QCOMPARE(dialog.statement_label()->text(), QStringLiteral("select * from orders where"));
    QCOMPARE(FileBytes(), QByteArray());
    QVERIFY(dialog.test_button()->isDefault());
    QVERIFY(!dialog.save_button()->isEnabled());

    QCOMPARE(Test(dialog, "id>100"), QStringLiteral("Test successfully!\n  2 Records can be converted."));
    QVERIFY(dialog.save_button()->isEnabled());
    QCOMPARE(Test(dialog, ""), QStringLiteral("Test successfully!\n  4 Records can be converted."));
    QCOMPARE(Test(dialog, "id>1000"), QStringLiteral("Test successfully!\n  0 Records can be converted."));
    const QString failed = Test(dialog, "no_such_column > 1");
    QVERIFY2(failed.startsWith(QStringLiteral("Test failed!\n  Because:  ")), qPrintable(failed));
    QVERIFY(failed.size() > QStringLiteral("Test failed!\n  Because:  ").size());  // the source's own words
    QVERIFY(!dialog.save_button()->isEnabled());
    QCOMPARE(FileBytes(), QByteArray());
    // A condition over several lines is one condition.
    QCOMPARE(Test(dialog, "id>1\nand total<10"), QStringLiteral("Test successfully!\n  2 Records can be converted."));
    // The text is kept within the file's buffer.
    dialog.condition_edit()->setPlainText(QString(1100, QChar('x')));
    QCOMPARE(dialog.condition_edit()->toPlainText().size(), static_cast<qsizetype>(config::kConditionBuffer));
  }

  void saveStoresTheTestedCondition() {
    {
      ConditionDialog dialog(*owner_, "Shop", "orders");
      Test(dialog, "id>100");
      QTest::mouseClick(dialog.save_button(), Qt::LeftButton);
      QVERIFY(!dialog.save_button()->isEnabled());
      QCOMPARE(config::ReadCondition(Path(), "Shop", "orders"), std::string("id>100"));

      // Changing the text after a test asks for another test before it can be
      // saved.
      Test(dialog, "id>150");
      QVERIFY(dialog.save_button()->isEnabled());
      dialog.condition_edit()->setPlainText("id>");
      QVERIFY(!dialog.save_button()->isEnabled());
    }
    // Another database's table of the same name keeps its own condition.
    {
      ConditionDialog dialog(*owner_, "Other", "orders");
      QVERIFY(dialog.condition_edit()->toPlainText().isEmpty());
      Test(dialog, "id<2");
      QTest::mouseClick(dialog.save_button(), Qt::LeftButton);
    }
    QCOMPARE(config::ReadCondition(Path(), "Shop", "orders"), std::string("id>100"));
    QCOMPARE(config::ReadCondition(Path(), "Other", "orders"), std::string("id<2"));
    ConditionDialog again(*owner_, "Shop", "orders");
    QCOMPARE(again.condition_edit()->toPlainText(), QStringLiteral("id>100"));

    // A multi-line condition is stored on one line and read back whole.
    Test(again, "id>1\nand total<10");
    QTest::mouseClick(again.save_button(), Qt::LeftButton);
    QCOMPARE(config::ReadCondition(Path(), "Shop", "orders"), std::string("id>1 and total<10"));
    QCOMPARE(config::ReadCondition(Path(), "Other", "orders"), std::string("id<2"));

    // An empty condition is stored as empty: every row is copied.
    Test(again, "");
    QTest::mouseClick(again.save_button(), Qt::LeftButton);
    QCOMPARE(config::ReadCondition(Path(), "Shop", "orders"), std::string());
    QVERIFY(FileBytes().contains("orders="));
  }

  // Close after a good test stores nothing; a table name the file cannot hold
  // as a key makes the save say why. Either way the file stays as it was.
  void closeAndFailedSaveLeaveTheFile() {
    QVERIFY(config::SaveCondition(Path(), "Shop", "orders", "id>100").ok());
    const QByteArray before = FileBytes();
    {
      ConditionDialog dialog(*owner_, "Shop", "orders");
      QTimer::singleShot(0, &dialog, [&] {
        Test(dialog, "id<5");
        QTest::mouseClick(dialog.close_button(), Qt::LeftButton);
      });
      QCOMPARE(dialog.exec(), static_cast<int>(QDialog::Rejected));
    }
    QCOMPARE(FileBytes(), before);

    ConditionDialog dialog(*owner_, "Shop", "a=b");
    QCOMPARE(Test(dialog, "id>1"), QStringLiteral("Test successfully!\n  1 Records can be converted."));
    QTest::mouseClick(dialog.save_button(), Qt::LeftButton);
    const QString result = dialog.result_edit()->toPlainText();
    QVERIFY2(result.startsWith(QStringLiteral("Save failed!\n  Because:  ")), qPrintable(result));
    QVERIFY(result.contains(QStringLiteral("a=b")));
    QVERIFY(!dialog.save_button()->isEnabled());
    QCOMPARE(FileBytes(), before);
  }

  // Without a source connection the test fails with a reason instead of
  // touching a session.
  void noSourceConnection() {
    data::CloseConnection(owner_->source());
    QVERIFY(owner_->source().session == nullptr);
    ConditionDialog dialog(*owner_, "Shop", "orders");
    const QString result = Test(dialog, "id>100");
    QVERIFY2(result.startsWith(QStringLiteral("Test failed!\n  Because:  ")), qPrintable(result));
    QVERIFY(!dialog.save_button()->isEnabled());
  }

  // While tasks run they read rows through the same source connection: the test is refused
  // and nothing may be saved.
  void refusedWhileTasksRun() {
    converters::WorkbenchOptions options;
    options.program_folder = folder_->path().toStdString();
    options.sleep = [](std::chrono::milliseconds) {};
    // The controller counts as running without a thread of its own.
    options.start_thread = [](std::function<void()>, std::thread*) { return true; };
    converters::Workbench busy(*prompt_, options);
    busy.source().profile = owner_->source().profile;
    converters::ConnectSource(busy);
    QVERIFY(busy.source().session != nullptr);
    busy.EnsureControllerRunning();
    QCOMPARE(busy.controller_state(), converters::ControllerState::kRunning);
    ConditionDialog dialog(busy, "Shop", "orders");
    const QString result = Test(dialog, "id>100");
    QVERIFY2(result.startsWith(QStringLiteral("Test failed!\n  Because:  Tasks are running")), qPrintable(result));
    QVERIFY(!dialog.save_button()->isEnabled());
  }
};

QTEST_MAIN(ConditionDialogTest)
#include "trees_condition_dialog_test.moc"
