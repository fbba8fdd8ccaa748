// The hint area ("Tips" tab): read-only, bold red 12-point text whose first line is always
// "F1 to Help:"; a command's hint replaces whatever followed that line.
#pragma once

#include <QTextEdit>

namespace tabulon::gui {

inline constexpr const char* kHintFirstLine = "F1 to Help:";

class HintBox : public QTextEdit {
  Q_OBJECT

 public:
  explicit HintBox(QWidget* parent = nullptr);

  // Shows `hint` below the first line.
  void ShowHint(const QString& hint);
  // The text below the first line.
  QString hint() const;
};

}  // namespace tabulon::gui
