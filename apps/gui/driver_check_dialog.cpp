#include "driver_check_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <vector>

namespace tabulon::gui {
namespace {

constexpr const char* kNote =
    "Note: If there is no 'Usable' Driver, your computer can not connect to remote/local database. So, your must "
    "install/repair at least one of them. ('Installed' but 'Unusable' need repair.)\nIf have not a Setup Software, "
    "you can link to the authoritative site to download.";

QString ToQt(const std::string& text) { return QString::fromStdString(text); }

// "Unusable" in pure red, "Usable" in pure green (case-sensitive, so "Unusable" is never green).
void ColourByUsability(QLabel* label) {
  const QString text = label->text();
  QColor colour;
  if (text.contains(QLatin1String("Unusable"))) {
    colour = QColor(255, 0, 0);
  } else if (text.contains(QLatin1String("Usable"))) {
    colour = QColor(0, 255, 0);
  } else {
    return;
  }
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
}

QLabel* MakeStatic(const QString& text, const QString& name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);
  ColourByUsability(label);
  return label;
}

// One side: its group of rows with the link below them, then the note under the group.
void AddSide(QVBoxLayout* layout, QWidget* parent, const QString& prefix, const QString& caption,
             const std::vector<config::DriverRow>& rows) {
  auto* group = new QGroupBox(caption, parent);
  group->setObjectName(prefix + "_group");
  auto* grid = new QGridLayout(group);
  grid->setHorizontalSpacing(12);
  int row = 0;
  for (const config::DriverRow& driver : rows) {
    const QString suffix = QStringLiteral("_%1").arg(row);
    grid->addWidget(MakeStatic(ToQt(driver.name), prefix + "_name" + suffix, group), row, 0);
    grid->addWidget(MakeStatic(ToQt(driver.installed), prefix + "_installed" + suffix, group), row, 1);
    grid->addWidget(MakeStatic(ToQt(driver.usable), prefix + "_usable" + suffix, group), row, 2);
    ++row;
  }
  // Name, installation state and usability share the width 4 : 2 : 1.
  grid->setColumnStretch(0, 4);
  grid->setColumnStretch(1, 2);
  grid->setColumnStretch(2, 1);

  auto* link = new QLabel(group);
  link->setObjectName(prefix + "_link");
  link->setTextFormat(Qt::RichText);
  link->setText(QStringLiteral("<a href=\"%1\">Go Microsoft to get Setup</a>")
                    .arg(QString::fromLatin1(converters::kDriverSetupSite).toHtmlEscaped()));
  link->setToolTip("Get Setup Program from Authoritative site");
  link->setTextInteractionFlags(Qt::TextBrowserInteraction);
  link->setOpenExternalLinks(true);
  grid->addWidget(link, row, 0, 1, 3);
  layout->addWidget(group);

  QLabel* note = MakeStatic(QString::fromLatin1(kNote), prefix + "_note", parent);
  note->setWordWrap(true);
  layout->addWidget(note);
}

}  // namespace

DriverCheckDialog::DriverCheckDialog(const converters::DriverCheckRows& rows, QWidget* parent) : QDialog(parent) {
  setObjectName("DriverCheckDialog");
  setWindowTitle("Driver Check");

  auto* layout = new QVBoxLayout(this);
  AddSide(layout, this, "source", "MSSQL", rows.source);
  AddSide(layout, this, "target", "Access", rows.target);

  auto* open_config = new QPushButton("Open Config", this);
  open_config->setObjectName("open_config_button");
  open_config->setDefault(true);
  open_config->setMinimumSize(80, 25);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("cancel_button");
  cancel->setAutoDefault(false);
  cancel->setMinimumSize(80, 25);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(open_config);
  buttons->addWidget(cancel);
  layout->addSpacing(8);
  layout->addLayout(buttons);

  connect(open_config, &QPushButton::clicked, this, [this] { done(kOpenConfig); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  setMinimumWidth(520);
}

}  // namespace tabulon::gui
