// tabulon.cfg and Condition.cfg: what is read back, what each save writes and in which order,
// the file's permissions, and the statement that tests a condition.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/condition_file.h"
#include "config/profile_file.h"
#include "config/program_folders.h"
#include "config/settings_choices.h"
#include "config/settings_file.h"
#include "jet_test_files.h"
#include "tabulon_version.h"

namespace tabulon::config {
namespace {

std::string Scratch(const std::string& name) { return testing::ScratchFile("config_test", name).string(); }

std::string ReadAll(const std::string& path) { return testing::ReadTextFile(path); }

void WriteAll(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

Settings Sample() {
  Settings settings;
  settings.use_config_file = true;
  settings.tips = true;
  settings.source = {"Microsoft OLE DB Provider for SQL Server", "SERVER1", "sa", "p=w;d", "NorthWind"};
  settings.target = {"Microsoft Jet 4.0 OLE DB Provider", "/Data/Target.mdb", "", "", ""};
  return settings;
}

TEST(SettingsFileTest, SaveConfigWritesEveryKeyInOrderOwnerOnly) {
  const std::string path = Scratch("order.cfg");
  ASSERT_TRUE(SaveConfig(path, Sample()).ok());
  EXPECT_EQ(ReadAll(path),
            "[Public]\nConfig=true\nTips=true\nAutoBackup=false\n"
            "[SourceDB]\nProvider=Microsoft OLE DB Provider for SQL Server\nSourceName=SERVER1\n"
            "UserID=sa\nPassWord=p=w;d\nCatalogName=NorthWind\n"
            "[TargetDB]\nProvider=Microsoft Jet 4.0 OLE DB Provider\nSourceName=/Data/Target.mdb\n"
            "UserID=\nPassWord=\nCatalogName=\n");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  const Settings loaded = LoadSettings(path);
  EXPECT_TRUE(loaded.use_config_file);
  EXPECT_TRUE(loaded.tips);
  EXPECT_FALSE(loaded.auto_backup);
  EXPECT_EQ(loaded.source.password, "p=w;d");
  EXPECT_EQ(loaded.source.catalog_name, "NorthWind");
  EXPECT_EQ(loaded.target.source_name, "/Data/Target.mdb");
}

TEST(SettingsFileTest, ProfilesOptionOffTouchesOnlyWhatItShould) {
  const std::string path = Scratch("off.cfg");
  WriteAll(path, "; kept\r\n[public]\r\n config = true \r\nTips=untrue\r\n\r\n[SourceDB]\r\nUserID=bob\r\n");
  Settings off = Sample();
  off.use_config_file = false;
  off.auto_backup = true;
  ASSERT_TRUE(SaveConfig(path, off).ok());
  // Save Config writes only "Config"; keys already there keep their places and values.
  EXPECT_EQ(ReadAll(path), "; kept\n[public]\nConfig=false\nTips=untrue\n\n[SourceDB]\nUserID=bob\n");
  const Settings loaded = LoadSettings(path);
  EXPECT_FALSE(loaded.use_config_file);
  EXPECT_TRUE(loaded.tips);              // "untrue" holds "true"
  EXPECT_EQ(loaded.source.user_id, "");  // profiles are read only with "Config" on

  // Connect always writes the two options; a new key goes after its section's last entry.
  ASSERT_TRUE(WriteConnectSettings(path, off).ok());
  EXPECT_EQ(ReadAll(path), "; kept\n[public]\nConfig=false\nTips=true\nAutoBackup=true\n\n[SourceDB]\nUserID=bob\n");
}

TEST(SettingsFileTest, ReadsAreCutAndMissingFilesAreEmpty) {
  const Settings missing = LoadSettings(Scratch("missing.cfg"));
  EXPECT_FALSE(missing.use_config_file || missing.tips || missing.auto_backup);

  const std::string path = Scratch("long.cfg");
  const std::string long_value = std::string(78, 'a') + "\xC3\xA9\xC3\xA9" + "tail";
  WriteAll(path, "[Public]\nConfig=\"true\"\n[SourceDB]\nSourceName=" + long_value + "\n");
  const Settings loaded = LoadSettings(path);
  EXPECT_EQ(loaded.source.source_name, std::string(78, 'a') + "\xC3\xA9");  // 79 characters
}

TEST(SettingsFileTest, ProfilesForConnect) {
  EXPECT_EQ(MapProviderName("microsoft jet 3.51 ole db provider"), "Microsoft.Jet.OLEDB.4.0");
  EXPECT_EQ(MapProviderName("TCP/IP:Port"), "MSDASQL");
  EXPECT_EQ(MapProviderName("Something Else"), "Something Else");
  const data::ConnectionProfile source = MakeConnectionProfile(Sample().source);
  EXPECT_EQ(source.provider_name, "SQLOLEDB");
  EXPECT_EQ(source.source_name, "server1");
  EXPECT_EQ(source.catalog, "northwind");
  EXPECT_EQ(source.password, "p=w;d");
  // A path keeps its case: file names are case-sensitive here.
  EXPECT_EQ(MakeConnectionProfile(Sample().target).source_name, "/Data/Target.mdb");
  SideSettings sqlite = Sample().source;
  sqlite.provider = "SQLite";
  sqlite.source_name = "Shop.db";
  EXPECT_EQ(MakeConnectionProfile(sqlite).source_name, "Shop.db");
}

TEST(ConditionFileTest, ConditionsPerDatabaseAndTableAndTheirTestStatements) {
  const std::string path = Scratch("Condition.cfg");
  ASSERT_TRUE(EnsureConditionFile(path).ok());
  EXPECT_EQ(ReadAll(path), "");
  EXPECT_EQ(ConditionTooltip(ReadCondition(path, "db1", "orders")), "Convert All");
  ASSERT_TRUE(SaveCondition(path, "db1", "orders", "id>100").ok());
  ASSERT_TRUE(SaveCondition(path, "db2", "orders", "a = 'x'\r\nand b=2").ok());
  ASSERT_TRUE(EnsureConditionFile(path).ok());  // an existing file is left alone
  EXPECT_EQ(ReadCondition(path, "DB1", "Orders"), "id>100");
  // A multi-line condition is stored on one line instead of breaking the file.
  EXPECT_EQ(ReadCondition(path, "db2", "orders"), "a = 'x'  and b=2");
  ASSERT_TRUE(SaveCondition(path, "db1", "orders", "").ok());
  EXPECT_EQ(ReadCondition(path, "db1", "orders"), "");
  EXPECT_FALSE(SaveCondition(path, "db1", "a=b", "x").ok());
  EXPECT_EQ(ReadAll(path), "[db1]\norders=\n[db2]\norders=a = 'x'  and b=2\n");

  // The statement that tests a condition.
  EXPECT_EQ(ConditionTestStatement("", "orders", "id>100"), "select count(*) from [orders] where id>100");
  EXPECT_EQ(ConditionTestStatement("", "a]b", ""), "select count(*) from [a]]b]");
  // A table outside the default schema is tested where the row copy reads it.
  EXPECT_EQ(ConditionTestStatement("Sales", "Orders", "id>1"), "select count(*) from [Sales].[Orders] where id>1");
  EXPECT_FALSE(TestCondition(nullptr, "", "t", "").success);
}

TEST(SettingsChoicesTest, ProvidersDataSourcesAndServers) {
  EXPECT_THAT(ProvidersForDbms("mssql"), ::testing::Contains("SQLite"));  // any case; SQLite files too
  EXPECT_THAT(ProvidersForDbms("Oracle"), ::testing::IsEmpty());
  EXPECT_TRUE(IsJetDisplayName("microsoft jet 3.51 ole db provider"));
  EXPECT_TRUE(IsFileDisplayName("SQLite"));
  EXPECT_FALSE(IsFileDisplayName("TCP/IP:Port"));
  // Every display name offered maps to a provider the program has, or is a file or ODBC name.
  for (const std::string& dbms : DbmsNames()) {
    for (const std::string& name : ProvidersForDbms(dbms)) EXPECT_FALSE(MapProviderName(name).empty()) << name;
  }

  // Data sources are picked by their driver's name; Linux drivers for SQL Server included.
  const std::vector<DataSourceEntry> sources = {{"shop", "FreeTDS"},
                                                {"local", "SQLite3"},
                                                {"hr", "ODBC Driver 18 for SQL Server"},
                                                {"old", "SQL Server"},
                                                {"books", "Microsoft Access Driver (*.mdb)"}};
  EXPECT_THAT(DataSourcesForDbms("MSSQL", sources), ::testing::ElementsAre("shop", "hr", "old"));
  EXPECT_THAT(DataSourcesForDbms("Access", sources), ::testing::ElementsAre("books"));

  // freetds.conf: server sections, not [global], blanks and comments tolerated.
  EXPECT_THAT(ReadFreeTdsServers("[global]\n  tds version = 7.4\n; a comment\n[ shop ]\nhost = 127.0.0.1\r\n"
                                 "[Reports]\r\n[]\n[broken\n"),
              ::testing::ElementsAre("shop", "Reports"));
  EXPECT_THAT(ReadFreeTdsServers(""), ::testing::IsEmpty());
}

TEST(ProgramFoldersTest, WritableExecutableFolderElseXdgFolders) {
  const std::string writable = std::filesystem::path(Scratch("marker")).parent_path().string();
  const auto none = [](std::string_view) -> std::optional<std::string> { return std::nullopt; };
  EXPECT_EQ(FindProgramFolders(writable, none).config, writable);

  const std::string home = writable + "/home";
  const auto environment = [&](std::string_view name) -> std::optional<std::string> {
    if (name == "HOME") return home;
    if (name == "XDG_DATA_HOME") return "relative/ignored";
    return std::nullopt;
  };
  const ProgramFolders folders = FindProgramFolders(writable + "/no/such/folder", environment);
  EXPECT_EQ(folders.config, home + "/.config/tabulon");
  EXPECT_EQ(folders.data, home + "/.local/share/tabulon");
  EXPECT_TRUE(std::filesystem::is_directory(folders.config));

  // An installed copy (here unpacked under a writable scratch root, as root sees /usr/bin) keeps
  // its settings in the XDG folders, never beside the program.
  const std::filesystem::path root = std::filesystem::path(writable) / "installed_root/usr";
  std::filesystem::create_directories(root / "bin");
  std::filesystem::create_directories(root / "bin" / TABULON_DOCDIR_FROM_BINDIR / "manual");
  const auto xdg = [&](std::string_view name) -> std::optional<std::string> {
    if (name == "XDG_CONFIG_HOME") return home + "/xdg-config";
    if (name == "XDG_DATA_HOME") return home + "/xdg-data";
    return std::nullopt;
  };
  EXPECT_TRUE(IsInstalledProgramFolder((root / "bin").string()));
  const ProgramFolders installed = FindProgramFolders((root / "bin").string(), xdg);
  EXPECT_EQ(installed.config, home + "/xdg-config/tabulon");
  EXPECT_EQ(installed.data, home + "/xdg-data/tabulon");
  EXPECT_FALSE(IsInstalledProgramFolder(writable));
}

}  // namespace
}  // namespace tabulon::config
