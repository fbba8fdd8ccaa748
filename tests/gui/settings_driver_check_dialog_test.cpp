// The driver check dialog: its rows, colours, links, notes and buttons.
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "driver_check_dialog.h"

using tabulon::config::DriverRow;
using tabulon::converters::DriverCheckRows;
using tabulon::gui::DriverCheckDialog;

namespace {

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);

QColor TextColour(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

DriverCheckRows SampleRows() {
  DriverCheckRows rows;
  rows.source = {{"Microsoft OLE DB Provider for SQL Server", "Installed", "Usable"},
                 {"Microsoft OLE DB Provider for ODBC Drivers", "Not Installed", "Unusable"},
                 {"TCP/IP:Port", "N/A", "Usable"}};
  rows.target = {{"Microsoft Jet 4.0 OLE DB Provider", "Installed", "Usable"},
                 {"Microsoft Access Driver", "Not installed", "Unusable"}};
  return rows;
}

}  // namespace

class DriverCheckDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void rowsAreLaidOutInOrder();
  void usabilityIsColoured();
  void eachGroupHasItsLinkAndNote();
  void openConfigAndCancel();
  void showsTheMachinesOwnCheck();
};

void DriverCheckDialogTest::rowsAreLaidOutInOrder() {
  const DriverCheckRows rows = SampleRows();
  DriverCheckDialog dialog(rows);
  QCOMPARE(dialog.windowTitle(), QString("Driver Check"));
  struct Side {
    const char* prefix;
    const char* caption;
    const std::vector<DriverRow>* rows;
  };
  for (const Side& side : {Side{"source", "MSSQL", &rows.source}, Side{"target", "Access", &rows.target}}) {
    const QString prefix = side.prefix;
    auto* group = dialog.findChild<QGroupBox*>(prefix + "_group");
    QVERIFY(group != nullptr);
    QCOMPARE(group->title(), QString(side.caption));
    auto* grid = qobject_cast<QGridLayout*>(group->layout());
    QVERIFY(grid != nullptr);
    for (int row = 0; row < int(side.rows->size()); ++row) {
      const DriverRow& expected = (*side.rows)[size_t(row)];
      const QString suffix = QStringLiteral("_%1").arg(row);
      const QString texts[3] = {QString::fromStdString(expected.name), QString::fromStdString(expected.installed),
                                QString::fromStdString(expected.usable)};
      const char* fields[3] = {"_name", "_installed", "_usable"};
      for (int column = 0; column < 3; ++column) {
        auto* label = group->findChild<QLabel*>(prefix + fields[column] + suffix);
        QVERIFY2(label != nullptr, qPrintable(prefix + fields[column] + suffix));
        QCOMPARE(label->text(), texts[column]);
        int at_row = -1, at_column = -1, row_span = 0, column_span = 0;
        grid->getItemPosition(grid->indexOf(label), &at_row, &at_column, &row_span, &column_span);
        QCOMPARE(at_row, row);
        QCOMPARE(at_column, column);
      }
    }
    QVERIFY(group->findChild<QLabel*>(prefix + "_name_" + QString::number(side.rows->size())) == nullptr);
  }
}

void DriverCheckDialogTest::usabilityIsColoured() {
  DriverCheckRows rows;
  rows.source = {{"Microsoft OLE DB Provider for SQL Server", "Installed", "Usable"},
                 {"Microsoft OLE DB Provider for ODBC Drivers", "Not Installed", "Unusable"},
                 // The match is case-sensitive: lower-case words keep the default colour.
                 {"TCP/IP:Port", "N/A", "usable"}};
  rows.target = {{"Microsoft Access Driver", "Not installed", "Unusable"}};
  DriverCheckDialog dialog(rows);
  const QColor plain = QLabel().palette().color(QPalette::WindowText);
  const auto colour = [&](const char* name) {
    auto* label = dialog.findChild<QLabel*>(name);
    return label == nullptr ? QColor() : TextColour(label);
  };
  QCOMPARE(colour("source_usable_0"), kGreen);
  QCOMPARE(colour("source_usable_1"), kRed);  // "Unusable" holds "Usable" too, yet is red
  QCOMPARE(colour("source_usable_2"), plain);
  QCOMPARE(colour("target_usable_0"), kRed);
  for (const char* name : {"source_name_0", "source_installed_0", "source_installed_1", "target_installed_0"}) {
    QCOMPARE(colour(name), plain);
  }
  // The note speaks of 'Unusable' drivers: it is drawn as a warning.
  QCOMPARE(colour("source_note"), kRed);
}

void DriverCheckDialogTest::eachGroupHasItsLinkAndNote() {
  DriverCheckDialog dialog(SampleRows());
  const QString note =
      "Note: If there is no 'Usable' Driver, your computer can not connect to remote/local database. So, your must "
      "install/repair at least one of them. ('Installed' but 'Unusable' need repair.)\nIf have not a Setup Software, "
      "you can link to the authoritative site to download.";
  for (const QString prefix : {"source", "target"}) {
    auto* group = dialog.findChild<QGroupBox*>(prefix + "_group");
    auto* link = group->findChild<QLabel*>(prefix + "_link");
    QVERIFY(link != nullptr);
    QVERIFY(link->openExternalLinks());
    QCOMPARE(link->toolTip(), QString("Get Setup Program from Authoritative site"));
    QCOMPARE(link->textFormat(), Qt::RichText);
    const QString html = link->text();
    QVERIFY2(html.contains(QStringLiteral("href=\"%1\"").arg(tabulon::converters::kDriverSetupSite)), qPrintable(html));
    QVERIFY2(html.contains(">Go Microsoft to get Setup</a>"), qPrintable(html));
    // The link sits below the rows.
    auto* grid = qobject_cast<QGridLayout*>(group->layout());
    int row = -1, column = -1, row_span = 0, column_span = 0;
    grid->getItemPosition(grid->indexOf(link), &row, &column, &row_span, &column_span);
    QCOMPARE(row, grid->rowCount() - 1);

    // The note follows the group, outside it, with its line break and no tabs.
    auto* text = dialog.findChild<QLabel*>(prefix + "_note");
    QVERIFY(text != nullptr);
    QVERIFY(text->parentWidget() == &dialog);
    QCOMPARE(text->text(), note);
    QVERIFY(text->wordWrap());
  }
}

void DriverCheckDialogTest::openConfigAndCancel() {
  {
    DriverCheckDialog dialog(SampleRows());
    auto* open_config = dialog.findChild<QPushButton*>("open_config_button");
    QVERIFY(open_config != nullptr);
    QCOMPARE(open_config->text(), QString("Open Config"));
    QVERIFY(open_config->isDefault());
    dialog.show();
    open_config->click();
    QCOMPARE(dialog.result(), DriverCheckDialog::kOpenConfig);
    QVERIFY(!dialog.isVisible());
  }
  {
    DriverCheckDialog dialog(SampleRows());
    auto* cancel = dialog.findChild<QPushButton*>("cancel_button");
    QCOMPARE(cancel->text(), QString("Cancel"));
    dialog.show();
    cancel->click();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
  }
  {
    // Enter takes the default button even while run modally.
    DriverCheckDialog dialog(SampleRows());
    QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Return); });
    QCOMPARE(dialog.exec(), DriverCheckDialog::kOpenConfig);
  }
}

void DriverCheckDialogTest::showsTheMachinesOwnCheck() {
  const DriverCheckRows rows = tabulon::converters::RunDriverCheck();
  DriverCheckDialog dialog(rows);
  QVERIFY(!rows.source.empty());
  // Every usability field of this machine is either green or red.
  for (size_t row = 0; row < rows.source.size(); ++row) {
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("source_usable_%1").arg(row));
    QVERIFY(label != nullptr);
    QVERIFY2(TextColour(label) == kGreen || TextColour(label) == kRed, qPrintable(label->text()));
  }
  QCOMPARE(dialog.findChildren<QLabel*>(QRegularExpression("^target_name_\\d+$")).size(),
           qsizetype(rows.target.size()));
}

QTEST_MAIN(DriverCheckDialogTest)
#include "settings_driver_check_dialog_test.moc"
