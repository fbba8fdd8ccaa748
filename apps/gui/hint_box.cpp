#include "hint_box.h"

#include <QTextCursor>

namespace tabulon::gui {

HintBox::HintBox(QWidget* parent) : QTextEdit(parent) {
  setObjectName("HintBox");
  setReadOnly(true);
  setAcceptRichText(false);
  QFont bold = font();
  bold.setBold(true);
  bold.setPointSize(12);
  setFont(bold);
  QPalette colours = palette();
  colours.setColor(QPalette::Text, QColor(255, 0, 0));
  setPalette(colours);
  setPlainText(QString::fromLatin1(kHintFirstLine) + '\n');
}

void HintBox::ShowHint(const QString& hint) {
  setPlainText(QString::fromLatin1(kHintFirstLine) + '\n' + hint);
  moveCursor(QTextCursor::End);
}

QString HintBox::hint() const {
  const QString text = toPlainText();
  const qsizetype newline = text.indexOf('\n');
  return newline < 0 ? QString() : text.mid(newline + 1);
}

}  // namespace tabulon::gui
