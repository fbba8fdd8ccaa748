#include "review_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "plan_runner.h"

namespace tabulon::gui {
namespace {

// The log's colours: orange for what is kept with a change or left out, red for what fails.
const QColor kWarningColour(255, 128, 0);
const QColor kErrorColour(255, 0, 0);
// Tables beyond this many start collapsed.
constexpr size_t kExpandedTables = 20;

enum class Mark { kNone, kWarning, kError };

QString ToQt(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// "a" or "a -> b" when Access gets another name.
QString Renamed(const std::string& name, const std::string& access_name) {
  return access_name.empty() || access_name == name ? ToQt(name)
                                                     : ToQt(name) + QStringLiteral(" \u2192 ") + ToQt(access_name);
}

// A statement on one line.
QString OneLine(const std::string& statement) { return ToQt(statement).simplified(); }

Mark MarkOfOutcome(const std::string& outcome) {
  if (outcome == "created") return Mark::kNone;
  if (outcome == "fails") return Mark::kError;
  return Mark::kWarning;  // "left out", "not enforced"
}

QTreeWidgetItem* AddRow(QTreeWidgetItem* parent, const QStringList& texts, Mark mark, const QString& tooltip = {}) {
  auto* item = new QTreeWidgetItem(parent, texts);
  for (int column = 0; column < ReviewMigrationDialog::kColumnCount; ++column) {
    const QString tip = tooltip.isEmpty() ? item->text(column) : tooltip;
    if (!tip.isEmpty()) item->setToolTip(column, tip);
  }
  if (mark == Mark::kNone) return item;
  const QColor colour = mark == Mark::kError ? kErrorColour : kWarningColour;
  item->setForeground(ReviewMigrationDialog::kOutcomeColumn, colour);
  item->setForeground(ReviewMigrationDialog::kNoteColumn, colour);
  item->setIcon(ReviewMigrationDialog::kNameColumn,
                QApplication::style()->standardIcon(mark == Mark::kError ? QStyle::SP_MessageBoxCritical
                                                                          : QStyle::SP_MessageBoxWarning));
  return item;
}

QString RowsText(const converters::PlannedTable& table) {
  QString rows = table.rows < 0 ? QStringLiteral("rows not counted") : QStringLiteral("%1 rows").arg(table.rows);
  if (!table.condition.empty()) rows += QStringLiteral(" where ") + ToQt(table.condition);
  return rows;
}

}  // namespace

ReviewMigrationDialog::ReviewMigrationDialog(const converters::MigrationPlan& plan, const QString& what,
                                             QWidget* parent)
    : QDialog(parent) {
  setObjectName("ReviewMigrationDialog");
  setWindowTitle("Review Migration");
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel(what, this);
  heading->setObjectName("ReviewHeading");
  heading->setTextFormat(Qt::PlainText);
  heading->setWordWrap(true);
  layout->addWidget(heading);

  tree_ = new QTreeWidget(this);
  tree_->setObjectName("PlanTree");
  tree_->setColumnCount(kColumnCount);
  tree_->setHeaderLabels({"Name", "Source type", "Access type", "AutoNumber", "Rows / outcome", "Size", "Note"});
  tree_->setUniformRowHeights(true);
  tree_->setAlternatingRowColors(true);
  for (const converters::PlannedTable& table : plan.tables) AddTable(table);
  if (!plan.views.empty()) AddViews(plan.views);
  if (plan.tables.size() <= kExpandedTables) tree_->expandAll();
  for (int column = 0; column < kNoteColumn; ++column) tree_->resizeColumnToContents(column);
  layout->addWidget(tree_, 1);

  size_ = new QLabel(this);
  size_->setObjectName("EstimatedSize");
  size_->setTextFormat(Qt::PlainText);
  size_->setText(QStringLiteral("Estimated size of the file: %1 (%2 bytes; an Access file holds at most 2 GB)")
                     .arg(ToQt(converters::SizeText(plan.estimated_bytes)))
                     .arg(plan.estimated_bytes));
  layout->addWidget(size_);

  const converters::SizeCheck check = converters::CheckPlannedSize(plan);
  const bool over = check.verdict == converters::SizeCheck::Verdict::kOverCeiling;
  check_ = new QLabel(this);
  check_->setObjectName("SizeCheck");
  check_->setTextFormat(Qt::PlainText);
  check_->setWordWrap(true);
  check_->setText(over ? ToQt(check.text) + "\n" + kSizeWayOut : ToQt(check.text));
  QPalette palette = check_->palette();
  palette.setColor(QPalette::WindowText, over ? kErrorColour : kWarningColour);
  check_->setPalette(palette);
  check_->setVisible(!check.text.empty());
  layout->addWidget(check_);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  migrate_ = new QPushButton("Migrate", this);
  migrate_->setObjectName("MigrateButton");
  migrate_->setEnabled(!over);
  if (over) migrate_->setToolTip("The file would pass the 2 GB an Access file can hold");
  close_ = new QPushButton("Close", this);
  close_->setObjectName("CloseButton");
  close_->setDefault(true);
  buttons->addWidget(migrate_);
  buttons->addWidget(close_);
  layout->addLayout(buttons);
  connect(migrate_, &QPushButton::clicked, this, &QDialog::accept);
  connect(close_, &QPushButton::clicked, this, &QDialog::reject);
  resize(900, 600);
}

void ReviewMigrationDialog::AddTable(const converters::PlannedTable& table) {
  int noted = 0, held_back = 0;
  for (const converters::PlannedColumn& c : table.columns) noted += c.note.empty() ? 0 : 1;
  for (const converters::PlannedObject& o : table.objects) held_back += o.outcome == "created" ? 0 : 1;
  QString summary = ToQt(table.error);
  if (summary.isEmpty() && noted + held_back > 0) {
    QStringList parts;
    if (noted > 0) parts << QStringLiteral("%1 column(s) with a note").arg(noted);
    if (held_back > 0) parts << QStringLiteral("%1 object(s) not created as in the source").arg(held_back);
    summary = parts.join(", ");
  }
  const Mark mark = !table.error.empty() ? Mark::kError : summary.isEmpty() ? Mark::kNone : Mark::kWarning;
  auto* item = new QTreeWidgetItem(tree_);
  item->setText(kNameColumn, Renamed(table.name, table.access_name));
  item->setText(kOutcomeColumn, RowsText(table));
  item->setText(kSizeColumn, ToQt(converters::SizeText(table.estimated_bytes)));
  item->setText(kNoteColumn, summary);
  for (int column = 0; column < kColumnCount; ++column) item->setToolTip(column, item->text(column));
  if (mark != Mark::kNone) item->setForeground(kNoteColumn, mark == Mark::kError ? kErrorColour : kWarningColour);
  QFont bold = item->font(kNameColumn);
  bold.setBold(true);
  item->setFont(kNameColumn, bold);

  auto* columns = new QTreeWidgetItem(item, {QStringLiteral("Columns (%1)").arg(table.columns.size())});
  for (const converters::PlannedColumn& c : table.columns) {
    AddRow(columns,
           {Renamed(c.name, c.access_name), ToQt(c.source_type), ToQt(c.access_type),
            c.autonumber ? QStringLiteral("Yes") : QString(), QString(), QString(), ToQt(c.note)},
           c.note.empty() ? Mark::kNone : Mark::kWarning);
  }
  int others = 0;
  for (const source_common::Rename& r : table.renames) others += r.kind == "table" || r.kind == "column" ? 0 : 1;
  if (table.objects.empty() && others == 0) return;
  auto* objects = new QTreeWidgetItem(
      item, {QStringLiteral("Keys, indexes and relationships (%1)").arg(table.objects.size() + static_cast<size_t>(others))});
  for (const converters::PlannedObject& o : table.objects) {
    const QString statement = OneLine(o.statement);
    const QString note = o.reason.empty() ? statement : ToQt(o.reason);
    QString tooltip = note;
    if (!o.reason.empty() && !statement.isEmpty()) tooltip += "\n" + statement;
    AddRow(objects, {ToQt(o.kind), QString(), QString(), QString(), ToQt(o.outcome), QString(), note},
           MarkOfOutcome(o.outcome), tooltip);
  }
  for (const source_common::Rename& r : table.renames) {
    if (r.kind == "table" || r.kind == "column") continue;  // shown with the table and its columns
    AddRow(objects,
           {ToQt(r.kind), QString(), QString(), QString(), QStringLiteral("renamed"), QString(),
            QStringLiteral("[%1] \u2192 [%2]").arg(ToQt(r.from), ToQt(r.to))},
           Mark::kNone);
  }
}

void ReviewMigrationDialog::AddViews(const std::vector<converters::PlannedView>& views) {
  const auto translated = std::count_if(views.begin(), views.end(), [](const auto& v) { return v.translated; });
  auto* group = new QTreeWidgetItem(
      tree_, {QStringLiteral("Views (%1, %2 translated)").arg(views.size()).arg(static_cast<qlonglong>(translated))});
  QFont bold = group->font(kNameColumn);
  bold.setBold(true);
  group->setFont(kNameColumn, bold);
  for (const converters::PlannedView& v : views) {
    const QString statement = OneLine(v.statement);
    QString tooltip = ToQt(v.reason);
    if (!statement.isEmpty()) tooltip += (tooltip.isEmpty() ? "" : "\n") + statement;
    AddRow(group,
           {ToQt(v.name), QString(), QString(), QString(),
            v.translated ? QStringLiteral("translated") : QStringLiteral("not translated"), QString(),
            v.reason.empty() ? statement : ToQt(v.reason)},
           v.translated ? Mark::kNone : Mark::kWarning, tooltip);
  }
}

}  // namespace tabulon::gui
