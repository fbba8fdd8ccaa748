// The migration condition of one source table: edit the WHERE text, test it on the source (a
// count of the rows it keeps) and store it in Condition.cfg. "Save" is offered only after a
// successful test.
#pragma once

#include <QDialog>
#include <string>

#include "converters/workbench.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tabulon::gui {

class ConditionDialog : public QDialog {
  Q_OBJECT

 public:
  // `database` and `table` as the source tree shows them; `schema` the table's, as its tree node
  // holds it (the test counts the rows the copy will read).
  ConditionDialog(converters::Workbench& owner, std::string database, std::string table, std::string schema = {},
                  QWidget* parent = nullptr);

  // The controls, for the main window's screenshot run and for tests.
  QPlainTextEdit* condition_edit() const { return condition_; }
  QPlainTextEdit* result_edit() const { return result_; }
  QLabel* statement_label() const { return statement_; }
  QPushButton* test_button() const { return test_; }
  QPushButton* save_button() const { return save_; }
  QPushButton* close_button() const { return close_; }

 private:
  void RunTest();
  void Save();

  converters::Workbench& owner_;
  std::string database_;
  std::string table_;
  std::string schema_;
  QLabel* statement_ = nullptr;
  QPlainTextEdit* condition_ = nullptr;
  QPlainTextEdit* result_ = nullptr;
  QPushButton* test_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace tabulon::gui
