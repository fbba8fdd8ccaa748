// The migration and backup flows end to end: tasks queued on a Workbench and run by its
// controller, from a replayed SQL Server database (which fails loudly on any statement it was
// not given) into real .mdb files that the independent readers read back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "converters/flow_support.h"
#include "converters/work_folders.h"
#include "converters/workbench.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "jet_readers.h"
#include "source_sqlserver/translate.h"
#include "target_access/restore_backup.h"
#include "tests/source_sqlserver/source_test_util.h"

namespace tabulon::converters {
namespace {

namespace fs = std::filesystem;
using source_sqlserver::SourceTable;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using SchemaRows = std::vector<std::vector<std::optional<std::string>>>;

const std::vector<SourceTable> kShopTables = {{"dbo", "Customers"}, {"dbo", "Orders"}, {"dbo", "OrderLines"}};
// Tradewind without its 10,000-row EventLog (the source adapter's own test copies that one).
const std::vector<SourceTable> kTradewindTables = {{"Sales", "Regions"},  {"dbo", "Customers"},   {"dbo", "Products"},
                                                   {"dbo", "Order"},      {"dbo", "OrderLines"},  {"dbo", "Shipments"},
                                                   {"dbo", "Warehouses"}, {"dbo", "StockLevels"}, {"dbo", "AllTypes"}};

std::string ReadFile(const fs::path& path) { return source_sqlserver::testing::ReadTextFile(path.string()); }

size_t Count(const std::string& text, std::string_view what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class FlowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tabulon_flows_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    WorkbenchOptions options;
    options.program_folder = folder_.string();
    options.output_clock = [] { return workspace::LocalTime{2024, 5, 6, 7, 8, 9, 10}; };
    options.sleep = [](std::chrono::milliseconds) {};
    options.pause = [] {};
    wb_ = std::make_unique<Workbench>(prompt_, std::move(options));
    wb_->auto_backup = true;
    wb_->source().profile.provider_name = "SQLOLEDB";
    script_->SetDataSourceName("sqlhost");

    // The target: an empty Target.mdb; reconnections open the file the profile names.
    target_access::TargetContext& context = wb_->target_context();
    context.system_database_path = (folder_ / "System.mdw").string();
    context.connect = [this](target_access::Side) { OpenTarget(); };
    wb_->target().profile.provider_name = data::kJetProviderName;
    wb_->target().profile.source_name = (folder_ / "Target.mdb").string();
    CreateMdb(folder_ / "Target.mdb");
    wb_->target_tree().current_database = (folder_ / "Target").string();
    OpenTarget();
    // Where the Migrate command puts the scratch files.
    EnterWorkFolder(wb_->work_directory, wb_->data_folder(), "./data_cache");
  }

  void TearDown() override {
    wb_.reset();
    if (!HasFailure()) fs::remove_all(folder_);
  }

  static void CreateMdb(const fs::path& path) {
    data::PropertySet init(data::DBPROPSET_DBINIT);
    init.AddString(data::DBPROP_INIT_DATASOURCE, path.string());
    std::vector<std::string> errors;
    ASSERT_EQ(data::JetProvider().CreateDataSource({&init, 1}, &errors), data::S_OK);
  }

  static void OpenMdb(data::DbConnection& connection, const std::string& path) {
    data::PropertySet init(data::DBPROPSET_DBINIT);
    init.AddString(data::DBPROP_INIT_DATASOURCE, path);
    connection.profile.provider_name = data::kJetProviderName;
    ASSERT_EQ(data::OpenDataSource(connection, {&init, 1}), data::S_OK);
    ASSERT_EQ(data::OpenSession(connection), data::S_OK);
  }

  void OpenTarget() {
    OpenMdb(wb_->target(), wb_->target().profile.source_name);
    std::lock_guard guard(wb_->tree_lock());
    wb_->target_tree().state = 0;
    wb_->target_tree().RefreshTree();
  }

  // The replayed source database and its catalogue listing (system views among them: the replay
  // fails the test if a flow touches them).
  void LoadSource(const std::string& fixture, const std::string& database, SchemaRows tables, SchemaRows views) {
    source_sqlserver::testing::LoadFixture(*script_, fixture, true, "dbo");
    script_->OnSchema(data::SchemaRowsetKind::kCatalogs, {}, {{"master"}, {database}});
    views.insert(views.begin(), {database, "sys", "objects", "VIEW"});
    views.push_back({database, "INFORMATION_SCHEMA", "VIEWS", "VIEW"});
    script_->OnSchema(data::SchemaRowsetKind::kTables,
                      {tabulon::testing::kNull, tabulon::testing::kNull, tabulon::testing::kNull, "TABLE"}, tables);
    script_->OnSchema(data::SchemaRowsetKind::kTables,
                      {tabulon::testing::kNull, tabulon::testing::kNull, tabulon::testing::kNull, "VIEW"}, views);
    tabulon::testing::ConnectReplay(wb_->source(), script_);
  }

  void LoadShopDemo() {
    SchemaRows tables;
    for (const SourceTable& t : kShopTables) tables.push_back({"ShopDemo", t.schema, t.name, "TABLE"});
    LoadSource("shopdemo.replay", "ShopDemo", tables, {{"ShopDemo", "dbo", "vCustomerOrders", "VIEW"}});
  }

  TaskList::TaskRef Queue(TaskOperation operation, const std::string& source_database, const std::string& object,
                          const std::string& target_database, const std::string& selector = "") {
    TaskNames names;
    names.source_database = source_database;
    names.target_database = target_database;
    (operation >= kBackupObjects ? names.target_object : names.source_object) = object;
    names.backup_selector = selector;
    return wb_->QueueTask(MakeTask(operation, names));
  }

  // Runs every queued task; returns the state texts of the tasks, in order.
  std::vector<std::string> RunAll() {
    wb_->EnsureControllerRunning();
    wb_->JoinController();
    std::vector<std::string> states;
    for (const MigrationTask& task : wb_->tasks().Snapshot()) states.push_back(task.state_text);
    wb_->tasks().Clear();
    return states;
  }

  std::vector<std::string> TakeLines() {
    std::vector<std::string> texts = source_sqlserver::testing::OutputTexts(wb_->output());
    wb_->output().Clear();
    return texts;
  }

  // Every table of `tables` in the file, row by row, as both readers read it.
  void ExpectTablesInFile(const fs::path& mdb, const std::vector<SourceTable>& tables) {
    if (!tabulon::testing::MdbToolsAvailable() || !tabulon::testing::MdbReaderAvailable()) {
      GTEST_SKIP() << "mdbtools or mdb-reader is not installed";
    }
    for (const SourceTable& table : tables) {
      const auto expected = source_sqlserver::testing::ExpectedAccessTable(*script_, table);
      EXPECT_EQ(tabulon::testing::CompareTableWithReaders(mdb.string(), table.name, expected.columns, expected.rows),
                "")
          << table.name;
    }
  }

  std::string Schema(const fs::path& mdb) {
    Result<std::string> schema = tabulon::testing::MdbToolsSchema(mdb.string(), "postgres");
    EXPECT_TRUE(schema.ok()) << schema.status().ToString();
    return schema.ok() ? *schema : std::string();
  }

  fs::path folder_;
  workspace::ScriptedUserPrompt prompt_;
  std::shared_ptr<tabulon::testing::ReplayScript> script_ = std::make_shared<tabulon::testing::ReplayScript>();
  std::unique_ptr<Workbench> wb_;
};

TEST_F(FlowsTest, CloneMakesANewFileWithEverythingAndLeavesScratchFiles) {
  LoadShopDemo();
  Queue(kCloneDatabase, "ShopDemo", "", "ShopDemo");
  EXPECT_THAT(RunAll(), ElementsAre("SUCCESS"));
  const std::string ok = "RESULT: The operation completed SUCCESSFULLY";
  std::vector<std::string> expected = {"Create Access MDB File [" + (folder_ / "ShopDemo.mdb").string() + "]",
                                       "Convert Tables of database [ShopDemo]"};
  for (const SourceTable& shop_table : kShopTables) {
    const std::string& table = shop_table.name;
    expected.insert(expected.end(), {"TABLE: [ShopDemo].[" + table + "] Migrating.....", ok,
                                     "Create table [" + table + "] SUCCESSFULLY!!!", "Primary Keys Migrating.....", ok,
                                     "Create PRIMARY KEY SUCCESSFULLY!!!", "Unique Keys Migrating.....",
                                     table == "Customers" ? "Create Index SUCCESSFULLY!!!" : "NO Index(es)!",
                                     "[" + table + "] 3 records converted, convertion completed SUCCESSFULLY!"});
  }
  expected.insert(expected.end(),
                  {"Convert Relationships of database [ShopDemo]", "No Relationship(s)!", ok,
                   "Create FOREIGN KEY SUCCESSFULLY!!!", ok, "Create FOREIGN KEY SUCCESSFULLY!!!",
                   "Convert Views of database [ShopDemo]", "VIEW: [ShopDemo].[vCustomerOrders] Converting..... ",
                   "Create VIEW [vCustomerOrders] SUCCESSFULLY!!!", "Operation completed SUCCESSFULLY!"});
  EXPECT_EQ(TakeLines(), expected);

  // Scratch files: the table's statements in the order they ran, the view's text, the rows.
  const fs::path cache = folder_ / "data_cache";
  const std::string customers = ReadFile(cache / "Customers");
  EXPECT_TRUE(customers.starts_with("create table `Customers`(")) << customers;
  EXPECT_LT(customers.find("add PRIMARY KEY(`CustomerID`)"), customers.find("CREATE UNIQUE INDEX")) << customers;
  EXPECT_THAT(ReadFile(cache / "Orders"), HasSubstr("Add CONSTRAINT `FK_Orders_Customers` FOREIGN KEY (`CustomerID`)"));
  EXPECT_THAT(ReadFile(cache / "vCustomerOrders.vw"), HasSubstr("JOIN dbo.Orders AS o ON o.CustomerID = c.CustomerID"));
  EXPECT_EQ(Count(ReadFile(cache / "OrderLines.data"), "insert into `OrderLines` values ("), 3u);

  // The new file, as the readers see it; the target is connected to it now.
  const fs::path mdb = folder_ / "ShopDemo.mdb";
  EXPECT_EQ(wb_->target().profile.source_name, mdb.string());
  ExpectTablesInFile(mdb, kShopTables);
  const std::string schema = Schema(mdb);
  EXPECT_EQ(Count(schema, "PRIMARY KEY"), 3u) << schema;
  EXPECT_EQ(Count(schema, "CREATE UNIQUE INDEX"), 1u) << schema;
  EXPECT_EQ(Count(schema, "FOREIGN KEY"), 2u) << schema;
  Result<std::vector<std::string>> queries = tabulon::testing::MdbToolsQueries(mdb.string());
  ASSERT_TRUE(queries.ok());
  EXPECT_THAT(*queries, ElementsAre("vCustomerOrders"));
}

TEST_F(FlowsTest, MigrateDatabaseAppliesConditionsAndMigratesTradewind) {
  SchemaRows tables;
  for (const SourceTable& t : kTradewindTables) tables.push_back({"Tradewind", t.schema, t.name, "TABLE"});
  LoadSource("realistic.replay", "Tradewind", tables,
             {{"Tradewind", "dbo", "vActiveProducts", "VIEW"}, {"Tradewind", "dbo", "vCustomerOrders", "VIEW"}});
  // Only the stored condition's rows of Shipments are selected.
  std::ofstream(folder_ / "Condition.cfg") << "[Tradewind]\nShipments=Carrier is not null\n";
  const SourceTable shipments("dbo", "Shipments");
  const std::string filtered = source_sqlserver::BuildSelectRowsStatement(shipments, "Carrier is not null");
  const tabulon::testing::ReplayStatement* all =
      script_->Find(source_sqlserver::BuildSelectRowsStatement(shipments, ""));
  ASSERT_NE(all, nullptr);
  tabulon::testing::ReplayStatement& some = script_->On(filtered);
  some.columns = all->columns;
  const size_t carrier = 4;  // the column's position in the fixture
  ASSERT_EQ(all->columns[carrier].name, "Carrier");
  for (const auto& row : all->rows) {
    if (row[carrier]) some.rows.push_back(row);
  }
  ASSERT_LT(some.rows.size(), all->rows.size());

  // The single table first (its schema comes from the source tree), then the whole database:
  // that table's CREATE fails then, and nothing else of it is repeated.
  Queue(kMigrateTable, "Tradewind", "Regions", (folder_ / "Target").string());
  Queue(kMigrateDatabase, "Tradewind", "", (folder_ / "Target").string());
  EXPECT_THAT(RunAll(), ElementsAre("SUCCESS", "SUCCESS"));
  const std::vector<std::string> lines = TakeLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Create table [Regions] SUCCESSFULLY!!!"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "TABLE: Create [Tradewind].[Regions] ERROR !"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Create FOREIGN KEY SUCCESSFULLY!!!"), 7);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Create Index SUCCESSFULLY!!!"), 5);
  for (const std::string& line : lines) {
    EXPECT_THAT(line, ::testing::Not(HasSubstr("failure"))) << line;
    EXPECT_THAT(line, ::testing::Not(HasSubstr("not inserted"))) << line;
  }
  const fs::path mdb = folder_ / "Target.mdb";
  std::vector<SourceTable> unfiltered = kTradewindTables;
  std::erase_if(unfiltered, [](const SourceTable& t) { return t.name == "Shipments"; });
  ExpectTablesInFile(mdb, unfiltered);
  if (HasFatalFailure() || IsSkipped()) return;
  const auto expected = source_sqlserver::testing::ExpectedAccessTable(*script_, shipments, filtered);
  EXPECT_EQ(tabulon::testing::CompareTableWithReaders(mdb.string(), "Shipments", expected.columns, expected.rows), "");
  const std::string schema = Schema(mdb);
  EXPECT_EQ(Count(schema, "FOREIGN KEY"), 9u) << schema;  // one line per column pair
  Result<std::vector<std::string>> queries = tabulon::testing::MdbToolsQueries(mdb.string());
  ASSERT_TRUE(queries.ok());
  EXPECT_THAT(*queries, ElementsAre("vActiveProducts", "vCustomerOrders"));
}

TEST_F(FlowsTest, AStopEndsTheTablesButNotTheRelationships) {
  LoadShopDemo();
  // The user stops while the first table's rows are copied.
  wb_->output().SetListener([this](const workspace::OutputLine& line) {
    if (line.text == "Create Index SUCCESSFULLY!!!") wb_->RequestControllerStop();
  });
  Queue(kMigrateTables, "ShopDemo", "", (folder_ / "Target").string());
  EXPECT_THAT(RunAll(), ElementsAre("SUCCESS"));
  const std::vector<std::string> lines = TakeLines();
  const auto after = std::find(lines.begin(), lines.end(), "Create Index SUCCESSFULLY!!!");
  ASSERT_NE(after, lines.end());
  ASSERT_GE(lines.end() - after, 6);
  EXPECT_EQ(
      std::vector<std::string>(after + 1, after + 6),
      (std::vector<std::string>{
          "Data Converting Terminaled!", "[Customers] 1 records converted, convertion completed SUCCESSFULLY!",
          "Tables Converting Terminaled!", "Convert Relationships of database [ShopDemo]", "No Relationship(s)!"}));
  // Orders and OrderLines were never made: their relationships are still tried.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Create Relationship failure!"), 2);
  EXPECT_EQ(lines.back(), "Operation completed SUCCESSFULLY!");
  if (!tabulon::testing::MdbToolsAvailable()) GTEST_SKIP() << "mdbtools is not installed";
  Result<std::vector<std::string>> tables = tabulon::testing::MdbToolsTables((folder_ / "Target.mdb").string());
  ASSERT_TRUE(tables.ok());
  EXPECT_THAT(*tables, ElementsAre("Customers"));
  Result<tabulon::testing::ReaderTable> customers =
      tabulon::testing::MdbToolsExport((folder_ / "Target.mdb").string(), "Customers");
  ASSERT_TRUE(customers.ok());
  EXPECT_EQ(customers->rows.size(), 1u);
}

TEST_F(FlowsTest, SingleObjectsAndWhatDecidesTheirOutcome) {
  LoadShopDemo();
  const std::string target = (folder_ / "Target").string();
  Queue(kMigrateView, "ShopDemo", "vCustomerOrders", target);  // its tables are not there yet
  Queue(kMigrateTable, "NoSuchDb", "Customers", target);
  Queue(kMigrateTable, "ShopDemo", "Customers", target);
  Queue(kMigrateTable, "ShopDemo", "Orders", target);
  Queue(kMigrateViews, "ShopDemo", "", target);
  Queue(kMigrateTable, "ShopDemo", "Customers", target);  // exists now
  EXPECT_THAT(RunAll(), ElementsAre("FAILURE", "FAILURE", "SUCCESS", "SUCCESS", "SUCCESS", "SUCCESS"));
  const std::vector<std::string> lines = TakeLines();
  EXPECT_THAT(lines, ::testing::Contains("Create VIEW [vCustomerOrders] failure!!!"));
  EXPECT_THAT(
      lines, ::testing::Contains(::testing::MatchesRegex(
                 "\\[src/converters/worker_procedures.cpp\\]\\([0-9]+\\)Select Source Database\\[NoSuchDb\\] Error!")));
  EXPECT_THAT(lines, ::testing::Contains("Create VIEW [vCustomerOrders] SUCCESSFULLY!!!"));
  // The repeated table: its CREATE fails and nothing else of it runs.
  const auto repeated = std::find(lines.begin(), lines.end(), "TABLE: Create [ShopDemo].[Customers] ERROR !");
  ASSERT_NE(repeated, lines.end());
  EXPECT_THAT(std::vector<std::string>(repeated + 1, lines.end()), ElementsAre("Operation completed SUCCESSFULLY!"));
  EXPECT_EQ(
      std::count(lines.begin(), lines.end(), "[Customers] 3 records converted, convertion completed SUCCESSFULLY!"), 1);
  // A single table gets no relationships: Orders' key to Customers stays in the source.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Convert Relationships of database [ShopDemo]"), 0);
  ExpectTablesInFile(folder_ / "Target.mdb", {{"dbo", "Customers"}, {"dbo", "Orders"}});
}

// A catalogue the source stops answering half-way: each object says why in the source's words,
// fails in the report, and the run goes on with the rest.
TEST_F(FlowsTest, SourceReadFailuresAreLinesAndReportEntries) {
  LoadShopDemo();
  const std::string lost = "[FreeTDS][SQL Server]Communication link failure";
  script_->Again(source_sqlserver::BuildColumnsStatement(SourceTable("dbo", "OrderLines"), true)).FailsAtRow(2, lost);
  script_->Again(source_sqlserver::BuildHelpConstraintStatement(SourceTable("dbo", "Orders"))).FailsAtRow(1, lost);
  script_->Again(source_sqlserver::BuildHelpIndexStatement(SourceTable("dbo", "Customers"))).FailsAtRow(1, lost);
  script_->Again(source_sqlserver::BuildForeignKeysStatement(SourceTable("dbo", "Orders"))).FailsAtRow(0, lost);
  script_->Again(source_sqlserver::BuildHelpTextStatement(SourceTable("dbo", "vCustomerOrders"))).FailsAtRow(3, lost);
  Queue(kCloneDatabase, "ShopDemo", "", "ShopDemo");
  EXPECT_THAT(RunAll(), ElementsAre("SUCCESS"));
  const std::vector<std::string> lines = TakeLines();
  const auto after = [&](const std::string& first, const std::string& second) {
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
      if (lines[i] == first && lines[i + 1] == second) return true;
    }
    return false;
  };
  EXPECT_EQ(std::count(lines.begin(), lines.end(), lost), 5) << ::testing::PrintToString(lines);
  for (const char* line :
       {"TABLE: Create [ShopDemo].[OrderLines] ERROR !", "Create PK failure!", "Create Index failure!",
        "Create Relationship failure!", "Create VIEW [vCustomerOrders] failure!!!"}) {
    EXPECT_TRUE(after(lost, line)) << line << "\n" << ::testing::PrintToString(lines);
  }
  EXPECT_EQ(
      std::count(lines.begin(), lines.end(), "[Customers] 3 records converted, convertion completed SUCCESSFULLY!"), 1);
  size_t failed = 0;
  for (const ReportedObject& o : wb_->report().Objects())
    failed += o.outcome == ObjectOutcome::kFailed && o.reason == lost;
  EXPECT_EQ(failed, 4u);  // key, index, relationship, view
  const std::vector<ReportedTable> tables = wb_->report().Tables();
  EXPECT_TRUE(std::any_of(tables.begin(), tables.end(), [&](const ReportedTable& t) {
    return t.name == "OrderLines" && !t.created && t.error == lost;
  }));
}

TEST_F(FlowsTest, BackupsWriteTheirFoldersAndReplayIntoAnEqualFile) {
  LoadShopDemo();
  const std::string target = (folder_ / "Target").string();
  Queue(kMigrateDatabase, "ShopDemo", "", target);
  EXPECT_THAT(RunAll(), ElementsAre("SUCCESS"));
  TakeLines();

  // Tables only, before any folder was chosen: below the program's backup folder.
  Queue(kBackupObjects, "", "", target, "T");
  EXPECT_THAT(RunAll(), ElementsAre("SUCCESS"));
  std::vector<std::string> lines = TakeLines();
  // The whole database into the chosen folder F: F/Target/{TABLES,DATA,VIEWS}.
  fs::create_directories(folder_ / "chosen");
  wb_->backup_folder = (folder_ / "chosen").string();
  wb_->backup_folder_chosen = true;
  Queue(kBackupObjects, "", "", target, "A");
  EXPECT_THAT(RunAll(), ElementsAre("SUCCESS"));
  for (std::string& line : TakeLines()) lines.push_back(std::move(line));
  EXPECT_THAT(lines, ::testing::IsSupersetOf({"Backup Tables of database [" + target + "]",
                                              "Backup Views of database [" + target + "]",
                                              "Bakcup View [" + target + "].[vCustomerOrders]"}));
  EXPECT_TRUE(fs::exists(folder_ / "backup" / "Target" / "TABLES" / "Orders.tbl"));
  EXPECT_TRUE(fs::exists(folder_ / "backup" / "Target" / "DATA" / "Orders.data"));
  EXPECT_FALSE(fs::exists(folder_ / "backup" / "Target" / "VIEWS"));
  // The view's statement keeps its own case (names and literals inside it are part of it).
  const fs::path backup = folder_ / "chosen" / "Target";
  const std::string view = ReadFile(backup / "VIEWS" / "vCustomerOrders.vw");
  EXPECT_TRUE(view.starts_with("create VIEW `vCustomerOrders` AS")) << view;
  bool definition = true;
  EXPECT_EQ(ViewScriptLine(" view :[Microsoft][Jet] NO PERMISSION!\n", &definition),
            "--  view :[Microsoft][Jet] NO PERMISSION!\n");
  EXPECT_FALSE(definition);
  EXPECT_EQ(DatabaseFolderName("C:\\data\\Shop"), "Shop");

  // Replaying the backup gives an equal file.
  const fs::path copy = folder_ / "Copy.mdb";
  CreateMdb(copy);
  data::DbConnection restored;
  OpenMdb(restored, copy.string());
  Result<target_access::RestoreResult> result =
      target_access::RestoreBackup(wb_->target_context(), restored.session.get(), backup.string());
  ASSERT_TRUE(result.ok()) << result.status().ToString();
  data::CloseConnection(restored);
  ExpectTablesInFile(copy, kShopTables);
  if (HasFatalFailure() || IsSkipped()) return;
  Result<std::vector<std::string>> queries = tabulon::testing::MdbToolsQueries(copy.string());
  ASSERT_TRUE(queries.ok());
  EXPECT_THAT(*queries, ElementsAre("vCustomerOrders"));

  // Single objects go straight into the folder current when the task starts.
  const fs::path single = folder_ / "single";
  fs::create_directories(single);
  wb_->work_directory = single.string();
  Queue(kBackupObject, "", "Orders", target, "T");
  Queue(kBackupObject, "", "vCustomerOrders", target, "V");
  Queue(kBackupObject, "", "Orders", target, "X");
  EXPECT_THAT(RunAll(), ElementsAre("SUCCESS", "SUCCESS", "FAILURE"));
  for (const char* file : {"TABLES/Orders.tbl", "DATA/Orders.data", "VIEWS/vCustomerOrders.vw"}) {
    EXPECT_TRUE(fs::exists(single / file)) << file;
  }
  EXPECT_FALSE(fs::exists(single / "Target"));
  // A script file that cannot be made fails the task with the character-set line.
  wb_->work_directory = (folder_ / "missing" / "deeper").string();
  Queue(kBackupObject, "", "Orders", target, "T");
  EXPECT_THAT(RunAll(), ElementsAre("FAILURE"));
  EXPECT_THAT(TakeLines(), ::testing::Contains("Perhaps CHARACTER SET not correct!\nPlease change and try again."));
}

// A restore task replays a backup of a migrated file into a new file; it fails, without making
// a file, for a folder that holds no backup, and it fails when a stop ends it early.
TEST_F(FlowsTest, RestoreTasksReplayABackupAndFailOnWhatTheyCannotRestore) {
  LoadShopDemo();
  const std::string target = (folder_ / "Target").string();
  Queue(kMigrateDatabase, "ShopDemo", "", target);
  wb_->backup_folder = folder_.string();
  wb_->backup_folder_chosen = true;
  Queue(kBackupObjects, "", "", target, "A");
  EXPECT_THAT(RunAll(), ElementsAre("SUCCESS", "SUCCESS"));
  TakeLines();

  const fs::path backup = folder_ / "Target";
  const fs::path restored = folder_ / "Restored.mdb";
  Queue(kRestoreBackup, backup.string(), "", restored.string());
  Queue(kRestoreBackup, (folder_ / "data_cache").string(), "", (folder_ / "None.mdb").string());
  EXPECT_THAT(RunAll(), ElementsAre("SUCCESS", "FAILURE"));
  const std::vector<std::string> lines = TakeLines();
  const auto first = std::find(lines.begin(), lines.end(), "Operation completed SUCCESSFULLY!");
  ASSERT_NE(first, lines.end());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), first + 1),
            (std::vector<std::string>{"Create Access MDB File [" + restored.string() + "]",
                                      "Restore Tables of database [Target]", "Restore Data of database [Target]",
                                      "[Customers]       3 records restored!", "[OrderLines]       3 records restored!",
                                      "[Orders]       3 records restored!", "Restore Views of database [Target]",
                                      "Restored into [" + restored.string() + "]: 3 tables, 9 records, 1 views",
                                      "Operation completed SUCCESSFULLY!"}));
  EXPECT_THAT(
      std::vector<std::string>(first + 1, lines.end()),
      ElementsAre("No backup in [" + (folder_ / "data_cache").string() + "]: it holds no TABLES, DATA or VIEWS folder!",
                  "Operation FAILURE!"));
  EXPECT_FALSE(fs::exists(folder_ / "None.mdb"));
  // The target stays connected to the restored file, as after a migration.
  EXPECT_EQ(wb_->target().profile.source_name, restored.string());
  ExpectTablesInFile(restored, kShopTables);
  if (HasFatalFailure() || IsSkipped()) return;
  Result<std::vector<std::string>> queries = tabulon::testing::MdbToolsQueries(restored.string());
  ASSERT_TRUE(queries.ok());
  EXPECT_THAT(*queries, ElementsAre("vCustomerOrders"));

  // A stop leaves the restore incomplete: the task fails.
  wb_->output().SetListener([this](const workspace::OutputLine& line) {
    if (line.text.starts_with("Restore Tables")) wb_->RequestControllerStop();
  });
  Queue(kRestoreBackup, backup.string(), "", (folder_ / "Stopped").string());
  EXPECT_THAT(RunAll(), ElementsAre("FAILURE"));
  EXPECT_THAT(TakeLines(), ::testing::Contains("Tables Restore Terminaled!"));
  EXPECT_TRUE(fs::exists(folder_ / "Stopped.mdb"));
}

}  // namespace
}  // namespace tabulon::converters
