// The migration and backup flows end to end: tasks queued on a Workbench and run by its
// controller, from a replayed SQL Server database (which fails loudly on any statement it was
// not given) into real .mdb files that the independent readers read back. The lines the flows
// write are pinned once, in golden/flows_transcript.txt (TABULON_UPDATE_GOLDEN=1 rewrites it).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <map>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "converters/connect.h"
#include "converters/flow_support.h"
#include "converters/migration_plan.h"
#include "converters/verify.h"
#include "converters/work_folders.h"
#include "converters/workbench.h"
#include "data/providers/jet/jet_provider.h"
#include "data/regex_helper.h"
#include "data/statement.h"
#include "jet/database.h"
#include "jet_readers.h"
#include "jetsql/executor.h"
#include "jet/values.h"
#include "source_common/type_map.h"
#include "source_sqlserver/translate.h"
#include "workspace/statement_output.h"
#include "tests/source_sqlserver/source_test_util.h"

namespace tabulon::converters {
namespace {

namespace fs = std::filesystem;
using source_sqlserver::SourceTable;
using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using SchemaRows = std::vector<std::vector<std::optional<std::string>>>;

const std::vector<SourceTable> kShopTables = {{"dbo", "Customers"}, {"dbo", "Orders"}, {"dbo", "OrderLines"}};
// Tradewind's tables in migration order (referenced tables first), as the catalogue lists them.
const std::vector<SourceTable> kTradewindTables = {
    {"Sales", "Regions"}, {"dbo", "Customers"},  {"dbo", "Products"},    {"dbo", "Order"},    {"dbo", "OrderLines"},
    {"dbo", "Shipments"}, {"dbo", "Warehouses"}, {"dbo", "StockLevels"}, {"dbo", "EventLog"}, {"dbo", "AllTypes"}};

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
    ASSERT_TRUE(jet::Database::Create((folder_ / "Target.mdb").string()).ok());
    wb_->target_tree().current_database = (folder_ / "Target").string();
    OpenTarget();
    // Where the Migrate command puts the scratch files.
    EnterWorkFolder(wb_->work_directory, wb_->data_folder(), "./data_cache");
  }

  void TearDown() override {
    wb_.reset();
    if (!HasFailure()) fs::remove_all(folder_);
  }

  // Opens the file the target's profile names.
  void OpenTarget() {
    data::PropertySet init(data::DBPROPSET_DBINIT);
    init.AddString(data::DBPROP_INIT_DATASOURCE, wb_->target().profile.source_name);
    ASSERT_EQ(data::OpenDataSource(wb_->target(), {&init, 1}), data::S_OK);
    ASSERT_EQ(data::OpenSession(wb_->target()), data::S_OK);
    std::lock_guard guard(wb_->tree_lock());
    wb_->target_tree().state = 0;
    wb_->target_tree().RefreshTree();
  }

  // The replayed source database and its catalogue listing (system views among them: the replay
  // fails the test if a flow touches them).
  void LoadSource(const std::string& fixture, const std::string& database, SchemaRows tables, SchemaRows views) {
    source_sqlserver::testing::LoadFixture(*script_, fixture, "dbo");
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

  // Runs every queued task; returns the state texts of the tasks, in order (also kept for the
  // transcript).
  std::vector<std::string> RunAll() {
    wb_->EnsureControllerRunning();
    wb_->JoinController();
    std::vector<std::string> states;
    states_ += "-> tasks:";
    for (const MigrationTask& task : wb_->tasks().Snapshot()) {
      states.push_back(task.state_text);
      states_ += " " + task.state_text;
    }
    states_ += "\n";
    wb_->tasks().Clear();
    return states;
  }

  // Connects the target to a new, empty `name`.mdb in the test's folder.
  void UseNewTarget(const std::string& name) {
    ASSERT_TRUE(jet::Database::Create((folder_ / (name + ".mdb")).string()).ok());
    data::CloseConnection(wb_->target());
    wb_->target().profile.source_name = (folder_ / (name + ".mdb")).string();
    wb_->target_tree().current_database = (folder_ / name).string();
    OpenTarget();
  }

  // What the report says, for the next transcript, and a fresh report.
  void TakeReport() {
    for (const ReportedTable& t : wb_->report().Tables()) {
      states_ += "-> table " + t.name + (t.created ? " created" : " not created") + ", rows read/written/failed " +
                 std::to_string(t.rows.read) + "/" + std::to_string(t.rows.written) + "/" +
                 std::to_string(t.rows.failed) + (t.rows_copied ? "" : " (copy not ended)") +
                 (t.error.empty() ? "" : ": " + t.error) + "\n";
      for (const auto& n : t.columns)
        states_ += "->   " + n.column + ": " + n.source_type + " -> " + n.target_type + ": " + n.why + "\n";
      for (const auto& r : t.renames) states_ += "->   " + r.kind + " " + r.from + " -> " + r.to + "\n";
    }
    for (const ReportedObject& o : wb_->report().Objects()) {
      states_ += "-> " + o.kind + " " + o.name + " " + ObjectOutcomeText(o.outcome) +
                 (o.reason.empty() ? "" : ": " + o.reason) +
                 (o.outcome == ObjectOutcome::kFailed ? " | " + o.statement : "") + "\n";
    }
    wb_->report().Clear();
  }

  // The lines since the last take under a title, as the golden files hold them (error, success
  // and warning lines marked "E ", "S ", "W ", source line numbers as (N)), then what the test
  // took of the tasks' states, questions and report; the test's folder as <folder>.
  std::string TakeTranscript(const std::string& title) {
    static constexpr const char* kMarks[] = {"  ", "E ", "S ", "W "};  // by workspace::Severity
    std::string text = "## " + title + "\n";
    for (const workspace::OutputLine& line : wb_->output().Lines())
      text += std::string(kMarks[static_cast<int>(line.severity)]) +
              data::RegexReplace(line.text, "\\]\\([0-9]+\\)", "](N)") + "\n";
    wb_->output().Clear();
    text += states_;
    states_.clear();
    for (size_t at; (at = text.find(folder_.string())) != std::string::npos;)
      text.replace(at, folder_.string().size(), "<folder>");
    return text;
  }

  fs::path folder_;
  workspace::ScriptedUserPrompt prompt_;
  std::shared_ptr<tabulon::testing::ReplayScript> script_ = std::make_shared<tabulon::testing::ReplayScript>();
  std::unique_ptr<Workbench> wb_;
  std::string states_;  // of the tasks run since the last transcript
};

// What a verification found, one line a table: "T equal" or its counts and first difference.
std::string Verified(Workbench& workbench, const VerifyRequest& request) {
  Result<std::vector<TableVerification>> verified = RunVerification(workbench, request);
  if (!verified.ok()) return verified.status().ToString();
  std::string text;
  for (const TableVerification& t : *verified) {
    text += t.table + (t.equal() ? " equal" : " " + t.error);
    if (!t.equal() && t.error.empty()) {
      text += std::to_string(t.differing) + "/" + std::to_string(t.missing) + "/" + std::to_string(t.extra);
    }
    if (!t.first.empty()) text += " " + t.first[0].key;
    if (!t.first.empty() && !t.first[0].column.empty()) text += " " + t.first[0].column + " " + t.first[0].source;
    text += (t.inexact > 0 ? " inexact\n" : "\n");
  }
  return text;
}

// The lines every flow writes, pinned once: single objects and what decides their outcome, a
// clone, a stop, backups, restores and a source that stops answering half-way. Besides the
// transcript, what each leaves on disk and in the report.
TEST_F(FlowsTest, TheFlowsWriteTheGoldenTranscript) {
  LoadShopDemo();
  const std::string target = (folder_ / "Target").string();
  std::string transcript;

  Queue(kMigrateView, "ShopDemo", "vCustomerOrders", target);  // its tables are not there yet
  Queue(kMigrateTable, "NoSuchDb", "Customers", target);
  Queue(kMigrateTable, "ShopDemo", "Customers", target);
  Queue(kMigrateTable, "ShopDemo", "Orders", target);  // a single table gets no relationships
  Queue(kMigrateViews, "ShopDemo", "", target);
  Queue(kMigrateTable, "ShopDemo", "Customers", target);  // exists now: nothing else of it runs
  RunAll();
  transcript += TakeTranscript("single objects into Target.mdb");

  Queue(kCloneDatabase, "ShopDemo", "", "ShopDemo");
  RunAll();
  transcript += TakeTranscript("clone into ShopDemo.mdb");
  // The target is connected to the new file. Scratch files: the tables' statements in the
  // order they ran, the view's text, the rows.
  EXPECT_EQ(wb_->target().profile.source_name, (folder_ / "ShopDemo.mdb").string());
  const fs::path cache = folder_ / "data_cache";
  for (const char* file : {"Customers", "Orders", "vCustomerOrders.vw", "OrderLines.data"})
    transcript += "### data_cache/" + std::string(file) + "\n" + ReadFile(cache / file);

  // Backups: the tables below the program's backup folder (none chosen yet), everything into
  // the chosen folder F as F/ShopDemo/{TABLES,DATA,VIEWS}, single objects straight into the
  // folder current when the task starts (their layout: tests/cli/backup_restore_test), and a
  // script file that cannot be made.
  const std::string shop = (folder_ / "ShopDemo").string();
  Queue(kBackupObjects, "", "", shop, "T");
  RunAll();
  wb_->backup_folder = (folder_ / "chosen").string();
  wb_->backup_folder_chosen = true;
  fs::create_directories(folder_ / "chosen");
  Queue(kBackupObjects, "", "", shop, "A");
  RunAll();
  const fs::path single = folder_ / "single";
  fs::create_directories(single);
  wb_->work_directory = single.string();
  Queue(kBackupObject, "", "Orders", shop, "T");
  Queue(kBackupObject, "", "vCustomerOrders", shop, "V");
  Queue(kBackupObject, "", "Orders", shop, "X");
  RunAll();
  wb_->work_directory = (folder_ / "missing" / "deeper").string();
  Queue(kBackupObject, "", "Orders", shop, "T");
  RunAll();
  transcript += TakeTranscript("backups");
  EXPECT_TRUE(fs::exists(folder_ / "backup" / "ShopDemo" / "TABLES" / "Orders.tbl"));
  EXPECT_TRUE(fs::exists(folder_ / "backup" / "ShopDemo" / "DATA" / "Orders.data"));
  EXPECT_FALSE(fs::exists(folder_ / "backup" / "ShopDemo" / "VIEWS"));
  // The view's statement keeps its own case (names and literals inside it are part of it).
  transcript +=
      "### chosen/ShopDemo/VIEWS/vCustomerOrders.vw\n" + ReadFile(folder_ / "chosen/ShopDemo/VIEWS/vCustomerOrders.vw");

  // Restores: a backup, a folder without one (no file made), and one a stop ends early.
  wb_->work_directory = folder_.string();
  const fs::path backup = folder_ / "chosen" / "ShopDemo";
  Queue(kRestoreBackup, backup.string(), "", (folder_ / "Restored.mdb").string());
  Queue(kRestoreBackup, cache.string(), "", (folder_ / "None.mdb").string());
  RunAll();
  EXPECT_FALSE(fs::exists(folder_ / "None.mdb"));
  EXPECT_EQ(wb_->target().profile.source_name, (folder_ / "Restored.mdb").string());
  wb_->output().SetListener([this](const workspace::OutputLine& line) {
    if (line.text.starts_with("Restore Tables")) wb_->RequestControllerStop();
  });
  Queue(kRestoreBackup, backup.string(), "", (folder_ / "Stopped").string());
  RunAll();
  transcript += TakeTranscript("restores");
  EXPECT_TRUE(fs::exists(folder_ / "Stopped.mdb"));

  // A stop while the first table's rows are copied ends the tables but not the relationships.
  UseNewTarget("Halted");
  wb_->output().SetListener([this](const workspace::OutputLine& line) {
    if (line.text == "Create Index SUCCESSFULLY!!!") wb_->RequestControllerStop();
  });
  Queue(kMigrateTables, "ShopDemo", "", (folder_ / "Halted").string());
  RunAll();
  transcript += TakeTranscript("stop during the tables");
  wb_->output().SetListener(nullptr);

  // A catalogue the source stops answering half-way: each object says why in the source's
  // words, fails in the report, and the run goes on with the rest.
  const std::string lost = "[FreeTDS][SQL Server]Communication link failure";
  script_->Again(source_sqlserver::BuildColumnsStatement(SourceTable("dbo", "OrderLines"))).FailsAtRow(2, lost);
  script_->Again(source_sqlserver::BuildHelpConstraintStatement(SourceTable("dbo", "Orders"))).FailsAtRow(1, lost);
  script_->Again(source_sqlserver::BuildIndexesStatement(SourceTable("dbo", "Customers"))).FailsAtRow(1, lost);
  script_->Again(source_sqlserver::BuildForeignKeysStatement(SourceTable("dbo", "Orders"))).FailsAtRow(0, lost);
  script_->Again(source_sqlserver::BuildHelpTextStatement(SourceTable("dbo", "vCustomerOrders"))).FailsAtRow(3, lost);
  wb_->report().Clear();
  Queue(kCloneDatabase, "ShopDemo", "", "Broken");
  RunAll();
  TakeReport();
  transcript += TakeTranscript("source read failures");

  source_sqlserver::testing::ExpectGoldenFile("tests/converters/golden/flows_transcript.txt", transcript);
}

// SQL Server to .mdb: the whole Tradewind database (every built-in type, composite keys,
// several unique indexes on one table, multi-column relationships, a table outside dbo,
// reserved-word names, views with comments, 10,000 generated rows) with a stored condition on
// one table. The report says every object was made; both readers read back every value.
TEST_F(FlowsTest, SqlServerDatabaseArrivesInTheMdbValueByValue) {
  SchemaRows tables;
  for (const SourceTable& t : kTradewindTables) tables.push_back({"Tradewind", t.schema, t.name, "TABLE"});
  LoadSource("realistic.replay", "Tradewind", tables,
             {{"Tradewind", "dbo", "vActiveProducts", "VIEW"}, {"Tradewind", "dbo", "vCustomerOrders", "VIEW"}});
  source_sqlserver::testing::RecordEventLogRows(*script_, "dbo", 10000);
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

  Queue(kMigrateDatabase, "Tradewind", "", (folder_ / "Target").string());
  RunAll();
  for (const std::string& line : source_sqlserver::testing::OutputTexts(wb_->output()))
    EXPECT_THAT(line, ::testing::Not(AnyOf(HasSubstr("failure"), HasSubstr("not inserted"), HasSubstr("left out"))));
  // The report (golden/tradewind_report.txt): every table made with all its rows (Shipments' as
  // its condition selects them), every object made.
  TakeReport();
  source_sqlserver::testing::ExpectGoldenFile("tests/converters/golden/tradewind_report.txt", states_);
  states_.clear();
  // Every table, value by value, read again from the replayed source (Shipments under its condition).
  std::string equal;
  for (const SourceTable& table : kTradewindTables) {
    // Dates kept as text; a NULL bit held as No.
    const bool inexact = std::set<std::string>{"Order", "Shipments", "EventLog", "AllTypes"}.contains(table.name);
    equal += table.name + " equal" + (inexact ? " inexact\n" : "\n");
  }
  EXPECT_EQ(Verified(*wb_, {"Tradewind", {}, (folder_ / "Target.mdb").string()}), equal);

  // Every row, value by value, in both readers (Shipments' as its condition selects them).
  if (!tabulon::testing::MdbToolsAvailable() || !tabulon::testing::MdbReaderAvailable()) {
    GTEST_SKIP() << "mdbtools or mdb-reader is not installed";
  }
  const std::string mdb = (folder_ / "Target.mdb").string();
  for (const SourceTable& table : kTradewindTables) {
    const auto expected =
        source_sqlserver::testing::ExpectedAccessTable(*script_, table, table.name == "Shipments" ? filtered : "");
    EXPECT_EQ(tabulon::testing::CompareTableWithReaders(mdb, table.name, expected.columns, expected.rows), "")
        << table.name;
  }

  // Keys, unique indexes and relationships as mdb-schema's postgres backend prints them.
  const Result<std::string> printed = tabulon::testing::MdbToolsSchema(mdb, "postgres");
  ASSERT_TRUE(printed.ok()) << printed.status().ToString();
  const std::string& schema = *printed;
  EXPECT_EQ(Count(schema, "PRIMARY KEY"), kTradewindTables.size()) << schema;
  EXPECT_EQ(Count(schema, "CREATE UNIQUE INDEX"), 5u) << schema;
  EXPECT_EQ(Count(schema, "FOREIGN KEY"), 9u) << schema;  // one line per column pair
  for (const char* wanted :
       {"PRIMARY KEY (\"sitecode\", \"bin\", \"productid\")", "ON \"customers\" (\"country\", \"taxnumber\" DESC)",
        "\"OrderLines\" ADD CONSTRAINT \"orderlines_orderid_fk\" FOREIGN KEY (\"orderid\") REFERENCES \"Order\"",
        "FOREIGN KEY (\"regioncode\") REFERENCES \"Regions\"(\"regioncode\")"}) {
    EXPECT_THAT(schema, HasSubstr(wanted));
  }
  // A two-column relationship is one relationship of two columns, in key order
  // (golden/tradewind_relationships.txt).
  Result<tabulon::testing::ReaderTable> relationships = tabulon::testing::MdbToolsExport(mdb, "MSysRelationships");
  ASSERT_TRUE(relationships.ok()) << relationships.status().ToString();
  std::string pairs;
  for (const auto& row : relationships->rows)
    pairs += *row[0] + " " + *row[2] + " " + *row[3] + " " + *row[4] + "." + *row[5] + " -> " + *row[6] + "." +
             *row[7] + "\n";
  EXPECT_EQ(pairs, ReadFile(fs::path(TABULON_SOURCE_DIR) / "tests/converters/golden/tradewind_relationships.txt"));
  // Both views are saved queries another reader finds: comments gone, the select line cut into
  // two sp_helptext rows whole again, "--" inside quotes kept.
  Result<std::vector<std::string>> queries = tabulon::testing::MdbToolsQueries(mdb);
  ASSERT_TRUE(queries.ok());
  EXPECT_THAT(*queries, ElementsAre("vActiveProducts", "vCustomerOrders"));
  Result<std::string> active = tabulon::testing::MdbToolsQuerySql(mdb, "vActiveProducts");
  ASSERT_TRUE(active.ok());
  // Translated: a bit compared with 0 is a Yes/No compared with False.
  EXPECT_THAT(*active, HasSubstr("WHERE [Discontinued] = False And [Name] <> 'n/a -- none'"));
  EXPECT_THAT(*active, ::testing::Not(HasSubstr("EUR")));
  EXPECT_THAT(ReadFile(folder_ / "data_cache" / "vCustomerOrders.vw"),
              HasSubstr("[p].[Name] AS [ProductName], [l].[Qty] * [l].[UnitPrice] AS [LineAmount]\nFROM (("));
}

// Indexes and relationships Access holds only in part (rules.replay): the report says what was left
// out and why, which rule was lost and which relationship is not enforced; the file is sound and
// another reader finds the indexes and the delete rules. The NO ACTION key meets Visit's row
// without a parent and FK_Disabled is disabled at the source: both are kept, not enforced. CHECK
// constraints become validation rules; a disabled one and one Access SQL cannot write are reported.
TEST_F(FlowsTest, IndexesAndRelationshipsArriveAsAccessHoldsThem) {
  const std::vector<SourceTable> rules = {{"dbo", "Parent"}, {"dbo", "Child"}, {"dbo", "Visit"}};
  SchemaRows tables;
  for (const SourceTable& t : rules) tables.push_back({"Rules", t.schema, t.name, "TABLE"});
  LoadSource("rules.replay", "Rules", tables, {});
  Queue(kMigrateDatabase, "Rules", "", (folder_ / "Target").string());
  RunAll();
  TakeReport();
  for (const char* entry : {
           "INDEX [IX_Child_Filtered] of [Child] is left out: Access cannot hold a filtered index",
           "INDEX [IX_Child_Memo] of [Child] is left out: column [Memo] is a Memo or OLE Object column",
           "INDEX [IX_Child_Grade_Again] of [Child] is left out: its keys are those of index [IX_Child_Grade]",
           "INDEX [PXML_Child_Doc] of [Child] is left out: Access cannot hold an index of type xml",
           "INDEX [IX_Child_Incl] of [Child]: included columns [Grade] are left out",
           "RELATIONSHIP [FK_SetDefault] of [Visit] is enforced without ON DELETE SET DEFAULT",
           "relationship Visit not enforced: RELATIONSHIP [FK_Disabled] of [Visit] is not enforced: the source has",
           "relationship Visit not enforced: not enforced: relationship 'FK_NoAction': 1 row of 'Visit' refers to no "
           "row",
           "CHECK constraint CK_Visit_Off of [Visit] not kept: it is disabled",
           "CHECK constraint CK_Visit_Odd of [Visit] not kept: the operator &",
       }) {
    EXPECT_THAT(states_, HasSubstr(entry));
  }
  const std::string mdb = (folder_ / "Target.mdb").string();
  EXPECT_TRUE(tabulon::testing::CheckBeforeReading(mdb).ok());
  if (!tabulon::testing::MdbToolsAvailable() || !tabulon::testing::MdbReaderAvailable()) {
    GTEST_SKIP() << "mdbtools or mdb-reader is not installed";
  }
  for (const SourceTable& table : rules) {
    const auto expected = source_sqlserver::testing::ExpectedAccessTable(*script_, table);
    EXPECT_EQ(tabulon::testing::CompareTableWithReaders(mdb, table.name, expected.columns, expected.rows), "")
        << table.name;
  }
  // mdb-schema prints the rule of a cascading delete; a relationship that empties the referring
  // columns it prints without a rule, and one not enforced as a comment.
  const Result<std::string> printed = tabulon::testing::MdbToolsSchema(mdb, "postgres");
  ASSERT_TRUE(printed.ok()) << printed.status().ToString();
  for (const char* wanted : {
           "CREATE INDEX \"child_ix_child_grade_idx\" ON \"child\" (\"grade\" DESC, \"id\");",
           "CREATE UNIQUE INDEX \"child_child_idx_1_idx\" ON \"child\" (\"parentid\", \"grade\");",
           "CREATE INDEX \"child_ix_child_incl_idx\" ON \"child\" (\"parentid\");",
           "FOREIGN KEY (\"parentid\") REFERENCES \"Parent\"(\"id\") ON DELETE CASCADE DEFERRABLE",
           "FOREIGN KEY (\"parentcode\") REFERENCES \"Parent\"(\"code\") DEFERRABLE",
           "COMMENT ON TABLE \"parent\" IS 'Families whose children attend';",
           "-- Relationship from \"Visit\" (\"parentid\") to \"Parent\"(\"id\") does not enforce integrity.",
       }) {
    EXPECT_THAT(*printed, HasSubstr(wanted));
  }
  EXPECT_EQ(Count(*printed, "CREATE INDEX \"child_"), 2u) << *printed;
  // The CHECK constraints as validation rules of the columns and the table.
  const Result<std::string> child = tabulon::testing::MdbToolsProperties(mdb, "Child");
  const Result<std::string> visit = tabulon::testing::MdbToolsProperties(mdb, "Visit");
  ASSERT_TRUE(child.ok() && visit.ok());
  for (const char* wanted : {"ValidationRule: [ParentId] Is Not Null Or [ParentCode] Is Not Null\n\t"
                             "ValidationText: CHECK constraint CK_Child_Pair",
                             "ValidationRule: In ('P-1', 'P-2')\n\tValidationText: CHECK constraint CK_Child_Code",
                             "ValidationRule: >=1 And <=5\n\tValidationText: CHECK constraint CK_Child_Grade"}) {
    EXPECT_THAT(*child, HasSubstr(wanted));
  }
  EXPECT_THAT(*visit, HasSubstr("ValidationRule: >0\n\tValidationText: CHECK constraint CK_Visit_Id"));
  EXPECT_EQ(Count(*visit, "ValidationRule"), 1u) << *visit;
}

// What Access cannot hold as typed still arrives whole, and says how: identity as AutoNumber whose
// next number is above the largest copied, newid() as GenGUID(), 300-byte binaries, decimals past
// 28 digits, names Access refuses renamed; with the access-native map the date and time columns
// are Date/Time at the same instant.
TEST_F(FlowsTest, WhatAccessCannotHoldAsTypedArrivesWholeAndIsReported) {
  const SourceTable ledger("dbo", "Ledger"), totals("dbo", "Q1.Totals!");
  LoadSource("faithful.replay", "Faithful",
             {{"Faithful", "dbo", "Ledger", "TABLE"}, {"Faithful", "dbo", "Q1.Totals!", "TABLE"}}, {});
  Queue(kMigrateDatabase, "Faithful", "", (folder_ / "Target").string());
  RunAll();
  // The report (golden/faithful_report.txt): the task succeeded, every table arrived whole, and
  // each column not kept as typed and each name Access refuses is said.
  TakeReport();
  source_sqlserver::testing::ExpectGoldenFile("tests/converters/golden/faithful_report.txt", states_);
  states_.clear();
  // Equal, the columns not kept as typed compared as converted.
  EXPECT_EQ(Verified(*wb_, {"Faithful", {}, (folder_ / "Target.mdb").string()}),
            "Ledger equal inexact\nQ1.Totals! equal inexact\n");
  if (!tabulon::testing::MdbToolsAvailable() || !tabulon::testing::MdbReaderAvailable()) {
    GTEST_SKIP() << "mdbtools or mdb-reader is not installed";
  }
  const std::string mdb = (folder_ / "Target.mdb").string();
  for (const SourceTable& table : {ledger, totals}) {
    const auto expected = source_sqlserver::testing::ExpectedAccessTable(*script_, table);
    EXPECT_EQ(tabulon::testing::CompareTableWithReaders(mdb, source_common::AccessObjectName(table.name),
                                                        expected.columns, expected.rows),
              "")
        << table.name;
  }
  // The next AutoNumber follows the largest copied, and a GenGUID() default fills a new row.
  data::Session* target = wb_->target().session.get();
  ASSERT_TRUE(workspace::ExecuteStatement(&wb_->output(), target, "insert into Ledger (Name) values ('new')", 0));
  EXPECT_EQ(workspace::RunScalarStatement(nullptr, target, "select Id from Ledger where Name = 'new'", 0), "1004");
  EXPECT_EQ(workspace::RunScalarStatement(nullptr, target, "select count(*) from Ledger where Token is null", 0), "0");

  // The same source with native Access types: Date/Time to the millisecond, a time on 1899-12-30.
  wb_->type_map = std::make_shared<const source_common::TypeMap>(source_common::TypeMapPreset("access-native").value());
  UseNewTarget("Native");
  Queue(kMigrateTable, "Faithful", "Ledger", (folder_ / "Native").string());
  EXPECT_THAT(RunAll(), ElementsAre("SUCCESS"));
  // Digits below the millisecond are counted where they were rounded away; a date before the
  // year 100 costs its row.
  const std::vector<std::string> lines = source_sqlserver::testing::OutputTexts(wb_->output());
  EXPECT_THAT(lines, Contains("TABLE [Ledger]: values rounded to the millisecond: [Stamp] 2; [Clock] 1"));
  EXPECT_THAT(lines, Contains(HasSubstr("[Ledger] Record 4 was not inserted:")));
  EXPECT_EQ(wb_->report().Tables().at(0).rows.rounded, 3);
  // The refused row is missing; the rounded values are compared as rounded.
  EXPECT_EQ(Verified(*wb_, {"Faithful", {"Ledger"}, (folder_ / "Native.mdb").string()}),
            "Ledger 0/1/0 (1001) inexact\n");
  const auto native = tabulon::testing::ReadWithMdbReader((folder_ / "Native.mdb").string());
  ASSERT_TRUE(native.ok()) << native.status().ToString();
  ASSERT_EQ(native->size(), 1u);
  std::vector<std::string> instants;
  for (const auto& row : native->front().rows)
    instants.push_back(row[4].value_or("NULL") + " / " + row[5].value_or("NULL"));
  EXPECT_EQ(native->front().columns[4].type, native->front().columns[5].type);
  EXPECT_THAT(instants, ElementsAre("2011-03-20 14:05:09.123 / 1899-12-30 14:05:09.123",
                                    "1999-12-31 23:59:59.999 / 1899-12-30 00:00:00", "NULL / NULL"));
}

// Failure lines a user sees (in the output, or in a message box), each provoked as it happens:
// the lines, the questions, the tasks' states and what the report says, pinned in
// golden/failure_transcript.txt.
// A plan runs the migration's own flows against a scratch file: it says in the migration's words
// what will happen to every table, column, key, index, relationship and view
// (golden/shopdemo_plan.txt), and leaves the target, the Workbench's report and its source
// connection as they were.
TEST_F(FlowsTest, APlanSaysWhatTheMigrationWillDoAndWritesNothing) {
  LoadShopDemo();
  const fs::path target = folder_ / "Target.mdb";
  const std::string before = ReadFile(target);
  MigrationRequest request;
  request.source_database = "ShopDemo";
  Result<MigrationPlan> plan = PlanMigration(*wb_, request, target.string(), nullptr);
  ASSERT_TRUE(plan.ok()) << plan.status().ToString();
  EXPECT_EQ(ReadFile(target), before);
  EXPECT_TRUE(wb_->report().Tables().empty());
  ASSERT_NE(wb_->source().session, nullptr);
  EXPECT_EQ(plan->base_bytes, static_cast<long long>(fs::file_size(target)));
  std::string text;
  for (const std::string& line : PlanLines(*plan)) text += line + "\n";
  source_sqlserver::testing::ExpectGoldenFile("tests/converters/golden/shopdemo_plan.txt", text);
  EXPECT_EQ(CheckPlannedSize(*plan).verdict, SizeCheck::Verdict::kFits);

  // The source is still usable: the migration the plan described runs after it.
  Queue(kMigrateDatabase, "ShopDemo", "", (folder_ / "Target").string());
  EXPECT_THAT(RunAll(), ElementsAre("SUCCESS"));
  const auto grown = static_cast<long long>(fs::file_size(target));
  EXPECT_LE(grown, plan->estimated_bytes + 64 * 1024) << "a few pages per table at most above the estimate";
}

// A source whose rows would pass the 2 GB of an Access file (Orders with 40 million rows and their
// notes, as the replayed count says): the plan's check refuses the migration and names the
// largest tables; close to the ceiling it warns.
TEST_F(FlowsTest, APlanPastTheCeilingNamesTheLargestTables) {
  LoadShopDemo();
  const std::string count = source_sqlserver::BuildMeasureRowsStatement(
      SourceTable("dbo", "Orders"), {"OrderID", "CustomerID", "OrderDate", "Total", "Notes"}, "");
  tabulon::testing::ReplayStatement& large = script_->On(count);
  for (int k = 0; k < 11; ++k) large.Column("", data::DBTYPE_I8);
  large.Row({"40000000", "40000000", "160000000", "40000000", "160000000", "40000000", "320000000", "40000000",
             "360000000", "30000000", "1500000000"});
  MigrationRequest request;
  request.source_database = "ShopDemo";
  Result<MigrationPlan> plan = PlanMigration(*wb_, request, "", nullptr);
  ASSERT_TRUE(plan.ok()) << plan.status().ToString();
  const SizeCheck check = CheckPlannedSize(*plan);
  EXPECT_EQ(check.verdict, SizeCheck::Verdict::kOverCeiling);
  EXPECT_THAT(check.text, HasSubstr("passes the 2 GB an Access file can hold; nothing was written"));
  EXPECT_THAT(check.text, HasSubstr("Largest tables: [Orders] "));
  EXPECT_THAT(check.text, HasSubstr("(40000000 rows)"));
  EXPECT_GT(plan->estimated_bytes, kJetFileCeiling);

  MigrationPlan near = *plan;
  near.estimated_bytes = kJetFileWarning + 1;
  EXPECT_EQ(CheckPlannedSize(near).verdict, SizeCheck::Verdict::kNearCeiling);
  near.estimated_bytes = kJetFileWarning;
  EXPECT_EQ(CheckPlannedSize(near).verdict, SizeCheck::Verdict::kFits);
}

TEST_F(FlowsTest, FailureLinesAndTheirReportEntries) {
  const std::string target = (folder_ / "Target").string();
  const data::SchemaRestrictions all_tables = {tabulon::testing::kNull, tabulon::testing::kNull,
                                               tabulon::testing::kNull, "TABLE"};
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"no primary key (not a failure)",
       [&] {
         script_->Again(source_sqlserver::BuildHelpConstraintStatement(SourceTable("dbo", "Customers"))).rows.clear();
         Queue(kMigrateTable, "ShopDemo", "Customers", target);
       }},
      // The key's statement reaches the target, which refuses it: the key fails with the
      // target's words, the table stays made.
      {"a key the target refuses",
       [&] {
         auto& constraints =
             script_->Again(source_sqlserver::BuildHelpConstraintStatement(SourceTable("dbo", "Customers")));
         ASSERT_EQ(*constraints.rows.at(2).at(1), "PK_Customers");
         constraints.rows[2][6] = "NoSuchColumn";
         Queue(kMigrateTable, "ShopDemo", "Customers", target);
       }},
      {"a view without a definition",
       [&] {
         script_->Again(source_sqlserver::BuildHelpTextStatement(SourceTable("dbo", "vCustomerOrders"))).rows.clear();
         Queue(kMigrateView, "ShopDemo", "vCustomerOrders", target);
       }},
      {"a stop during the views",
       [&] {
         wb_->output().SetListener([this](const workspace::OutputLine& line) {
           if (line.text.starts_with("VIEW: ")) wb_->RequestControllerStop();
         });
         Queue(kMigrateViews, "ShopDemo", "", target);
       }},
      {"a source that cannot list its tables",
       [&] {
         script_->FailSchema(data::SchemaRowsetKind::kTables, all_tables);
         Queue(kMigrateTables, "ShopDemo", "", target);
       }},
      {"a backup whose target cannot list its tables (a message box; the task fails)",
       [&] {
         auto listless = std::make_shared<tabulon::testing::ReplayScript>();
         listless->FailSchema(data::SchemaRowsetKind::kTables, all_tables);
         wb_->target_context().connect = [this, listless](target_access::Side) {
           tabulon::testing::ConnectReplay(wb_->target(), listless);
         };
         Queue(kBackupObjects, "", "", target, "T");
       }},
      {"a target that is not an Access file",
       [&] {
         std::ofstream(folder_ / "Junk.mdb") << "not an Access file\n";
         wb_->target().profile.source_name = (folder_ / "Junk.mdb").string();
         ConnectTarget(*wb_);
       }},
  };
  std::string transcript;
  for (const auto& [title, provoke] : cases) {
    SCOPED_TRACE(title);
    TearDown();
    script_ = std::make_shared<tabulon::testing::ReplayScript>();
    SetUp();
    LoadShopDemo();
    wb_->output().Clear();
    const size_t asked = prompt_.texts().size();
    provoke();
    if (!wb_->tasks().Snapshot().empty()) RunAll();
    wb_->output().SetListener(nullptr);
    const std::vector<std::string> all_asked = prompt_.texts();
    for (auto text = all_asked.begin() + static_cast<long>(asked); text != all_asked.end(); ++text)
      states_ += "-> asked: " + *text + "\n";
    TakeReport();
    transcript += TakeTranscript(title);
  }
  source_sqlserver::testing::ExpectGoldenFile("tests/converters/golden/failure_transcript.txt", transcript);
}

// The T-SQL view corpus (views.replay: dbo. and bracketed names, text joined with +, CONVERT and
// CAST, ISNULL and COALESCE, TOP, date strings, date and text functions, CASE, integer / and %,
// LIKE, IN and EXISTS, a query in FROM, join chains, grouping, DISTINCT, unions, a view over a
// view): every view arrives as a saved query whose Access SQL is golden/views_access_sql.txt, that
// mdbtools lists, and whose rows are those SQL Server gives (data/views_rows.txt), compared as
// multisets with numbers by value and dates as date-times.
TEST_F(FlowsTest, TsqlViewsGiveTheRowsSqlServerGives) {
  const std::string root = std::string(TABULON_SOURCE_DIR) + "/tests/source_sqlserver/";
  SchemaRows tables, views;
  for (const char* t : {"Region", "Customer", "Product", "Orders", "OrderLine"})
    tables.push_back({"Views", "dbo", t, "TABLE"});
  std::map<std::string, std::vector<std::string>> expected;  // by view
  std::vector<std::string> names;                            // in the file's order
  std::istringstream rows_file(ReadFile(root + "data/views_rows.txt"));
  for (std::string line; std::getline(rows_file, line);) {
    if (line.starts_with("[")) {
      names.push_back(line.substr(1, line.size() - 2));
      views.push_back({"Views", "dbo", names.back(), "VIEW"});
      expected[names.back()];
    } else if (!line.starts_with("#") && !names.empty()) {
      expected[names.back()].push_back(line);
    }
  }
  LoadSource("views.replay", "Views", tables, views);
  wb_->type_map = std::make_shared<const source_common::TypeMap>(source_common::TypeMapPreset("access-native").value());
  Queue(kMigrateDatabase, "Views", "", (folder_ / "Target").string());
  RunAll();
  TakeReport();
  states_ += "\n" + ::testing::PrintToString(source_sqlserver::testing::OutputTexts(wb_->output()));
  EXPECT_THAT(states_,
              ::testing::Not(AnyOf(HasSubstr(" failed"), HasSubstr(" unsupported"), HasSubstr("not translated"))))
      << states_;

  // Numbers by value, date-times as "YYYY-MM-DD HH:MM:SS", Yes/No as 1/0, text as it is.
  auto normal = [](const std::string& text) -> std::string {
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (!text.empty() && end == text.c_str() + text.size() && text.find_first_of("xXnN") == std::string::npos)
      return std::to_string(number == 0 ? 0.0 : number);
    if (text == "true" || text == "false") return text == "true" ? "1.000000" : "0.000000";
    if (const std::optional<double> days = jet::ParseDateTime(text)) return jet::FormatDateTime(*days);
    return text;
  };
  auto sorted_normal = [&](const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::string> out;
    for (const auto& row : rows) {
      std::string joined;
      for (const std::string& v : row) joined += (joined.empty() ? "" : " | ") + normal(v);
      out.push_back(joined);
    }
    std::sort(out.begin(), out.end());
    return out;
  };
  const std::string mdb = (folder_ / "Target.mdb").string();
  data::CloseConnection(wb_->target());
  std::string golden;
  {
    auto db = jet::Database::Open(mdb, jet::OpenMode::kReadOnly);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    EXPECT_TRUE((*db)->CheckIntegrity().ok());
    jetsql::Session session(**db);
    for (const std::string& view : names) {
      SCOPED_TRACE(view);
      const Result<std::string> sql = (*db)->GetQuerySql(view);
      golden += "## " + view + "\n" + (sql.ok() ? *sql : sql.status().ToString()) + "\n";
      std::vector<std::vector<std::string>> want, got;
      for (std::string line : expected[view]) {
        want.emplace_back();
        for (size_t bar; (bar = line.find(" | ")) != std::string::npos; line.erase(0, bar + 3))
          want.back().push_back(line.substr(0, bar));
        want.back().push_back(line);
      }
      auto result = session.Execute("SELECT * FROM [" + view + "]");
      ASSERT_TRUE(result.ok()) << result.status().ToString();
      for (const jet::Row& row : result->rows) {
        got.emplace_back();
        for (const jet::Value& value : row) got.back().push_back(jet::FormatValue(value).value_or("<NULL>"));
      }
      EXPECT_EQ(sorted_normal(got), sorted_normal(want));
    }
  }
  source_sqlserver::testing::ExpectGoldenFile("tests/converters/golden/views_access_sql.txt", golden);
  if (!tabulon::testing::MdbToolsAvailable()) GTEST_SKIP() << "mdbtools is not installed";
  Result<std::vector<std::string>> queries = tabulon::testing::MdbToolsQueries(mdb);
  ASSERT_TRUE(queries.ok()) << queries.status().ToString();
  EXPECT_THAT(*queries, ::testing::UnorderedElementsAreArray(names));
}

}  // namespace
}  // namespace tabulon::converters
