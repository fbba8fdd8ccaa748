// The about box: the product name, "Version: " with the build's version, "Help" (opens the manual) and "Close".
#pragma once

#include <QDialog>

namespace tabulon::gui {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);

 signals:
  void helpRequested();
};

// The manual (an HTML file kept with the program) as a URL: beside the executable when it is
// there ("manual/index.html"), else the one in the source tree.
QString ManualPath();

}  // namespace tabulon::gui
