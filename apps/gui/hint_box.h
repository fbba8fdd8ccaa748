// The hint area ("Tips" tab): read-only, bold red 12-point text whose first line is always
// "F1 to Help:". Each command's hint is added right below that line; earlier hints stay below
// it, newest first (the oldest beyond kHintHistory are let go).
#pragma once

#include <QStringList>
#include <QTextEdit>

namespace tabulon::gui {

inline constexpr const char* kHintFirstLine = "F1 to Help:";
inline constexpr qsizetype kHintHistory = 200;

class HintBox : public QTextEdit {
  Q_OBJECT

 public:
  explicit HintBox(QWidget* parent = nullptr);

  // Adds `hint` below the first line, above the earlier hints.
  void ShowHint(const QString& hint);
  // The newest hint (empty before the first).
  QString hint() const { return hints_.isEmpty() ? QString() : hints_.first(); }
  // Every hint kept, newest first.
  const QStringList& hints() const { return hints_; }

 private:
  QStringList hints_;
};

}  // namespace tabulon::gui
