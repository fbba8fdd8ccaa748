// The parts every window uses: the prompt's boxes show the core's text under the program's
// caption and give back the button pressed, also to a task thread, and a closed prompt never
// waits; every image index finds a compiled-in image; the about box's buttons; the manual.
#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <functional>
#include <thread>

#include "about_dialog.h"
#include "gui_prompt.h"
#include "gui_test_support.h"
#include "icons.h"
#include "tabulon_version.h"

namespace gui = tabulon::gui;

class CommonWidgetsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { gui::LoadGuiResources(); }

  void promptAnswersFromEitherThread() {
    gui::GuiPrompt prompt;
    const std::tuple<QMessageBox::StandardButton, bool, std::function<bool()>, bool> cases[] = {
        // the button pressed, asked on a task thread, the question, the answer
        {QMessageBox::Cancel, false, [&] { return prompt.AskOkCancel("question"); }, false},
        {QMessageBox::Ok, true, [&] { return prompt.AskOkCancel("question"); }, true},
        {QMessageBox::Yes, false, [&] { return prompt.AskYesNo("question"); }, true},
        {QMessageBox::No, true, [&] { return prompt.AskYesNo("question"); }, false},
        {QMessageBox::Ok, true, [&] { return (prompt.ShowMessage("question"), true); }, true},
    };
    for (const auto& [button, on_task_thread, ask, expected] : cases) {
      QStringList shown;
      gui::testing::WhenUp<QMessageBox>([&shown, button](QMessageBox* box) {
        shown = {box->windowTitle(), box->text()};
        box->button(button)->click();
      });
      std::atomic<int> answer{-1};
      std::thread task;
      if (on_task_thread) task = std::thread([&] { answer = ask(); });
      if (!on_task_thread) answer = ask();
      QTRY_VERIFY(answer != -1);  // the window's thread keeps running while a task waits
      if (task.joinable()) task.join();
      QCOMPARE(answer.load(), expected ? 1 : 0);
      QCOMPARE(shown, QStringList({gui::kPromptTitle, "question"}));
    }
    // Closed: every question gets its cancelling answer at once, on any thread.
    prompt.Close();
    QVERIFY(!prompt.AskOkCancel("anything") && !prompt.ChooseFolder("Choose", ".").has_value());
    bool cancelled = false;
    std::thread([&] {
      prompt.ShowMessage("late");
      cancelled = !prompt.AskYesNo("Sure?") && !prompt.AskText("Name?", "").has_value();
    }).join();
    QVERIFY(cancelled);
  }

  // Every index finds a drawable image; one outside a set gives an empty icon, not a crash.
  void everyImageIndexFindsAnImage() {
    std::vector<QIcon> icons = {gui::ApplicationIcon()};
    for (int i = 0; i < 10; ++i) icons.push_back(gui::NodeIcon(static_cast<tabulon::workspace::TreeNodeKind>(i)));
    for (int i = 0; i < 6; ++i) icons.push_back(gui::ToolbarIcon(i));
    for (int i = 0; i < 6; ++i) icons.push_back(gui::TaskButtonIcon(i));
    for (const QIcon& icon : icons) QVERIFY(!icon.pixmap(16, 16).toImage().isNull());
    QVERIFY(gui::ToolbarIcon(6).isNull() && gui::TaskButtonIcon(-1).isNull());
  }

  // Help asks for the manual and leaves the box open; Close ends it without accepting. The
  // manual is found in the source tree, and a copy beside an installed program wins.
  void aboutBoxAndManual() {
    gui::AboutDialog box;
    box.show();
    QSignalSpy help(&box, &gui::AboutDialog::helpRequested);
    QSignalSpy finished(&box, &QDialog::finished);
    QTest::mouseClick(box.findChild<QPushButton*>("helpButton"), Qt::LeftButton);
    QVERIFY(help.count() == 1 && box.isVisible());
    QTest::mouseClick(box.findChild<QPushButton*>("closeButton"), Qt::LeftButton);
    QVERIFY(finished.count() == 1 && finished.at(0).at(0).toInt() == QDialog::Rejected);

    QVERIFY(QFileInfo(gui::ManualPath()).isFile());
    const QDir program(QCoreApplication::applicationDirPath());
    if (program.exists("manual")) QSKIP("a manual folder is already beside the test program");
    QVERIFY(program.mkdir("manual"));
    const auto cleanup = qScopeGuard([&] { QDir(program.filePath("manual")).removeRecursively(); });
    QVERIFY(gui::testing::WriteBytes(program.filePath("manual/index.html"), "<html></html>"));
    QCOMPARE(gui::ManualPath(), program.filePath("manual/index.html"));
  }

  // An installed program finds the manual in the document folder, relative to where the program is
  // (so also in a package unpacked under another root), before the source tree's.
  void manualOfAnInstalledCopy() {
    const QDir program(QCoreApplication::applicationDirPath());
    const QString docdir = QDir::cleanPath(program.filePath(QStringLiteral(TABULON_DOCDIR_FROM_BINDIR)));
    if (QDir(docdir).exists()) QSKIP("an installed document folder is already beside the test program");
    // The folders made here (from the first one that is missing) are removed afterwards.
    QString made = docdir;
    while (!QFileInfo::exists(QFileInfo(made).path())) made = QFileInfo(made).path();
    QVERIFY(QDir().mkpath(docdir + "/manual"));
    const auto cleanup = qScopeGuard([&] { QDir(made).removeRecursively(); });
    QVERIFY(gui::testing::WriteBytes(docdir + "/manual/index.html", "<html></html>"));
    QCOMPARE(gui::ManualPath(), docdir + "/manual/index.html");
  }
};

QTEST_MAIN(CommonWidgetsTest)
#include "common_widgets_test.moc"
