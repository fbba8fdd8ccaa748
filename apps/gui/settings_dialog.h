// "Config": the connection settings of both sides (DBMS, provider, source name, user, password,
// catalog), the program options (profiles in the settings file, automatic backup, tips), the
// connection test, "Save Config" and "Connect", over tabulon.cfg.
#pragma once

#include <QDialog>
#include <QPoint>
#include <functional>
#include <string>

#include "config/settings_file.h"
#include "converters/workbench.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tabulon::gui {

class ConnectionSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  struct Hooks {
    // "Display Tips" clicked (and the option read at opening): show or hide the "Tips" tab.
    std::function<void(bool)> show_tips;
    // After "Connect" stored the settings and closed the dialog: run Connect, show the task list.
    std::function<void()> connect;
  };

  // `settings_path`: the full path of tabulon.cfg.
  ConnectionSettingsDialog(converters::Workbench& owner, std::string settings_path, Hooks hooks,
                           QWidget* parent = nullptr);

  // The fields and options as they stand.
  config::Settings CurrentSettings() const;

  // One side's controls (tests, screenshots). `side` 0 source, 1 target.
  QComboBox* dbms_combo(int side) const;
  QComboBox* provider_combo(int side) const;
  QComboBox* source_name_combo(int side) const;
  QLabel* source_name_label(int side) const;
  QLineEdit* user_edit(int side) const;
  QLineEdit* password_edit(int side) const;
  QLineEdit* catalog_edit(int side) const;
  QCheckBox* config_check() const;
  QCheckBox* auto_backup_check() const;
  QComboBox* type_map_combo() const;
  QCheckBox* tips_check() const;
  QPushButton* test_button() const;
  QPushButton* save_button() const;
  QPushButton* connect_button() const;
  QPushButton* close_button() const;

 private:
  struct SideControls;

  // A side's provider changed: its source-name choices and label; a Jet target proposes a new file.
  void ChangeProvider(SideControls& side);
  // The file chooser of a side: the filter follows the side's provider and DBMS.
  workspace::FileChoice FileChoiceFor(const SideControls& side) const;
  // "..." beside a file provider's source name; a double-click on a catalog edit otherwise.
  void ChooseSourceFile(SideControls& side);
  void ChooseCatalogFile(SideControls& side);
  static void SelectPath(QComboBox* combo, const QString& path);
  // Double-clicks on the catalog edits; presses on the dialog's free area drag it.
  bool eventFilter(QObject* watched, QEvent* event) override;

  converters::Workbench& owner_;
  std::string settings_path_;
  Hooks hooks_;
  bool initialising_ = false;
  // Owned by Qt through the dialog; the struct holds pointers.
  SideControls* sides_[2] = {nullptr, nullptr};
  QCheckBox* config_ = nullptr;
  QCheckBox* auto_backup_ = nullptr;
  QCheckBox* tips_ = nullptr;
  QComboBox* type_map_ = nullptr;
  std::string loaded_type_map_;
  QCheckBox* overwrite_database_ = nullptr;
  QCheckBox* overwrite_table_ = nullptr;
  QPushButton* test_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* connect_ = nullptr;
  QPushButton* close_ = nullptr;
  bool dragging_ = false;
  QPoint drag_offset_;
};

}  // namespace tabulon::gui
