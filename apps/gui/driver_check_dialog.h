// The driver check: for each side every provider or driver the program can use, whether it is
// installed and whether it is usable (green "Usable", red "Unusable"), a link to the vendor's
// download page, a note, and "Open Config", which leads to the connection settings.
#pragma once

#include <QDialog>

#include "converters/settings_commands.h"

namespace tabulon::gui {

class DriverCheckDialog : public QDialog {
  Q_OBJECT

 public:
  // The dialog's result when "Open Config" closed it (else QDialog::Rejected).
  static constexpr int kOpenConfig = 2;

  explicit DriverCheckDialog(const converters::DriverCheckRows& rows, QWidget* parent = nullptr);
};

}  // namespace tabulon::gui
