// The desktop's answers to the core's questions: the boxes show the core's
// texts letter for letter, a question from a task thread is answered on the
// window's thread, and a closed prompt never waits.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

#include "gui_prompt.h"

using tabulon::gui::GuiPrompt;

namespace {

// Answers the next message box with `button` and records its text.
void AnswerNextBox(QMessageBox::StandardButton button, QString* text) {
  QTimer::singleShot(20, [button, text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      AnswerNextBox(button, text);  // not up yet
      return;
    }
    *text = box->text();
    box->button(button)->click();
  });
}

}  // namespace

class GuiPromptTest : public QObject {
  Q_OBJECT

 private slots:
  void BoxesShowTheTextsAndReturnTheAnswers() {
    GuiPrompt prompt;
    QString shown;
    AnswerNextBox(QMessageBox::Cancel, &shown);
    QVERIFY(!prompt.AskOkCancel("Remove database [shop]?"));
    QCOMPARE(shown, QString("Remove database [shop]?"));

    const std::string second =
        "After remove, you can not restore [shop] again! Continue?\nPress YES "
        "to Continue Removing!";
    AnswerNextBox(QMessageBox::Yes, &shown);
    QVERIFY(prompt.AskYesNo(second));
    QCOMPARE(shown, QString::fromStdString(second));

    AnswerNextBox(QMessageBox::Ok, &shown);
    prompt.ShowMessage("No Database in TARGET Side be Selected!");
    QCOMPARE(shown, QString("No Database in TARGET Side be Selected!"));
  }

  void AQuestionFromATaskIsAnsweredOnTheWindowThread() {
    GuiPrompt prompt;
    QString shown;
    std::atomic<bool> answer{false};
    std::atomic<bool> done{false};
    AnswerNextBox(QMessageBox::Ok, &shown);
    std::thread task([&] {
      answer = prompt.AskOkCancel("Some Tasks is Processing, STOP ALL?");
      done = true;
    });
    QTRY_VERIFY(done.load());
    task.join();
    QVERIFY(answer.load());
    QCOMPARE(shown, QString("Some Tasks is Processing, STOP ALL?"));
  }

  void AClosedPromptCancelsAtOnce() {
    GuiPrompt prompt;
    prompt.Close();
    QVERIFY(!prompt.AskOkCancel("anything"));
    QVERIFY(!prompt.AskYesNo("anything"));
    QVERIFY(!prompt.ChooseFolder("Choose", ".").has_value());
    // From another thread too, even while the window's thread is not processing
    // events.
    std::atomic<bool> done{false};
    std::thread task([&] {
      prompt.ShowMessage("late");
      done = !prompt.AskText("Name?", "").has_value();
    });
    task.join();
    QVERIFY(done.load());
  }
};

QTEST_MAIN(GuiPromptTest)
#include "common_gui_prompt_test.moc"
