// Access files: target properties, the workgroup file, creating, dropping and switching .mdb
// files, and the provider check. Files written here are opened by the independent readers.
#include "target_access/access_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "data/provider_registry.h"
#include "data/providers/jet/jet_provider.h"
#include "jet/database.h"
#include "jet_readers.h"
#include "jet_test_files.h"
#include "target_access/test_jet_target.h"

namespace tabulon::target_access {
namespace {

namespace fs = std::filesystem;

using test_util::Texts;

// A context over a scratch folder: the workgroup file lives there too.
struct Fixture {
  explicit Fixture(const std::string& name) : dir(testing::ScratchFile("target_access", name)) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    target.profile.provider_name = data::kJetProviderName;
    owner.output = &pane;
    owner.source = &source;
    owner.target = &target;
    owner.source_tree = &source_tree;
    owner.target_tree = &target_tree;
    owner.system_database_path = (dir / "Access" / "System.MDW").string();
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }

  fs::path dir;
  workspace::OutputPane pane;
  data::DbConnection source, target;
  TreeBinding source_tree, target_tree;
  TargetContext owner;
};

// A new, empty Jet 4 file, as the engine and mdbtools read it.
bool IsJetFile(const std::string& path) {
  auto db = jet::Database::Open(path, jet::OpenMode::kReadOnly);
  if (!db.ok() || !(*db)->CheckIntegrity().ok()) return false;
  if (!testing::MdbToolsAvailable()) return true;
  auto version = testing::MdbToolsVersion(path);
  auto tables = testing::MdbToolsTables(path);
  return version.ok() && *version == "JET4" && tables.ok() && tables->empty();
}

TEST(TargetProperties, JetAndOdbcSets) {
  Fixture f("props");
  f.target.profile.source_name = "/data/Shop.mdb";
  f.target.profile.catalog = "old";
  f.target.profile.user_id = "Admin";
  std::vector<data::PropertySet> sets = BuildTargetPropertySets(f.owner);
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].FindString(data::DBPROP_INIT_CATALOG), "old");  // as it was when built
  EXPECT_EQ(f.target.profile.catalog, "/data/Shop");
  EXPECT_EQ(sets[1].FindString(data::DBPROP_JETOLEDB_SYSDBPATH), f.owner.system_database_path);

  // ".mdb$" is a pattern: its dot is any character; without a match the path is kept.
  for (auto [path, catalog] : {std::pair{"/d/A.Xmdb", "/d/A."}, std::pair{"/d/A.mdb.bak", "/d/A.mdb.bak"}}) {
    f.target.profile.source_name = path;
    data::PropertySet set(data::DBPROPSET_DBINIT);
    EXPECT_TRUE(BuildTargetConnectionProperties(f.owner, &set));
    EXPECT_EQ(f.target.profile.catalog, catalog);
  }

  // The ODBC bridge: one set, no data source or catalog when empty, catalog left alone.
  f.target.profile = {};
  f.target.profile.provider_name = "MSDASQL";
  f.target.profile.catalog = "kept";
  sets = BuildTargetPropertySets(f.owner);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].Find(data::DBPROP_INIT_DATASOURCE), nullptr);
  EXPECT_EQ(sets[0].FindString(data::DBPROP_INIT_PROVIDERSTRING),
            "Driver={Microsoft Access Driver (*.mdb)};SystemDB=" + f.owner.system_database_path + ";");
  EXPECT_EQ(f.target.profile.catalog, "kept");
}

TEST(SystemDatabase, PathExpansionAndCreation) {
  auto env = [](std::string_view name) -> std::optional<std::string> {
    if (name == "HOME") return "/home/ann";
    if (name == "A") return "%B%x";
    if (name == "B") return "b";
    if (name == "LOOP") return "%LOOP%";
    return std::nullopt;
  };
  EXPECT_EQ(ExpandEnvironmentText("%A%-%UNSET%-100%", env), "bx--100%");
  EXPECT_EQ(ExpandEnvironmentText("%LOOP%", env), "%LOOP%");  // ends, however often it refers to itself
  TargetContext owner;
  EXPECT_EQ(SystemDatabasePath(owner, env), "/home/ann/Application Data/Microsoft/Access/System.MDW");
  owner.system_database_path = "/x/S.MDW";
  EXPECT_EQ(SystemDatabasePath(owner, env), "/x/S.MDW");

  // Created when missing, an empty folder in its place replaced.
  Fixture f("sysdb");
  const std::string path = f.owner.system_database_path;
  EnsureSystemDatabase(f.owner);
  EXPECT_TRUE(IsJetFile(path));
  const auto written = fs::last_write_time(path);
  EnsureSystemDatabase(f.owner);  // a file is left as it is
  EXPECT_EQ(fs::last_write_time(path), written);

  fs::remove(path);
  fs::create_directories(path);  // an empty folder is replaced by the file
  EnsureSystemDatabase(f.owner);
  EXPECT_TRUE(IsJetFile(path));

  fs::remove(path);
  fs::create_directories(path);
  std::ofstream(path + "/keep.txt") << "user data";
  EnsureSystemDatabase(f.owner);  // a folder with contents is never deleted
  EXPECT_TRUE(fs::exists(path + "/keep.txt"));
  ASSERT_FALSE(f.pane.Lines().empty());
  EXPECT_NE(f.pane.Lines().back().text.find("is a folder that is not empty"), std::string::npos);
  EXPECT_EQ(f.pane.Lines().back().severity, workspace::Severity::kError);
}

TEST(CreateAccessDatabase, ChosenPathOrBesideTheCurrentDatabase) {
  Fixture f("create");
  EXPECT_FALSE(CreateAccessDatabase(f.owner, "", 0));  // no path chosen: nothing happens
  EXPECT_TRUE(f.pane.Lines().empty());

  EXPECT_TRUE(CreateAccessDatabase(f.owner, f.Path("Old.mdb.v1"), 0));  // ".mdb" anywhere: used unchanged
  EXPECT_EQ(Texts(f.pane), (std::vector<std::string>{"Create Access MDB File [" + f.Path("Old.mdb.v1") + "]"}));
  EXPECT_TRUE(IsJetFile(f.Path("Old.mdb.v1")));
  EXPECT_TRUE(IsJetFile(f.owner.system_database_path));

  // An existing file is never overwritten.
  std::ofstream(f.Path("Taken.mdb")) << "not a database";
  f.pane.Clear();
  EXPECT_FALSE(CreateAccessDatabase(f.owner, f.Path("Taken.mdb"), 0));
  EXPECT_EQ(Texts(f.pane).at(1).rfind("Create DB \r\n failed with error code:[0x", 0), 0u) << Texts(f.pane)[1];
  EXPECT_EQ(testing::ReadTextFile(f.Path("Taken.mdb")), "not a database");

  // A name alone: beside the current database of the side in use.
  f.target_tree.current_database = f.Path("Current");
  f.source_tree.current_database = "/nowhere/Src";
  EXPECT_TRUE(CreateAccessDatabase(f.owner, "Clone", 1));
  EXPECT_TRUE(IsJetFile(f.Path("Clone.mdb")));
  // A database name is a file name, never a path out of the folder.
  EXPECT_TRUE(CreateAccessDatabase(f.owner, "../Sales/2024", 1));
  EXPECT_TRUE(IsJetFile(f.Path(".._Sales_2024.mdb")));
  EXPECT_FALSE(fs::exists(f.dir.parent_path() / "Sales"));
  // "Source" selects the source tree's folder, which does not exist here.
  f.owner.side_in_use = "Source";
  f.pane.Clear();
  EXPECT_FALSE(CreateAccessDatabase(f.owner, "Clone2", 1));
  EXPECT_EQ(Texts(f.pane).at(0), "Create Access MDB File [/nowhere/Clone2.mdb]");
  EXPECT_EQ(Texts(f.pane).at(1).rfind("Create DB \r\n failed with error code:", 0), 0u) << Texts(f.pane)[1];
}

TEST(DropAccessDatabase, ConnectedFileDisconnectsOtherFilesDoNot) {
  Fixture f("drop");
  ASSERT_TRUE(CreateAccessDatabase(f.owner, f.Path("A"), 0));
  ASSERT_TRUE(CreateAccessDatabase(f.owner, f.Path("B"), 0));
  f.target.profile.source_name = f.Path("A.mdb");
  std::vector<data::PropertySet> sets = BuildTargetPropertySets(f.owner);
  ASSERT_EQ(data::OpenDataSource(f.target, sets), data::S_OK);
  ASSERT_EQ(data::OpenSession(f.target), data::S_OK);
  f.target_tree.current_database = f.target.profile.catalog;
  int stops = 0, refreshes = 0;
  f.owner.stop_running_tasks = [&] { ++stops; };
  f.owner.refresh_target = [&] { ++refreshes; };
  f.pane.Clear();

  EXPECT_FALSE(IsConnectedDatabase(f.owner, f.Path("B")));
  EXPECT_TRUE(IsConnectedDatabase(f.owner, f.Path("A")));
  EXPECT_TRUE(DropAccessDatabase(f.owner, f.Path("B")));
  EXPECT_FALSE(fs::exists(f.Path("B.mdb")));
  EXPECT_NE(f.target.session, nullptr);
  EXPECT_EQ(f.target_tree.current_database, f.Path("A"));

  EXPECT_TRUE(DropAccessDatabase(f.owner, f.Path("A")));
  EXPECT_FALSE(fs::exists(f.Path("A.mdb")));
  EXPECT_FALSE(fs::exists(f.Path("A.mdb-journal")));
  EXPECT_EQ(f.target.session, nullptr);
  EXPECT_EQ(f.target.data_source, nullptr);
  EXPECT_EQ(f.target_tree.current_database, "");
  EXPECT_EQ(f.target_tree.state, -1);
  EXPECT_EQ(Texts(f.pane),
            (std::vector<std::string>{"Drop Database SUCCESSFULLY!!!", "Drop Database SUCCESSFULLY!!!"}));
  EXPECT_EQ(stops, 2);
  EXPECT_EQ(refreshes, 1);

  // A missing file, and a folder named like a database, are reported and left alone.
  fs::create_directories(f.Path("Dir.mdb"));
  f.pane.Clear();
  EXPECT_TRUE(DropAccessDatabase(f.owner, f.Path("Missing")));
  EXPECT_TRUE(DropAccessDatabase(f.owner, f.Path("Dir")));
  EXPECT_EQ(Texts(f.pane)[0].rfind("Drop Database \r\n failed with error code:[0x80070002]", 0), 0u);
  EXPECT_EQ(Texts(f.pane)[1].rfind("Drop Database \r\n failed with error code:[0x80070005]", 0), 0u);
  EXPECT_TRUE(fs::is_directory(f.Path("Dir.mdb")));
}

TEST(SwitchAccessDatabase, PointsTheSideAtTheNewFileAndConnects) {
  Fixture f("switch");
  f.target_tree.current_database = "/data/Old";
  std::vector<Side> connected;
  f.owner.connect = [&](Side side) { connected.push_back(side); };
  EXPECT_TRUE(SwitchAccessDatabase(f.owner, "New", Side::kTarget));
  EXPECT_EQ(f.target.profile.source_name, "/data/New.mdb");
  EXPECT_EQ(f.target.profile.catalog, "");
  EXPECT_EQ(f.target_tree.current_database, "/data/New.mdb");
  EXPECT_EQ(f.target_tree.state, -1);
  EXPECT_TRUE(SwitchAccessDatabase(f.owner, "/other/X.mdb.v2", Side::kTarget));
  EXPECT_EQ(f.target.profile.source_name, "/other/X.mdb.v2");

  // Another provider keeps the name as its catalog; the source tree's name is not changed.
  f.source.profile.provider_name = "SQLOLEDB";
  f.source_tree.current_database = "Shop";
  EXPECT_TRUE(SwitchAccessDatabase(f.owner, "Sales", Side::kSource));
  EXPECT_EQ(f.source.profile.catalog, "/other/Sales");
  EXPECT_EQ(f.source_tree.current_database, "Shop");
  EXPECT_EQ(f.source_tree.state, -1);
  EXPECT_EQ(connected, (std::vector<Side>{Side::kTarget, Side::kTarget, Side::kSource}));
}

TEST(CheckAccessProviders, FieldsFromProvidersAndDrivers) {
  const std::string exe = fs::canonical("/proc/self/exe").string();
  const std::vector<data::OdbcDriver> drivers = {
      {"SQLite3", {{"Driver", exe}}},
      {"Microsoft Access Driver (*.mdb)", {{"Driver", exe}, {"SETUP", exe}}},
      {"Access Broken", {{"Driver", exe}, {"Setup", "/missing/setup.so"}}},
      {"Access NoLibrary", {}},
  };
  EXPECT_EQ(FormatAccessProviders(true, true, true, drivers),
            "Microsoft Jet 4.0 OLE DB Provider|Installed|Usable|"
            "Microsoft OLE DB Provider for ODBC Drivers|Installed|Usable|"
            "Microsoft Access Driver (*.mdb)|Installed|Usable|"
            "Access Broken|Installed|Unusable|Access NoLibrary|Installed|Unusable|");

  // Through the driver manager, with an odbcinst.ini of our own that lists no Access driver: the
  // row for a missing driver.
  Fixture f("odbcinst");
  std::ofstream(f.Path("odbcinst.ini")) << "[SQLite3]\nDriver=" << exe << "\n";
  std::ofstream(f.Path("odbc.ini")) << "";
  setenv("ODBCSYSINI", f.dir.c_str(), 1);
  const std::string text = CheckAccessProviders();
  unsetenv("ODBCSYSINI");
  EXPECT_EQ(text.rfind("Microsoft Jet 4.0 OLE DB Provider|Installed|Usable|", 0), 0u) << text;
  const std::string tail = "Microsoft Access Driver|Not installed|Unusable|";
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
}

}  // namespace
}  // namespace tabulon::target_access
