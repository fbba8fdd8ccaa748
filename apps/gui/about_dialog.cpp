#include "about_dialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include "icons.h"
#include "tabulon_version.h"

namespace tabulon::gui {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Tabulon"));
  setWindowIcon(ApplicationIcon());

  auto* logo = new QLabel(this);
  logo->setObjectName(QStringLiteral("logo"));
  logo->setPixmap(ApplicationIcon().pixmap(64, 64));
  logo->setAlignment(Qt::AlignTop);

  auto* name = new QLabel(QStringLiteral("Tabulon"), this);
  name->setObjectName(QStringLiteral("productName"));
  QFont name_font = name->font();
  name_font.setBold(true);
  if (name_font.pointSizeF() > 0) name_font.setPointSizeF(name_font.pointSizeF() * 1.6);  // pixel-sized fonts have none
  name->setFont(name_font);

  auto* version = new QLabel(QStringLiteral("Version: " TABULON_VERSION), this);
  version->setObjectName(QStringLiteral("version"));

  auto* purpose = new QLabel(QStringLiteral("Copies a SQL Server or SQLite database into a Microsoft Access (.mdb) "
                                            "file: tables, keys, indexes, rows, relationships and views. It also "
                                            "backs up and manages Access databases."),
                             this);
  purpose->setObjectName(QStringLiteral("purpose"));
  purpose->setWordWrap(true);

  auto* texts = new QVBoxLayout;
  texts->addWidget(name);
  texts->addWidget(version);
  texts->addSpacing(8);
  texts->addWidget(purpose);
  texts->addStretch(1);

  auto* top = new QHBoxLayout;
  top->addWidget(logo);
  top->addSpacing(12);
  top->addLayout(texts, 1);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* help = buttons->addButton(QStringLiteral("Help"), QDialogButtonBox::HelpRole);
  help->setObjectName(QStringLiteral("helpButton"));
  QPushButton* close = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
  close->setObjectName(QStringLiteral("closeButton"));
  close->setDefault(true);
  // The box stays open while the manual is shown; closing it is the user's choice.
  connect(help, &QPushButton::clicked, this, &AboutDialog::helpRequested);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  setMinimumWidth(380);
}

QString ManualPath() {
  // In order: a manual beside the program (a copied folder); the installed document folder relative
  // to the program (found under any root the package is unpacked in); the folder CMake installs it
  // in; a build run from the tree uses the source.
  QStringList candidates;
  if (QCoreApplication::instance() != nullptr) {
    const QDir program(QCoreApplication::applicationDirPath());
    candidates << program.filePath(QStringLiteral("manual/index.html"))
               << QDir::cleanPath(program.filePath(QStringLiteral(TABULON_DOCDIR_FROM_BINDIR "/manual/index.html")));
  }
  candidates << QStringLiteral(TABULON_INSTALL_DOCDIR "/manual/index.html");
  for (const QString& candidate : candidates) {
    if (QFileInfo(candidate).isFile()) return candidate;
  }
  return QStringLiteral(TABULON_MANUAL_PATH);
}

}  // namespace tabulon::gui
