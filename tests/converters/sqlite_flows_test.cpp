// The flows with a SQLite source: a Workbench connected to a SQLite file by the Connect
// procedure clones the database into a new .mdb; the flows take the SQLite adapter because the
// source profile names the provider "SQLite".
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "config/condition_file.h"
#include "converters/connect.h"
#include "converters/core_task_flows.h"
#include "converters/work_folders.h"
#include "converters/workbench.h"
#include "data/providers/jet/jet_provider.h"
#include "jet_readers.h"
#include "source_sqlite/source_adapter.h"
#include "source_sqlserver/source_adapter.h"

namespace tabulon::converters {
namespace {

namespace fs = std::filesystem;

constexpr char kShop[] = R"sql(
create table customers(id integer primary key, name varchar(20) not null unique, joined date);
create table orders(id integer primary key, customer integer references customers(id), total decimal(8,2), note);
create table "old orders"(id integer primary key, customer integer references customers(id));
create view v_big as select id, total from orders where total > 10;
create view v_text as select name || '!' as shout from customers;
insert into customers values (1, 'Ann', '2024-01-02'), (2, 'Bob', 'soon');
insert into orders values (1, 1, 12.5, 'x'), (2, 1, 3, null), (3, 1, 99, 'left out by the condition');
insert into "old orders" values (7, 1);
)sql";

TEST(SqliteFlowsTest, AWholeSqliteDatabaseIsClonedIntoAnMdb) {
  EXPECT_EQ(&SourceAdapterFor("sqlite"), &source_sqlite::SqliteSourceAdapter());
  EXPECT_EQ(&SourceAdapterFor("SQLOLEDB"), &source_sqlserver::SqlServerSourceAdapter());

  const fs::path folder = fs::temp_directory_path() / ("tabulon_sqlite_flows_" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string source_path = (folder / "Shop.sqlite").string();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(source_path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, kShop, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);

  workspace::ScriptedUserPrompt prompt;
  WorkbenchOptions options;
  options.program_folder = folder.string();
  options.sleep = [](std::chrono::milliseconds) {};
  options.pause = [] {};
  auto wb = std::make_unique<Workbench>(prompt, std::move(options));
  wb->condition_file_path = (folder / "Condition.cfg").string();
  ASSERT_TRUE(config::SaveCondition(wb->condition_file_path, "Shop", "orders", "total < 50").ok());
  wb->source().profile.provider_name = "SQLite";
  wb->source().profile.source_name = source_path;
  ConnectSource(*wb);
  ASSERT_NE(wb->source().session, nullptr) << wb->output().Lines().back().text;
  EXPECT_EQ(wb->source_tree().tree.ChildTexts(wb->source_tree().tables_folder),
            (std::vector<std::string>{"customers", "orders"}));

  const std::string target = (folder / "Target.mdb").string();
  data::PropertySet init(data::DBPROPSET_DBINIT);
  init.AddString(data::DBPROP_INIT_DATASOURCE, target);
  std::vector<std::string> errors;
  ASSERT_EQ(data::JetProvider().CreateDataSource({&init, 1}, &errors), data::S_OK);
  wb->target_context().system_database_path = (folder / "System.mdw").string();
  wb->target_context().connect = [&](target_access::Side) {
    data::PropertySet open(data::DBPROPSET_DBINIT);
    open.AddString(data::DBPROP_INIT_DATASOURCE, wb->target().profile.source_name);
    ASSERT_EQ(data::OpenDataSource(wb->target(), {&open, 1}), data::S_OK);
    ASSERT_EQ(data::OpenSession(wb->target()), data::S_OK);
    std::lock_guard guard(wb->tree_lock());
    wb->target_tree().state = 0;
    wb->target_tree().RefreshTree();
  };
  wb->target().profile.provider_name = data::kJetProviderName;
  wb->target().profile.source_name = target;
  // The clone goes beside the target file.
  wb->target_tree().current_database = (folder / "Target").string();
  wb->target_context().connect(target_access::Side::kTarget);
  EnterWorkFolder(wb->work_directory, wb->data_folder(), "./data_cache");
  wb->output().Clear();

  TaskNames names;
  names.source_database = "Shop";
  names.target_database = "Shop";
  wb->QueueTask(MakeTask(kCloneDatabase, names));
  wb->EnsureControllerRunning();
  wb->JoinController();
  std::vector<std::string> lines;
  for (const workspace::OutputLine& line : wb->output().Lines()) lines.push_back(line.text);
  ASSERT_EQ(wb->tasks().Snapshot().at(0).state_text, "SUCCESS") << ::testing::PrintToString(lines);
  const auto has = [&](const std::string& text) { return std::find(lines.begin(), lines.end(), text) != lines.end(); };
  for (const char* line :
       {"TABLE: [Shop].[customers] Migrating.....", "Create PRIMARY KEY SUCCESSFULLY!!!",
        "Create Index SUCCESSFULLY!!!",
        "[customers] Record 2 was not inserted: column [joined]: 'soon' cannot be read as a date",
        "[customers] 1 records converted, convertion completed SUCCESSFULLY!",
        "[orders] 2 records converted, convertion completed SUCCESSFULLY!", "Create FOREIGN KEY SUCCESSFULLY!!!",
        "Create VIEW [v_big] SUCCESSFULLY!!!", "Operation completed SUCCESSFULLY!"}) {
    EXPECT_TRUE(has(line)) << line;
  }
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.starts_with("NO SUPPORT! VIEW [v_text]"); }),
            1);
  // A name with a blank is migrated like any other (with its key, rows and relationship) and
  // counted in the report.
  EXPECT_TRUE(has("TABLE: [Shop].[old orders] Migrating....."));
  EXPECT_TRUE(has("[old orders] 1 records converted, convertion completed SUCCESSFULLY!"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string("Create FOREIGN KEY SUCCESSFULLY!!!")), 2);
  const std::vector<ReportedTable> reported = wb->report().Tables();
  EXPECT_TRUE(
      std::any_of(reported.begin(), reported.end(), [](const ReportedTable& t) { return t.name == "old orders"; }));
  wb.reset();

  if (!tabulon::testing::MdbToolsAvailable()) GTEST_SKIP() << "mdbtools is not installed";
  const std::string clone = (folder / "Shop.mdb").string();
  EXPECT_EQ(tabulon::testing::MdbToolsTables(clone).value(),
            (std::vector<std::string>{"customers", "old orders", "orders"}));
  const Result<tabulon::testing::ReaderTable> old_orders = tabulon::testing::MdbToolsExport(clone, "old orders");
  ASSERT_TRUE(old_orders.ok()) << old_orders.status().ToString();
  EXPECT_EQ(old_orders->rows, (std::vector<std::vector<tabulon::testing::ReaderValue>>{{"7", "1"}}));
  EXPECT_EQ(tabulon::testing::MdbToolsQueries(clone).value(), std::vector<std::string>{"v_big"});
  const Result<tabulon::testing::ReaderTable> orders = tabulon::testing::MdbToolsExport(clone, "orders");
  ASSERT_TRUE(orders.ok()) << orders.status().ToString();
  ASSERT_EQ(orders->rows.size(), 2u);
  EXPECT_EQ(orders->rows[0], (std::vector<tabulon::testing::ReaderValue>{"1", "1", "12.50", "x"}));
  EXPECT_EQ(orders->rows[1], (std::vector<tabulon::testing::ReaderValue>{"2", "1", "3.00", std::nullopt}));
  if (!HasFailure()) fs::remove_all(folder);
}

}  // namespace
}  // namespace tabulon::converters
