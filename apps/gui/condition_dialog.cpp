#include "condition_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>
#include <utility>

#include "config/condition_file.h"

namespace tabulon::gui {
namespace {

constexpr const char* kBusyText = "Tasks are running on the source connection; test again when they have ended.";

QString ToQt(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The core's texts break lines with "\r\n"; the edit shows a line break for each.
QString Lines(const std::string& text) {
  QString shown = ToQt(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

}  // namespace

ConditionDialog::ConditionDialog(converters::Workbench& owner, std::string database, std::string table,
                                 std::string schema, QWidget* parent)
    : QDialog(parent),
      owner_(owner),
      database_(std::move(database)),
      table_(std::move(table)),
      schema_(std::move(schema)) {
  setWindowTitle(QStringLiteral("Migration Condition"));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Condition(SQL WHERE clause):"), this));
  statement_ = new QLabel(QStringLiteral("select * from %1 where").arg(ToQt(table_)), this);
  layout->addWidget(statement_);
  condition_ = new QPlainTextEdit(this);
  condition_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  condition_->setTabChangesFocus(true);
  layout->addWidget(condition_, 2);
  layout->addWidget(new QLabel(QStringLiteral("Result:"), this));
  result_ = new QPlainTextEdit(this);
  result_->setReadOnly(true);
  layout->addWidget(result_, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  test_ = new QPushButton(QStringLiteral("Test"), this);
  save_ = new QPushButton(QStringLiteral("Save"), this);
  close_ = new QPushButton(QStringLiteral("Close"), this);
  test_->setDefault(true);
  save_->setEnabled(false);
  for (QPushButton* button : {test_, save_, close_}) buttons->addWidget(button);
  layout->addLayout(buttons);

  const std::string& path = owner_.condition_file_path;
  if (const Status created = config::EnsureConditionFile(path); !created.ok()) {
    result_->setPlainText(ToQt(created.ToString()));
  }
  condition_->setPlainText(ToQt(config::ReadCondition(path, database_, table_)));

  connect(condition_, &QPlainTextEdit::textChanged, this, [this] {
    // The stored condition is read back into a buffer of this size: keep the edit within it.
    const QString text = condition_->toPlainText();
    if (text.size() > static_cast<qsizetype>(config::kConditionBuffer)) {
      const QSignalBlocker blocker(condition_);
      condition_->setPlainText(text.left(static_cast<qsizetype>(config::kConditionBuffer)));
      condition_->moveCursor(QTextCursor::End);
    }
    // Only a tested text may be stored: a change after the test asks for a new one.
    save_->setEnabled(false);
  });
  connect(test_, &QPushButton::clicked, this, &ConditionDialog::RunTest);
  connect(save_, &QPushButton::clicked, this, &ConditionDialog::Save);
  connect(close_, &QPushButton::clicked, this, &QDialog::reject);
  resize(460, 320);
}

void ConditionDialog::RunTest() {
  const std::string condition = condition_->toPlainText().toStdString();
  // A running task reads rows through the same source connection: a second statement on it
  // from this thread would interleave with the task's.
  const config::ConditionTestResult result =
      owner_.controller_state() != converters::ControllerState::kIdle
          ? config::ConditionTestFromText(kBusyText)
          : config::TestCondition(owner_.source().session.get(), schema_, table_, condition);
  result_->setPlainText(Lines(result.text));
  save_->setEnabled(result.success);
}

void ConditionDialog::Save() {
  const Status saved =
      config::SaveCondition(owner_.condition_file_path, database_, table_, condition_->toPlainText().toStdString());
  save_->setEnabled(false);
  if (!saved.ok()) result_->setPlainText(QStringLiteral("Save failed!\n  Because:  ") + ToQt(saved.ToString()));
}

}  // namespace tabulon::gui
