// "Review Migration...": what the selected migration will do, before anything is written. The plan
// (converters/migration_plan.h) as a tree: per table its Access name, rows (under its condition)
// and estimated size, below it its columns (source and Access type, AutoNumber, the note when a
// value is not kept exactly) and its keys, indexes, relationships and other objects with their
// outcome and reason; then the views. At the bottom the estimated size of the file and the size
// check. "Migrate" (the dialog's Accepted result) queues exactly the reviewed migration; it is
// disabled when the file would pass 2 GB.
#pragma once

#include <QDialog>

#include "converters/migration_plan.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace tabulon::gui {

class ReviewMigrationDialog : public QDialog {
  Q_OBJECT

 public:
  enum Column {
    kNameColumn,
    kSourceTypeColumn,
    kAccessTypeColumn,
    kAutoNumberColumn,
    kOutcomeColumn,  // a table's rows, an object's or a view's outcome
    kSizeColumn,
    kNoteColumn,
    kColumnCount
  };

  // `what` names the migration ("Convert database [x] into Target database [y]").
  ReviewMigrationDialog(const converters::MigrationPlan& plan, const QString& what, QWidget* parent = nullptr);

  QTreeWidget* plan_tree() const { return tree_; }
  QLabel* size_label() const { return size_; }
  QLabel* check_label() const { return check_; }
  QPushButton* migrate_button() const { return migrate_; }
  QPushButton* close_button() const { return close_; }

 private:
  void AddTable(const converters::PlannedTable& table);
  void AddViews(const std::vector<converters::PlannedView>& views);

  QTreeWidget* tree_ = nullptr;
  QLabel* size_ = nullptr;
  QLabel* check_ = nullptr;
  QPushButton* migrate_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace tabulon::gui
