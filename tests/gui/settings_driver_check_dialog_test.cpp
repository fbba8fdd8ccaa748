// The driver check dialog: its rows, colours, links, notes and buttons.
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "driver_check_dialog.h"

using tabulon::converters::DriverCheckRows;
using tabulon::gui::DriverCheckDialog;

namespace {

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);

QColor TextColour(const DriverCheckDialog& dialog, const QString& name) {
  auto* label = dialog.findChild<QLabel*>(name);
  return label == nullptr ? QColor() : label->palette().color(QPalette::WindowText);
}

DriverCheckRows SampleRows() {
  DriverCheckRows rows;
  rows.source = {{"Microsoft OLE DB Provider for SQL Server", "Installed", "Usable"},
                 {"Microsoft OLE DB Provider for ODBC Drivers", "Not Installed", "Unusable"},
                 // The match is case-sensitive: lower-case words keep the default colour.
                 {"TCP/IP:Port", "N/A", "usable"}};
  rows.target = {{"Microsoft Access Driver", "Not installed", "Unusable"}};
  return rows;
}

}  // namespace

class DriverCheckDialogTest : public QObject {
  Q_OBJECT

 private slots:
  // Each row shows the check's three texts; only the usability field is
  // coloured, green for "Usable" and red for "Unusable" (which holds "Usable"
  // too).
  void rowsAndColours() {
    const DriverCheckRows rows = SampleRows();
    DriverCheckDialog dialog(rows);
    QCOMPARE(dialog.windowTitle(), QString("Driver Check"));
    QCOMPARE(dialog.findChild<QGroupBox*>("source_group")->title(), QString("MSSQL"));
    QCOMPARE(dialog.findChild<QGroupBox*>("target_group")->title(), QString("Access"));
    for (std::size_t row = 0; row < rows.source.size(); ++row) {
      const QString suffix = QStringLiteral("_%1").arg(row);
      QCOMPARE(dialog.findChild<QLabel*>("source_name" + suffix)->text(),
               QString::fromStdString(rows.source[row].name));
      QCOMPARE(dialog.findChild<QLabel*>("source_installed" + suffix)->text(),
               QString::fromStdString(rows.source[row].installed));
      QCOMPARE(dialog.findChild<QLabel*>("source_usable" + suffix)->text(),
               QString::fromStdString(rows.source[row].usable));
    }
    QVERIFY(dialog.findChild<QLabel*>("target_name_1") == nullptr);

    const QColor plain = QLabel().palette().color(QPalette::WindowText);
    QCOMPARE(TextColour(dialog, "source_usable_0"), kGreen);
    QCOMPARE(TextColour(dialog, "source_usable_1"), kRed);
    QCOMPARE(TextColour(dialog, "source_usable_2"), plain);
    QCOMPARE(TextColour(dialog, "target_usable_0"), kRed);
    for (const char* name : {"source_name_0", "source_installed_0", "source_installed_1"}) {
      QCOMPARE(TextColour(dialog, name), plain);
    }
    QCOMPARE(TextColour(dialog, "source_note"),
             kRed);  // it warns of 'Unusable' drivers
  }

  void eachGroupHasItsLinkAndNote() {
    DriverCheckDialog dialog(SampleRows());
    const QString note =
        "Note: If there is no 'Usable' Driver, your computer can not connect "
        "to remote/local database. So, your must "
        "install/repair at least one of them. ('Installed' but 'Unusable' need "
        "repair.)\nIf have not a Setup Software, "
        "you can link to the authoritative site to download.";
    for (const QString prefix : {"source", "target"}) {
      auto* link = dialog.findChild<QLabel*>(prefix + "_link");
      QVERIFY(link != nullptr && link->openExternalLinks());
      QCOMPARE(link->toolTip(), QString("Get Setup Program from Authoritative site"));
      const QString html = link->text();
      QVERIFY2(html.contains(QStringLiteral("href=\"%1\"").arg(tabulon::converters::kDriverSetupSite)),
               qPrintable(html));
      QVERIFY2(html.contains(">Go Microsoft to get Setup</a>"), qPrintable(html));
      QCOMPARE(dialog.findChild<QLabel*>(prefix + "_note")->text(), note);
    }
  }

  // "Open Config" is the default (Enter takes it even while run modally);
  // Cancel rejects.
  void openConfigAndCancel() {
    DriverCheckDialog dialog(SampleRows());
    auto* open_config = dialog.findChild<QPushButton*>("open_config_button");
    QCOMPARE(open_config->text(), QString("Open Config"));
    QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Return); });
    QCOMPARE(dialog.exec(), DriverCheckDialog::kOpenConfig);

    auto* cancel = dialog.findChild<QPushButton*>("cancel_button");
    QCOMPARE(cancel->text(), QString("Cancel"));
    dialog.show();
    cancel->click();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
  }

  // This machine's own check: every usability field is either green or red.
  void showsTheMachinesOwnCheck() {
    const DriverCheckRows rows = tabulon::converters::RunDriverCheck();
    DriverCheckDialog dialog(rows);
    QVERIFY(!rows.source.empty());
    for (std::size_t row = 0; row < rows.source.size(); ++row) {
      const QColor colour = TextColour(dialog, QStringLiteral("source_usable_%1").arg(row));
      QVERIFY(colour == kGreen || colour == kRed);
    }
  }
};

QTEST_MAIN(DriverCheckDialogTest)
#include "settings_driver_check_dialog_test.moc"
