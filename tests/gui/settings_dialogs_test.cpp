// The connection settings dialog over a real Workbench, a scripted prompt and a tabulon.cfg in a
// scratch folder: the file's fields reach the dialog and back, the provider fills the source
// names, the file choosers and the new target file, and the four buttons reach the core. The
// driver check shows the check's rows and leads on to the settings.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "driver_check_dialog.h"
#include "gui_test_support.h"
#include "jet/database.h"
#include "settings_dialog.h"

using tabulon::config::Settings;
using tabulon::data::ScriptedUserPrompt;
using tabulon::gui::ConnectionSettingsDialog;
namespace testing = tabulon::gui::testing;

namespace {

constexpr const char* kSqlServer = "Microsoft OLE DB Provider for SQL Server";
constexpr const char* kJet4 = "Microsoft Jet 4.0 OLE DB Provider";
constexpr const char* kOdbc = "Microsoft OLE DB Provider for ODBC Divers";

// A settings file; `source_name` empty leaves the line out.
QByteArray Config(const QByteArray& config, const QByteArray& source_name = "MyServer") {
  return "[Public]\r\nConfig=" + config + "\r\nTips=true\r\nAutoBackup=true\r\n[SourceDB]\r\n" +
         "Provider=microsoft ole db provider for sql server\r\n" +
         (source_name.isEmpty() ? QByteArray() : "SourceName=" + source_name + "\r\n") +
         "UserID=sa\r\nPassWord=Secret!\r\nCatalogName=NorthWind\r\n[TargetDB]\r\nProvider=" + kJet4 +
         "\r\nSourceName=/data/Old Files/Shop.mdb\r\nUserID=admin\r\n";
}

// The profiles as the file above holds them, the provider as the dialog's list spells it.
const tabulon::config::SideSettings kSource = {kSqlServer, "MyServer", "sa", "Secret!", "NorthWind"};
const tabulon::config::SideSettings kTarget = {kJet4, "/data/Old Files/Shop.mdb", "admin", "", ""};

bool Same(const tabulon::config::SideSettings& a, const tabulon::config::SideSettings& b) {
  return std::tie(a.provider, a.source_name, a.user_id, a.password, a.catalog_name) ==
         std::tie(b.provider, b.source_name, b.user_id, b.password, b.catalog_name);
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
  QString ConfigPath() const { return Path("tabulon.cfg"); }
  std::unique_ptr<ConnectionSettingsDialog> OpenDialog(const QString& path = {}) {
    ConnectionSettingsDialog::Hooks hooks;
    hooks.show_tips = [this](bool on) { tips_calls_.push_back(on); };
    hooks.connect = [this] { ++connect_calls_; };
    return std::make_unique<ConnectionSettingsDialog>(*owner_, (path.isEmpty() ? ConfigPath() : path).toStdString(),
                                                      hooks);
  }
  void SelectProvider(ConnectionSettingsDialog& dialog, int side, const QString& provider) {
    dialog.provider_combo(side)->setCurrentIndex(dialog.provider_combo(side)->findText(provider));
  }

  QTemporaryDir env_dir_;
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<ScriptedUserPrompt> prompt_;
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
    QVERIFY(testing::WriteBytes(env_dir_.filePath("freetds.conf"),
                                "[global]\n[zeta]\nhost = 127.0.0.1\n[Alpha]\n[" + host + "]\nhost = 127.0.0.1\n"));
    QVERIFY(testing::WriteBytes(env_dir_.filePath("odbcinst.ini"),
                                "[FreeTDS]\nDriver=libtdsodbc.so\n[SQLite3]\nDriver=libsqlite3odbc.so\n"));
    QVERIFY(testing::WriteBytes(env_dir_.filePath("odbc.ini"),
                                "[shop]\nDriver=FreeTDS\n[notes]\nDriver=SQLite3\nDatabase=/tmp/notes.db\n"));
    qputenv("FREETDSCONF", env_dir_.filePath("freetds.conf").toUtf8());
    qputenv("ODBCSYSINI", env_dir_.path().toUtf8());
    qputenv("ODBCINI", env_dir_.filePath("odbc.ini").toUtf8());
  }

  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    prompt_ = std::make_unique<ScriptedUserPrompt>();
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

  // The file's fields reach the dialog and come back unchanged; the profiles only when the file
  // says so, the options always (the tips hook hears them at once). Opening never asks anything
  // nor creates a target file.
  void fieldsComeFromTheFile() {
    for (bool profiles : {true, false}) {
      QVERIFY(testing::WriteBytes(ConfigPath(), Config(profiles ? "true" : "false")));
      tips_calls_.clear();
      auto dialog = OpenDialog();
      const Settings shown = dialog->CurrentSettings();
      QVERIFY(shown.use_config_file == profiles && shown.tips && shown.auto_backup);
      QCOMPARE(tips_calls_, std::vector<bool>{true});
      if (profiles) QVERIFY(Same(shown.source, kSource) && Same(shown.target, kTarget));
      if (!profiles) QVERIFY(shown.source.user_id.empty() && shown.target.source_name.empty());
    }
    QVERIFY(!QFileInfo::exists(Path("Access_New.mdb")));
    QVERIFY(prompt_->texts().empty());
  }

  // Without a stored source name the alias named like this computer is selected (in any case);
  // a stored name wins; without such an alias the first entry is taken.
  void selectsThisComputersAlias() {
    const QString host = QSysInfo::machineHostName().toUpper();
    QVERIFY(testing::WriteBytes(ConfigPath(), Config("true", "")));
    QCOMPARE(OpenDialog()->source_name_combo(0)->currentText(), host);
    QVERIFY(testing::WriteBytes(ConfigPath(), Config("true", "zeta")));
    QCOMPARE(OpenDialog()->source_name_combo(0)->currentText(), QStringLiteral("zeta"));
    // ODBC: the data sources of a SQL Server driver, none named like this computer.
    QVERIFY(testing::WriteBytes(ConfigPath(), "[Public]\nConfig=true\n[SourceDB]\nProvider=" + QByteArray(kOdbc)));
    QCOMPARE(OpenDialog()->source_name_combo(0)->currentText(), QStringLiteral("shop"));
  }

  // A provider change fills the source names from the core's choices; a file provider offers
  // its chooser instead, TCP/IP a server address.
  void providerFillsTheSourceNames() {
    auto dialog = OpenDialog();
    QComboBox* names = dialog->source_name_combo(0);
    auto* browse = dialog->findChild<QPushButton*>("source_browse");
    SelectProvider(*dialog, 0, kSqlServer);
    QCOMPARE(Items(names), QStringList({"Alpha", QSysInfo::machineHostName().toUpper(), "zeta"}));
    QCOMPARE(names->currentText(), QStringLiteral("Alpha"));
    SelectProvider(*dialog, 0, "SQLite");
    QVERIFY(names->count() == 0 && browse->isEnabled());
    SelectProvider(*dialog, 0, "TCP/IP:Port");
    QVERIFY(names->currentText() == "127.0.0.1" && !browse->isEnabled());

    // The chooser's path becomes the source name, the catalog cleared.
    SelectProvider(*dialog, 0, "SQLite");
    dialog->catalog_edit(0)->setText("old");
    prompt_->AnswerText("/y/Zoo.sqlite");
    browse->click();
    QVERIFY(names->currentText() == "/y/Zoo.sqlite" && dialog->catalog_edit(0)->text().isEmpty());
  }

  // Choosing a Jet provider for the target creates a new empty Access file and proposes it;
  // choosing one again keeps that file as it is.
  void jetTargetProposesANewAccessFile() {
    auto dialog = OpenDialog();
    SelectProvider(*dialog, 1, kJet4);
    const QString expected = Path("Access_New.mdb");
    QCOMPARE(dialog->source_name_combo(1)->currentText(), expected);
    {
      auto opened = tabulon::jet::Database::Open(expected.toStdString(), tabulon::jet::OpenMode::kReadOnly);
      QVERIFY2(opened.ok(), opened.status().ToString().c_str());
      QVERIFY(opened.value()->ListTables().value().empty());
    }
    QVERIFY(testing::ReaderTables(expected.toStdString()).empty());
    const QByteArray before = testing::ReadBytes(expected);
    SelectProvider(*dialog, 1, "Microsoft Access Driver");
    SelectProvider(*dialog, 1, "Microsoft Jet 3.51 OLE DB Provider");
    QCOMPARE(Items(dialog->source_name_combo(1)), QStringList({expected}));
    QCOMPARE(testing::ReadBytes(expected), before);
  }

  // Test reports each side through the prompt and leaves the Workbench's connections alone.
  void testReportsEachSide() {
    QVERIFY(testing::WriteBytes(Path("shop.sqlite"), {}));  // an empty file is an empty SQLite database
    auto dialog = OpenDialog();
    SelectProvider(*dialog, 0, "SQLite");
    SelectProvider(*dialog, 1, kJet4);
    dialog->source_name_combo(0)->setEditText(Path("shop.sqlite"));
    dialog->test_button()->click();
    QCOMPARE(prompt_->texts(),
             std::vector<std::string>({"Source Connection Successful!", "Target Connection Successful!"}));
    dialog->source_name_combo(0)->setEditText(Path("gone.sqlite"));
    dialog->test_button()->click();
    QCOMPARE(prompt_->texts().at(2), std::string("Source DB Connect ERROR!"));
    QVERIFY(owner_->source().data_source == nullptr && owner_->target().data_source == nullptr);
    QVERIFY(!QFileInfo::exists(ConfigPath()));
  }

  // Save Config, Connect and Close: what each leaves in the file and hands to the Workbench.
  void buttonsReachTheFileAndTheWorkbench() {
    struct Case {
      const char* name;
      std::function<void(ConnectionSettingsDialog&)> press;
      const char* file_has;  // a line the file holds afterwards (null: the file is unchanged)
      int connects;
      const char* source_name;  // the Workbench's source name afterwards
    };
    const Case cases[] = {
        {"save", [](auto& d) { d.save_button()->click(); }, "UserID=Operator", 0, ""},
        {"save, profiles off", [](auto& d) { d.config_check()->click(), d.save_button()->click(); }, "UserID=sa", 0,
         ""},
        {"connect", [](auto& d) { d.connect_button()->click(); }, "SourceName=BigServer", 1, "bigserver"},
        {"close", [](auto& d) { d.close_button()->click(); }, nullptr, 0, ""},
    };
    for (const Case& c : cases) {
      cleanup();
      init();
      QVERIFY(testing::WriteBytes(ConfigPath(), Config("true")));
      auto dialog = OpenDialog();
      dialog->show();
      dialog->user_edit(0)->setText("Operator");
      dialog->source_name_combo(0)->setEditText("BigServer");
      c.press(*dialog);
      const QByteArray file = testing::ReadBytes(ConfigPath());
      QVERIFY2(c.file_has ? file.contains(c.file_has) : file == Config("true"), c.name);
      QVERIFY2(connect_calls_ == c.connects && owner_->source().profile.source_name == c.source_name, c.name);
      QVERIFY2(dialog->isVisible() == (c.connects == 0 && std::string(c.name) != "close"), c.name);
    }
    cleanup();
    init();
    // A settings file that cannot be written is reported, and Connect goes on.
    auto dialog = OpenDialog(Path("no/such/folder/tabulon.cfg"));
    dialog->connect_button()->click();
    QCOMPARE(prompt_->texts().size(), std::size_t{1});
    QCOMPARE(connect_calls_, 1);
    QCOMPARE(owner_->source().profile.provider_name, std::string("MSDASQL"));
  }

  // The rows reach the screen; "Open Config" is the default (Enter takes it even while run
  // modally), Cancel rejects.
  void driverCheckRowsAndButtons() {
    tabulon::converters::DriverCheckRows rows;
    rows.source = {{"Provider A", "Installed", "Usable"}, {"Provider B", "Not Installed", "Unusable"}};
    rows.target = {{"Driver C", "N/A", "usable"}};
    tabulon::gui::DriverCheckDialog dialog(rows);
    QStringList shown;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) shown << label->text();
    for (const auto& row : {rows.source[0], rows.source[1], rows.target[0]}) {
      for (const std::string& text : {row.name, row.installed, row.usable}) QVERIFY(shown.contains(text.c_str()));
    }
    QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Return); });
    QCOMPARE(dialog.exec(), tabulon::gui::DriverCheckDialog::kOpenConfig);
    dialog.show();
    dialog.findChild<QPushButton*>("cancel_button")->click();
    QVERIFY(dialog.result() == QDialog::Rejected && !dialog.isVisible());
  }
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialogs_test.moc"
