// The connection settings dialog over a real Workbench, a scripted prompt and a tabulon.cfg in a
// scratch folder: the file's fields reach the dialog and back, the provider fills the source
// names (this computer's alias first when the file names none), the file chooser and the new
// target file, and the buttons reach the core. The driver check's buttons lead on.
#include <QtTest>
#include <QtWidgets>
#include <memory>
#include <string>
#include <vector>

#include "driver_check_dialog.h"
#include "gui_test_support.h"
#include "jet/database.h"
#include "settings_dialog.h"

using tabulon::gui::ConnectionSettingsDialog;
namespace testing = tabulon::gui::testing;

namespace {

constexpr const char* kSqlServer = "Microsoft OLE DB Provider for SQL Server";
constexpr const char* kJet4 = "Microsoft Jet 4.0 OLE DB Provider";

// A settings file; an empty `source_name` leaves its line out.
QByteArray Config(const QByteArray& config, const QByteArray& source_name = "MyServer") {
  return "[Public]\nConfig=" + config + "\nTips=true\nAutoBackup=true\n[SourceDB]\n" +
         "Provider=microsoft ole db provider for sql server\n" +
         (source_name.isEmpty() ? QByteArray() : "SourceName=" + source_name + "\n") +
         "UserID=sa\nPassWord=Secret!\nCatalogName=NorthWind\n[TargetDB]\nProvider=" + kJet4 +
         "\nSourceName=/data/Shop.mdb\nUserID=admin\n";
}

QString Flat(const tabulon::config::SideSettings& side) {
  return QString::fromStdString(side.provider + '|' + side.source_name + '|' + side.user_id + '|' + side.password +
                                '|' + side.catalog_name);
}

QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

}  // namespace

class SettingsDialogTest : public QObject {
  Q_OBJECT

 private:
  QString Path(const QString& name) const { return dir_->filePath(name); }
  std::unique_ptr<ConnectionSettingsDialog> OpenDialog(const QString& path = "tabulon.cfg") {
    ConnectionSettingsDialog::Hooks hooks;
    hooks.show_tips = [this](bool on) { tips_calls_.push_back(on); };
    hooks.connect = [this] { ++connect_calls_; };
    return std::make_unique<ConnectionSettingsDialog>(*owner_, Path(path).toStdString(), hooks);
  }
  static void SelectProvider(ConnectionSettingsDialog& dialog, int side, const QString& provider) {
    dialog.provider_combo(side)->setCurrentIndex(dialog.provider_combo(side)->findText(provider));
  }

  QTemporaryDir env_dir_;
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<tabulon::workspace::ScriptedUserPrompt> prompt_;
  std::unique_ptr<tabulon::converters::Workbench> owner_;
  std::vector<bool> tips_calls_;
  int connect_calls_ = 0;

 private slots:
  void initTestCase() {
    // The SQL Server choices come from FreeTDS's configuration (one alias is this computer's
    // name in another case), the ODBC ones from the driver manager's files: both point into the
    // scratch folder, never at the machine's own.
    const QByteArray host = QSysInfo::machineHostName().toUpper().toUtf8();
    QVERIFY(!host.isEmpty());
    QVERIFY(testing::WriteBytes(env_dir_.filePath("freetds.conf"), "[global]\n[zeta]\n[Alpha]\n[" + host + "]\n"));
    QVERIFY(testing::WriteBytes(env_dir_.filePath("odbcinst.ini"), "[FreeTDS]\nDriver=libtdsodbc.so\n"));
    QVERIFY(testing::WriteBytes(env_dir_.filePath("odbc.ini"), "[shop]\nDriver=FreeTDS\n"));
    qputenv("FREETDSCONF", env_dir_.filePath("freetds.conf").toUtf8());
    qputenv("ODBCSYSINI", env_dir_.path().toUtf8());
    qputenv("ODBCINI", env_dir_.filePath("odbc.ini").toUtf8());
  }

  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    prompt_ = std::make_unique<tabulon::workspace::ScriptedUserPrompt>();
    tabulon::converters::WorkbenchOptions options;
    options.program_folder = dir_->path().toStdString();
    owner_ = std::make_unique<tabulon::converters::Workbench>(*prompt_, options);
    owner_->target_context().system_database_path = Path("System.MDW").toStdString();
    tips_calls_.clear();
    connect_calls_ = 0;
  }

  void cleanup() {
    owner_.reset();
    prompt_.reset();
    dir_.reset();
  }

  // The file's fields reach the dialog (the profiles only when the file says so, the options
  // always, the tips hook at once) and Save Config writes them back as edited; Close writes
  // nothing. Opening asks nothing and creates no target file.
  void fieldsComeFromTheFileAndGoBack() {
    QVERIFY(testing::WriteBytes(Path("tabulon.cfg"), Config("false")));
    auto dialog = OpenDialog();
    QVERIFY(!dialog->config_check()->isChecked() && dialog->tips_check()->isChecked());
    const tabulon::config::Settings off = dialog->CurrentSettings();
    QVERIFY(off.source.user_id.empty() && off.source.catalog_name.empty() && off.target.user_id.empty());
    QVERIFY(testing::WriteBytes(Path("tabulon.cfg"), Config("true")));
    dialog = OpenDialog();
    QCOMPARE(tips_calls_, std::vector<bool>({true, true}));
    QCOMPARE(Flat(dialog->CurrentSettings().source), QString(kSqlServer) + "|MyServer|sa|Secret!|NorthWind");
    QCOMPARE(Flat(dialog->CurrentSettings().target), QString(kJet4) + "|/data/Shop.mdb|admin||");
    QVERIFY(!QFileInfo::exists(Path("Access_New.mdb")) && prompt_->texts().empty());

    dialog->user_edit(0)->setText("Operator");
    dialog->auto_backup_check()->click();
    dialog->save_button()->click();
    dialog->user_edit(0)->setText("Closed");
    dialog->close_button()->click();
    const tabulon::config::Settings saved = OpenDialog()->CurrentSettings();
    QVERIFY(saved.source.user_id == "Operator" && !saved.auto_backup && saved.use_config_file);
    QCOMPARE(connect_calls_, 0);

    // Without a stored source name the alias named like this computer is selected (in any case);
    // a stored name wins.
    QVERIFY(testing::WriteBytes(Path("tabulon.cfg"), Config("true", "")));
    QCOMPARE(OpenDialog()->source_name_combo(0)->currentText(), QSysInfo::machineHostName().toUpper());
    QVERIFY(testing::WriteBytes(Path("tabulon.cfg"), Config("true", "zeta")));
    QCOMPARE(OpenDialog()->source_name_combo(0)->currentText(), QStringLiteral("zeta"));
  }

  // A provider change fills the source names from the core's choices, the first selected; a
  // file provider offers its chooser instead (its path becomes the source name), TCP/IP a
  // server address, a Jet target a new Access file.
  void providerFillsTheSourceNames() {
    auto dialog = OpenDialog();
    QComboBox* names = dialog->source_name_combo(0);
    auto* browse = dialog->findChild<QPushButton*>("source_browse");
    QCOMPARE(Items(names), QStringList{"shop"});  // ODBC, the first provider
    SelectProvider(*dialog, 0, kSqlServer);
    QCOMPARE(Items(names), QStringList({"Alpha", QSysInfo::machineHostName().toUpper(), "zeta"}));
    QCOMPARE(names->currentText(), QStringLiteral("Alpha"));
    SelectProvider(*dialog, 0, "TCP/IP:Port");
    QVERIFY(names->currentText() == "127.0.0.1" && !browse->isEnabled());
    SelectProvider(*dialog, 0, "SQLite");
    prompt_->AnswerText("/y/Zoo.sqlite");
    browse->click();
    QCOMPARE(names->currentText(), QStringLiteral("/y/Zoo.sqlite"));

    // A Jet provider for the target creates a new empty Access file and proposes it; choosing
    // one again keeps that file as it is.
    SelectProvider(*dialog, 1, kJet4);
    const QString file = Path("Access_New.mdb");
    QCOMPARE(dialog->source_name_combo(1)->currentText(), file);
    QVERIFY(tabulon::jet::Database::Open(file.toStdString(), tabulon::jet::OpenMode::kReadOnly).ok());
    QVERIFY(testing::ReaderTables(file.toStdString()).empty());
    const std::string before = tabulon::testing::ReadTextFile(file.toStdString());
    SelectProvider(*dialog, 1, "Microsoft Access Driver");
    SelectProvider(*dialog, 1, "Microsoft Jet 3.51 OLE DB Provider");
    QCOMPARE(Items(dialog->source_name_combo(1)), QStringList({file}));
    QCOMPARE(tabulon::testing::ReadTextFile(file.toStdString()), before);
  }

  // Test reports each side through the prompt and leaves the Workbench alone; Connect stores
  // the settings, hands them (and the type map) to the Workbench and runs the hook, also when
  // the file cannot be written (which it reports).
  void testAndConnectReachTheCore() {
    QVERIFY(testing::WriteBytes(Path("shop.sqlite"), {}));  // an empty file is an empty SQLite database
    auto dialog = OpenDialog();
    SelectProvider(*dialog, 0, "SQLite");
    SelectProvider(*dialog, 1, kJet4);
    dialog->source_name_combo(0)->setEditText(Path("shop.sqlite"));
    dialog->test_button()->click();
    dialog->source_name_combo(0)->setEditText(Path("gone.sqlite"));
    dialog->test_button()->click();
    const std::vector<std::string> texts = prompt_->texts();
    QVERIFY(texts.size() >= 3 && texts[0] == "Source Connection Successful!" && texts[2] == "Source DB Connect ERROR!");
    QVERIFY(owner_->source().profile.source_name.empty() && !QFileInfo::exists(Path("tabulon.cfg")));

    dialog->type_map_combo()->setCurrentIndex(1);  // native Access types: written and in force
    dialog->connect_button()->click();
    QVERIFY(connect_calls_ == 1 && dialog->result() == QDialog::Accepted);
    QVERIFY(owner_->type_map->origin.ends_with("tabulon.cfg") && !owner_->type_map->empty());
    QCOMPARE(QString::fromStdString(owner_->source().profile.source_name).toLower(), Path("gone.sqlite").toLower());
    QVERIFY(QFileInfo::exists(Path("tabulon.cfg")));  // the options; the profiles only when asked for
    const std::size_t asked = prompt_->texts().size();
    OpenDialog("no/such/folder/tabulon.cfg")->connect_button()->click();
    QVERIFY(connect_calls_ == 2 && prompt_->texts().size() == asked + 1);
  }

  // "Open Config" is the default (Enter takes it even while run modally), Cancel rejects.
  void driverCheckButtons() {
    tabulon::gui::DriverCheckDialog dialog(tabulon::converters::DriverCheckRows{});
    QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Return); });
    QCOMPARE(dialog.exec(), tabulon::gui::DriverCheckDialog::kOpenConfig);
    dialog.show();
    dialog.findChild<QPushButton*>("cancel_button")->click();
    QVERIFY(dialog.result() == QDialog::Rejected && !dialog.isVisible());
  }
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialogs_test.moc"
