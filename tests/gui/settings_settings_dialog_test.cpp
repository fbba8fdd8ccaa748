// The connection settings dialog over a real Workbench, a scripted prompt and a
// tabulon.cfg in a scratch folder: loading, provider handling, the file
// choosers, the new target file, the connection test, "Save Config", "Connect"
// and "Close".
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "gui_test_support.h"
#include "jet/database.h"
#include "jet/file_io.h"
#include "jet_readers.h"
#include "settings_dialog.h"

using tabulon::converters::Workbench;
using tabulon::converters::WorkbenchOptions;
using tabulon::gui::ConnectionSettingsDialog;
using tabulon::workspace::ScriptedUserPrompt;

namespace {

constexpr const char* kSqlServer = "Microsoft OLE DB Provider for SQL Server";
constexpr const char* kJet4 = "Microsoft Jet 4.0 OLE DB Provider";

void WriteText(const QString& path, const QByteArray& text) { QVERIFY(tabulon::gui::testing::WriteBytes(path, text)); }

QByteArray ReadText(const QString& path) { return tabulon::gui::testing::ReadBytes(path); }

// The lines of an INI text without blanks around them (line ends of either
// kind).
QStringList Lines(const QByteArray& text) {
  QStringList lines;
  for (QString line : QString::fromUtf8(text).split('\n')) lines << line.trimmed();
  return lines;
}

QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

QByteArray FullConfig(const QByteArray& config_value) {
  return "[Public]\r\nConfig=" + config_value +
         "\r\nTips=true\r\nAutoBackup=untrue\r\n"
         "[SourceDB]\r\nProvider=microsoft ole db provider for sql "
         "server\r\nSourceName=MyServer\r\n"
         "UserID=sa\r\nPassWord=Secret!\r\nCatalogName=NorthWind\r\n"
         "[TargetDB]\r\nProvider=Microsoft Jet 4.0 OLE DB "
         "Provider\r\nSourceName=/data/Old Files/Shop.mdb\r\n"
         "UserID=admin\r\nPassWord=\r\nCatalogName=\r\n";
}

}  // namespace

class SettingsDialogTest : public QObject {
  Q_OBJECT

 private:
  QString Path(const QString& name) const { return dir_->filePath(name); }
  QString ConfigPath() const { return Path("tabulon.cfg"); }
  std::unique_ptr<ConnectionSettingsDialog> OpenDialog() {
    ConnectionSettingsDialog::Hooks hooks;
    hooks.show_tips = [this](bool on) { tips_calls_.push_back(on); };
    hooks.connect = [this] { ++connect_calls_; };
    return std::make_unique<ConnectionSettingsDialog>(*owner_, ConfigPath().toStdString(), hooks);
  }

  QTemporaryDir env_dir_;
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<ScriptedUserPrompt> prompt_;
  std::unique_ptr<Workbench> owner_;
  std::vector<bool> tips_calls_;
  int connect_calls_ = 0;

 private slots:
  void initTestCase() {
    QVERIFY(env_dir_.isValid());
    // The SQL Server choices come from FreeTDS's configuration, the ODBC ones
    // from the driver manager's files: both point into the scratch folder,
    // never at the machine's own.
    WriteText(env_dir_.filePath("freetds.conf"),
              "[global]\n  tds version = 7.4\n[zeta]\n  host = "
              "127.0.0.1\n[Alpha]\n  host = 127.0.0.1\n");
    WriteText(env_dir_.filePath("odbcinst.ini"),
              "[FreeTDS]\nDriver=libtdsodbc.so\n[SQLite3]\nDriver="
              "libsqlite3odbc.so\n");
    WriteText(env_dir_.filePath("odbc.ini"),
              "[shop]\nDriver=FreeTDS\nServer=127.0.0.1\n[notes]\nDriver="
              "SQLite3\nDatabase=/tmp/notes.db\n");
    qputenv("FREETDSCONF", env_dir_.filePath("freetds.conf").toUtf8());
    qputenv("ODBCSYSINI", env_dir_.path().toUtf8());
    qputenv("ODBCINI", env_dir_.filePath("odbc.ini").toUtf8());
  }

  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    prompt_ = std::make_unique<ScriptedUserPrompt>();
    WorkbenchOptions options;
    options.program_folder = dir_->path().toStdString();
    owner_ = std::make_unique<Workbench>(*prompt_, options);
    owner_->target_context().system_database_path = Path("System.MDW").toStdString();
    tips_calls_.clear();
    connect_calls_ = 0;
  }

  void cleanup() {
    owner_.reset();
    prompt_.reset();
    dir_.reset();
  }

  void loadsTheConfigFile_data() {
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<bool>("profiles");
    QTest::newRow("profiles on") << QByteArray("true") << true;
    QTest::newRow("true inside a word") << QByteArray("untrue") << true;
    QTest::newRow("profiles off") << QByteArray("false") << false;
  }

  void loadsTheConfigFile() {
    QFETCH(QByteArray, config);
    QFETCH(bool, profiles);
    WriteText(ConfigPath(), FullConfig(config));
    auto dialog = OpenDialog();

    QCOMPARE(dialog->windowTitle(), QString("Config"));
    QCOMPARE(dialog->config_check()->isChecked(), profiles);
    // The options are read whatever the profiles option says; "untrue" counts
    // as on.
    QVERIFY(dialog->auto_backup_check()->isChecked());
    QVERIFY(dialog->tips_check()->isChecked());
    QCOMPARE(tips_calls_, std::vector<bool>{true});

    QCOMPARE(dialog->dbms_combo(0)->currentText(), QString("MSSQL"));
    QCOMPARE(dialog->dbms_combo(1)->currentText(), QString("Access"));

    const tabulon::config::Settings shown = dialog->CurrentSettings();
    if (profiles) {
      // The stored provider is matched without regard to case and shown as the
      // list spells it.
      QCOMPARE(dialog->provider_combo(0)->currentText(), QString(kSqlServer));
      QCOMPARE(dialog->source_name_combo(0)->currentText(), QString("MyServer"));
      QCOMPARE(dialog->user_edit(0)->text(), QString("sa"));
      QCOMPARE(dialog->password_edit(0)->text(), QString("Secret!"));
      QCOMPARE(dialog->catalog_edit(0)->text(), QString("NorthWind"));
      QCOMPARE(dialog->source_name_combo(1)->currentText(), QString("/data/Old Files/Shop.mdb"));
      QCOMPARE(shown.target.user_id, std::string("admin"));
    } else {
      QVERIFY(shown.source.user_id.empty() && shown.source.catalog_name.empty() && shown.target.source_name.empty());
    }
    // Opening with a Jet target never creates a file: only the user's choice of
    // the provider does.
    QVERIFY(!QFileInfo::exists(Path("Access_New.mdb")));
    QVERIFY(prompt_->texts().empty());
  }

  void missingFileOpensEmptyWithFirstProviders() {
    auto dialog = OpenDialog();
    QVERIFY(!dialog->config_check()->isChecked() && !dialog->auto_backup_check()->isChecked());
    QVERIFY(!dialog->tips_check()->isChecked());
    QCOMPARE(tips_calls_, std::vector<bool>{false});

    // Lists in case-insensitive order; the first entry is selected.
    QCOMPARE(Items(dialog->provider_combo(0)),
             QStringList({"Microsoft OLE DB Provider for ODBC Divers", kSqlServer, "SQLite", "TCP/IP:Port"}));
    QCOMPARE(Items(dialog->provider_combo(1)), QStringList({"Driver do Microsoft Access", "Microsoft Access Driver",
                                                            "Microsoft Jet 3.51 OLE DB Provider", kJet4}));
    QCOMPARE(dialog->provider_combo(0)->currentIndex(), 0);
    QCOMPARE(dialog->provider_combo(1)->currentIndex(), 0);
    QVERIFY(!QFileInfo::exists(ConfigPath()));
  }

  void providerChangeFillsNamesAndLabel() {
    auto dialog = OpenDialog();
    QComboBox* provider = dialog->provider_combo(0);
    QComboBox* names = dialog->source_name_combo(0);
    auto* browse = dialog->findChild<QPushButton*>("source_browse");

    provider->setCurrentIndex(provider->findText("TCP/IP:Port"));
    QCOMPARE(dialog->source_name_label(0)->text(), QString("Server:Port"));
    QCOMPARE(names->currentText(), QString("127.0.0.1"));
    QCOMPARE(names->count(), 0);
    QVERIFY(!browse->isEnabled());

    // The servers of FreeTDS's configuration, sorted, the first selected;
    // [global] is no server.
    provider->setCurrentIndex(provider->findText(kSqlServer));
    QCOMPARE(dialog->source_name_label(0)->text(), QString("Source Name"));
    QCOMPARE(Items(names), QStringList({"Alpha", "zeta"}));
    QCOMPARE(names->currentText(), QString("Alpha"));

    // A file source: nothing to offer, the file button instead.
    provider->setCurrentIndex(provider->findText("SQLite"));
    QCOMPARE(names->count(), 0);
    QCOMPARE(names->currentText(), QString());
    QVERIFY(browse->isEnabled());

    // ODBC: only the data source whose driver serves SQL Server.
    provider->setCurrentIndex(provider->findText("Microsoft OLE DB Provider for ODBC Divers"));
    QCOMPARE(Items(names), QStringList({"shop"}));
    QCOMPARE(names->currentText(), QString("shop"));
  }

  void jetTargetProposesANewAccessFile() {
    auto dialog = OpenDialog();
    QComboBox* provider = dialog->provider_combo(1);
    QCOMPARE(provider->currentText(), QString("Driver do Microsoft Access"));
    provider->setCurrentIndex(provider->findText(kJet4));

    const QString expected = Path("Access_New.mdb");
    QCOMPARE(dialog->source_name_combo(1)->currentText(), expected);
    QVERIFY(QFileInfo(expected).isFile());
    {
      auto opened = tabulon::jet::Database::Open(expected.toStdString(), tabulon::jet::OpenMode::kReadOnly);
      QVERIFY2(opened.ok(), opened.status().ToString().c_str());
      QVERIFY(opened.value()->ListTables().value().empty());
    }
    if (tabulon::testing::MdbToolsAvailable()) {
      auto version = tabulon::testing::MdbToolsVersion(expected.toStdString());
      QVERIFY2(version.ok(), version.status().ToString().c_str());
      QCOMPARE(version.value(), std::string("JET4"));
    }
    if (tabulon::testing::MdbReaderAvailable()) {
      auto tables = tabulon::testing::ReadWithMdbReader(expected.toStdString());
      QVERIFY2(tables.ok(), tables.status().ToString().c_str());
      QVERIFY(tables.value().empty());
    }

    // Choosing it again keeps the existing file (and its contents) and lists
    // the path once.
    const QByteArray before = ReadText(expected);
    provider->setCurrentIndex(provider->findText("Microsoft Access Driver"));
    QCOMPARE(dialog->source_name_combo(1)->count(), 0);
    provider->setCurrentIndex(provider->findText("Microsoft Jet 3.51 OLE DB Provider"));
    QCOMPARE(Items(dialog->source_name_combo(1)), QStringList({expected}));
    QCOMPARE(ReadText(expected), before);
  }

  void fileChoosersFollowTheProvider() {
    const QString chosen = Path("Chosen Data.sqlite");
    WriteText(ConfigPath(),
              "[Public]\nConfig=true\n[SourceDB]\nProvider=SQLite\nCatalogName=old\n"
              "[TargetDB]\nProvider=Microsoft Jet 4.0 OLE DB "
              "Provider\nSourceName=/x/a.mdb\nCatalogName=keep\n");
    auto dialog = OpenDialog();
    auto* source_browse = dialog->findChild<QPushButton*>("source_browse");
    auto* target_browse = dialog->findChild<QPushButton*>("target_browse");

    prompt_->AnswerText(std::nullopt);  // cancelled: nothing changes
    prompt_->AnswerText(chosen.toStdString());
    prompt_->AnswerText("/y/Zoo.mdb");
    source_browse->click();
    QCOMPARE(dialog->catalog_edit(0)->text(), QString("old"));
    source_browse->click();
    QCOMPARE(dialog->source_name_combo(0)->currentText(), chosen);
    QCOMPARE(dialog->catalog_edit(0)->text(), QString());
    target_browse->click();
    QCOMPARE(Items(dialog->source_name_combo(1)), QStringList({"/y/Zoo.mdb"}));
    QCOMPARE(dialog->catalog_edit(1)->text(), QString());

    const auto asked = prompt_->asked();
    QCOMPARE(asked.size(), size_t{3});
    for (const auto& question : asked) {
      QVERIFY(question.kind == ScriptedUserPrompt::Kind::kFile && !question.file.save);
      QCOMPARE(question.file.title, std::string("Open the database file"));
    }
    QCOMPARE(asked[1].file.filter_pattern, std::string("*.sqlite;*.db;*.sqlite3"));
    QCOMPARE(asked[2].file.filter_pattern, std::string("*.mdb"));

    // No chooser for a provider that does not open a file.
    dialog->provider_combo(0)->setCurrentIndex(dialog->provider_combo(0)->findText(kSqlServer));
    source_browse->click();
    QCOMPARE(prompt_->asked().size(), size_t{3});
  }

  void catalogDoubleClickChoosesAFile() {
    WriteText(ConfigPath(),
              "[Public]\nConfig=true\n[SourceDB]\nProvider=TCP/IP:Port\n"
              "[TargetDB]\nProvider=Microsoft Access Driver\nSourceName=AccessDsn\n");
    auto dialog = OpenDialog();
    const auto double_click = [](QWidget* widget) {
      QMouseEvent event(QEvent::MouseButtonDblClick, QPointF(5, 5), widget->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                        Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(widget, &event);
    };

    prompt_->AnswerText("/z/Books.mdb");
    double_click(dialog->catalog_edit(1));
    QCOMPARE(dialog->catalog_edit(1)->text(), QString("/z/Books.mdb"));
    QCOMPARE(dialog->source_name_combo(1)->currentText(), QString());
    QCOMPARE(prompt_->asked().back().file.filter_name, std::string("Access File"));

    // The source group is no Access group: both file kinds are offered.
    prompt_->AnswerText(std::nullopt);
    double_click(dialog->catalog_edit(0));
    QCOMPARE(prompt_->asked().back().file.filter_pattern, std::string("*.mdb;*.xls"));
    QCOMPARE(dialog->source_name_combo(0)->currentText(), QString("127.0.0.1"));

    // A file provider chooses through its source name, not the catalog.
    dialog->provider_combo(0)->setCurrentIndex(dialog->provider_combo(0)->findText("SQLite"));
    double_click(dialog->catalog_edit(0));
    QCOMPARE(prompt_->asked().size(), size_t{2});
  }

  void testConnectionsReportsEachSide() {
    const QString source = Path("shop.sqlite");
    WriteText(source,
              QByteArray());  // an empty file is an empty SQLite database
    auto dialog = OpenDialog();
    dialog->provider_combo(0)->setCurrentIndex(dialog->provider_combo(0)->findText("SQLite"));
    dialog->provider_combo(1)->setCurrentIndex(dialog->provider_combo(1)->findText(kJet4));
    dialog->source_name_combo(0)->setEditText(source);
    QVERIFY(QFileInfo(Path("Access_New.mdb")).isFile());

    dialog->test_button()->click();
    QCOMPARE(prompt_->texts(),
             std::vector<std::string>({"Source Connection Successful!", "Target Connection Successful!"}));

    // A missing source file: the error, then the provider's words; the target
    // is still tested.
    dialog->source_name_combo(0)->setEditText(Path("gone.sqlite"));
    dialog->source_name_combo(1)->setEditText(Path("absent.mdb"));
    dialog->test_button()->click();
    const std::vector<std::string> texts = prompt_->texts();
    QCOMPARE(texts.size(), size_t{6});
    QCOMPARE(texts[2], std::string("Source DB Connect ERROR!"));
    QVERIFY2(texts[3].find("gone.sqlite") != std::string::npos, texts[3].c_str());
    QCOMPARE(texts[4], std::string("Target DB Connect ERROR!"));
    QVERIFY2(texts[5].find("absent.mdb") != std::string::npos, texts[5].c_str());
    // Testing leaves the Workbench's own connections and profiles alone.
    QVERIFY(owner_->source().data_source == nullptr);
    QVERIFY(owner_->target().data_source == nullptr);
    QVERIFY(owner_->source().profile.provider_name.empty());
    QVERIFY(!QFileInfo::exists(ConfigPath()));
  }

  void saveConfigWritesAsTheOptionSays() {
    WriteText(ConfigPath(), FullConfig("true"));
    auto dialog = OpenDialog();
    dialog->user_edit(0)->setText("Operator");

    // Option off: only Config=false; the profiles in the file stay as they
    // were.
    dialog->config_check()->click();
    dialog->save_button()->click();
    QStringList lines = Lines(ReadText(ConfigPath()));
    QVERIFY(lines.contains("Config=false"));
    QVERIFY(lines.contains("UserID=sa"));
    QVERIFY(!lines.contains("UserID=Operator"));
    QVERIFY(lines.contains("Tips=true"));
    QVERIFY(lines.contains("AutoBackup=untrue"));
    QCOMPARE(prompt_->texts(), std::vector<std::string>({"The Config Infomation saved successfully!"}));

    // Option on: the options and both profiles as typed.
    dialog->config_check()->click();
    dialog->tips_check()->click();  // the tips tab follows at once
    QCOMPARE(tips_calls_, std::vector<bool>({true, false}));
    dialog->save_button()->click();
    lines = Lines(ReadText(ConfigPath()));
    QVERIFY(lines.contains("Config=true"));
    QVERIFY(lines.contains("Tips=false"));
    QVERIFY(lines.contains("AutoBackup=true"));
    QVERIFY(lines.contains("UserID=Operator") && lines.contains("SourceName=MyServer"));
    QVERIFY(lines.contains(QString("Provider=") + kSqlServer));
    QCOMPARE(prompt_->texts().size(), size_t{2});
    QCOMPARE(connect_calls_, 0);
  }

  void connectStoresAndHandsOverTheProfiles() {
    WriteText(ConfigPath(), FullConfig("true"));
    auto dialog = OpenDialog();
    dialog->show();
    dialog->source_name_combo(0)->setEditText("BigServer\\SQL2019");
    dialog->catalog_edit(0)->setText("SalesDB");
    dialog->auto_backup_check()->click();  // now off

    dialog->connect_button()->click();
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(connect_calls_, 1);

    // The Workbench gets the names lower-cased and the provider's own name.
    const auto& source = owner_->source().profile;
    QCOMPARE(source.provider_display_name, std::string(kSqlServer));
    QCOMPARE(source.provider_name, std::string("SQLOLEDB"));
    QCOMPARE(source.source_name, std::string("bigserver\\sql2019"));
    QCOMPARE(source.catalog, std::string("salesdb"));
    QCOMPARE(source.password, std::string("Secret!"));
    QCOMPARE(owner_->target().profile.provider_name, std::string("Microsoft.Jet.OLEDB.4.0"));
    QVERIFY(!owner_->auto_backup);

    // The file keeps the names as typed.
    const QStringList lines = Lines(ReadText(ConfigPath()));
    QVERIFY(lines.contains("SourceName=BigServer\\SQL2019") && lines.contains("CatalogName=SalesDB"));
    QVERIFY(lines.contains("AutoBackup=false"));
    QVERIFY(prompt_->texts().empty());
  }

  void connectReportsAFailedWriteAndGoesOn() {
    ConnectionSettingsDialog::Hooks hooks;
    hooks.connect = [this] { ++connect_calls_; };
    // The settings file's folder does not exist.
    ConnectionSettingsDialog dialog(*owner_, Path("no/such/folder/tabulon.cfg").toStdString(), hooks);
    dialog.auto_backup_check()->click();
    dialog.connect_button()->click();
    QCOMPARE(prompt_->texts().size(), size_t{1});
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(connect_calls_, 1);
    QVERIFY(owner_->auto_backup);
    QCOMPARE(owner_->source().profile.provider_name, std::string("MSDASQL"));
  }

  void closeWritesNothing() {
    WriteText(ConfigPath(), FullConfig("true"));
    const QByteArray before = ReadText(ConfigPath());
    auto dialog = OpenDialog();
    dialog->show();
    dialog->user_edit(0)->setText("changed");
    dialog->config_check()->click();
    dialog->close_button()->click();
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QCOMPARE(ReadText(ConfigPath()), before);
    QCOMPARE(connect_calls_, 0);
    QVERIFY(owner_->source().profile.user_id.empty());
    QVERIFY(prompt_->texts().empty());
  }
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_settings_dialog_test.moc"
