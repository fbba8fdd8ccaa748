#include "gui_prompt.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QThread>
#include <utility>

namespace tabulon::gui {
namespace {

QString ToQt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Runs `ask` on the user-interface thread and returns its answer; the calling thread waits when
// it is another one.
// A closed prompt answers with the value-initialised answer (false, nothing chosen).
template <typename Ask>
auto OnUiThread(const std::atomic<bool>& closed, Ask ask) -> decltype(ask()) {
  using Answer = decltype(ask());
  if (closed) return Answer{};
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return Answer{};
  if (QThread::currentThread() == app->thread()) return ask();
  Answer answer{};
  QMetaObject::invokeMethod(
      app, [&] { answer = closed ? Answer{} : ask(); }, Qt::BlockingQueuedConnection);
  return answer;
}

// "*.mdb;*.MDB" -> "*.mdb *.MDB"
QString QtFilter(const workspace::FileChoice& choice) {
  if (choice.filter_pattern.empty()) return {};
  QString patterns = ToQt(choice.filter_pattern);
  patterns.replace(';', ' ');
  return QStringLiteral("%1 (%2)").arg(ToQt(choice.filter_name), patterns);
}

}  // namespace

void GuiPrompt::ShowMessage(std::string_view text, std::string_view caption) {
  const QString message = ToQt(text);
  const QString title = caption.empty() ? QString(kPromptTitle) : ToQt(caption);
  OnUiThread(closed_, [&] {
    QMessageBox::information(parent_, title, message);
    return true;
  });
}

bool GuiPrompt::AskOkCancel(std::string_view text) {
  const QString question = ToQt(text);
  return OnUiThread(closed_, [&] {
    return QMessageBox::question(parent_, kPromptTitle, question, QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Ok) == QMessageBox::Ok;
  });
}

bool GuiPrompt::AskYesNo(std::string_view text) {
  const QString question = ToQt(text);
  return OnUiThread(closed_, [&] {
    return QMessageBox::warning(parent_, kPromptTitle, question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
  });
}

std::optional<std::string> GuiPrompt::AskText(std::string_view question, std::string_view initial) {
  const QString label = ToQt(question);
  const QString start = ToQt(initial);
  return OnUiThread(closed_, [&]() -> std::optional<std::string> {
    bool ok = false;
    const QString text = QInputDialog::getText(parent_, kPromptTitle, label, QLineEdit::Normal, start, &ok);
    if (!ok) return std::nullopt;
    return text.toStdString();
  });
}

std::optional<std::string> GuiPrompt::ChooseFile(const workspace::FileChoice& choice) {
  return OnUiThread(closed_, [&]() -> std::optional<std::string> {
    const QString title = ToQt(choice.title);
    const QString folder = ToQt(choice.initial_directory);
    const QString filter = QtFilter(choice);
    const QString path = choice.save ? QFileDialog::getSaveFileName(parent_, title, folder, filter)
                                     : QFileDialog::getOpenFileName(parent_, title, folder, filter);
    if (path.isEmpty()) return std::nullopt;
    return path.toStdString();
  });
}

std::optional<std::string> GuiPrompt::ChooseFolder(std::string_view title, std::string_view initial) {
  const QString caption = ToQt(title);
  const QString start = ToQt(initial);
  return OnUiThread(closed_, [&]() -> std::optional<std::string> {
    const QString folder = QFileDialog::getExistingDirectory(parent_, caption, start);
    if (folder.isEmpty()) return std::nullopt;
    return folder.toStdString();
  });
}

}  // namespace tabulon::gui
