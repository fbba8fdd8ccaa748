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
  hints_.prepend(hint);
  if (hints_.size() > kHintHistory) hints_.resize(kHintHistory);
  setPlainText(QString::fromLatin1(kHintFirstLine) + '\n' + hints_.join('\n'));
  // The newest hint sits just below the first line: keep the top in view.
  moveCursor(QTextCursor::Start);
}

}  // namespace tabulon::gui
