// tabulon-cli migrate run as a user runs it, on SQLite files the test builds: every selector
// into new files that both independent readers read back, what the JSON report says of names
// with blanks, refused rows and views Access cannot hold, the exit codes and leftovers of bad
// input, and a double Ctrl-C. A whole database, value by value, is the end-to-end test of
// tests/examples/sample_database_test.cpp.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "jet/database.h"
#include "jet_readers.h"
#include "jet_test_files.h"

extern char** environ;

namespace tabulon {
namespace {

namespace fs = std::filesystem;
using testing::ReaderValue;

constexpr char kShop[] = R"sql(
create table customers(id integer primary key, name varchar(20) not null unique, joined date);
create table orders(id integer primary key, customer integer references customers(id), total decimal(8,2), note);
create view v_big as select id, total from orders where total > 10;
insert into customers values (1, 'Ann', '2024-01-02'), (2, 'Bob''s', null);
insert into orders values (1, 1, 12.5, 'x'), (2, 1, 3, null), (3, 2, 99, 'l"ast');
)sql";

struct CliRun : testing::CommandRun {  // `out` is stdout only
  std::string err;
};

class MigrateCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new fs::path(testing::ScratchFile("cli_migrate", std::to_string(::getpid())));
    fs::remove_all(*folder_);
    fs::create_directories(*folder_ / "cfg");
    MakeSqlite("shop.sqlite", kShop);
  }
  static void TearDownTestSuite() {
    fs::remove_all(*folder_);
    delete folder_;
  }

  static void MakeSqlite(const std::string& name, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((*folder_ / name).c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }

  static CliRun Cli(const std::string& arguments) {
    const std::string err = (*folder_ / "stderr.txt").string();
    testing::CommandRun run = testing::RunCommand("cd '" + folder_->string() + "' && " + TABULON_CLI + " migrate " +
                                                  arguments + " --config cfg/tabulon.cfg 2>'" + err + "'");
    return {{run.exit_code, std::move(run.out)}, testing::ReadTextFile(err)};
  }

  static nlohmann::json Report(const std::string& name) {
    return nlohmann::json::parse(testing::ReadTextFile(*folder_ / name), nullptr, false);
  }

  static std::string Path(const std::string& name) { return (*folder_ / name).string(); }

  // The rows of `table` as both readers give them; they must agree with each other.
  static std::vector<std::vector<ReaderValue>> Rows(const std::string& file, const std::string& table) {
    auto exported = testing::MdbToolsExport(Path(file), table);
    auto read = testing::ReadWithMdbReader(Path(file));
    EXPECT_TRUE(exported.ok() && read.ok()) << file;
    if (!exported.ok() || !read.ok()) return {};
    for (const testing::ReaderTable& t : *read) {
      if (t.name == table) {
        EXPECT_EQ(t.rows.size(), exported->rows.size()) << table;
        return t.rows;
      }
    }
    ADD_FAILURE() << "mdb-reader does not list " << table;
    return {};
  }

  static fs::path* folder_;
};

fs::path* MigrateCli::folder_ = nullptr;

// What once went missing: a table whose name holds a blank is migrated (key, rows, relationship)
// and reported like any other; a row that cannot be stored and a view Access cannot hold are
// each said once, and the report and the exit code count them as failures.
TEST_F(MigrateCli, BlankNamesRefusedRowsAndUnsupportedViewsAreReported) {
  if (!testing::MdbToolsAvailable() || !testing::MdbReaderAvailable()) GTEST_SKIP() << "the readers are not installed";
  MakeSqlite("odd.sqlite",
             "create table customers(id integer primary key, name varchar(20), joined date);"
             "create table \"old orders\"(id integer primary key, customer integer references customers(id));"
             "create view v_text as select name from customers limit 1 offset 1;"
             "insert into customers values (1, 'Ann', '2024-01-02'), (2, 'Bob', 'soon');"
             "insert into \"old orders\" values (7, 1);"
             "create table \"q1.totals!\"(id integer primary key, \"unit.price\" real, \"" +
                 std::string(70, 'x') +
                 "\" text);"
                 "insert into \"q1.totals!\" values (5, 1.5, 'long'), (-3, null, null);"
                 // Names that Access would take as one: the one it takes as it is keeps it.
                 "create table \"a.b\"(id integer primary key, \"x.y\" text, X_Y text);"
                 "create table a_b(id integer primary key, ref integer references \"a.b\"(id));"
                 "insert into \"a.b\" values (1, 'dot', 'underscore'); insert into a_b values (2, 1);");
  const CliRun run = Cli("--source sqlite:odd.sqlite --database odd --target odd.mdb --report odd.json");
  EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
  EXPECT_EQ(run.out.find("\033["), std::string::npos) << "no colours on a pipe";
  EXPECT_NE(run.out.find("[customers] Record 2 was not inserted: column [joined]: 'soon' cannot be read as a date"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(Rows("odd.mdb", "old orders"), (std::vector<std::vector<ReaderValue>>{{"7", "1"}}));
  // Names Access refuses are renamed, the rowid key is an AutoNumber, and every row arrives.
  EXPECT_EQ(Rows("odd.mdb", "q1_totals_"),
            (std::vector<std::vector<ReaderValue>>{{"-3", std::nullopt, std::nullopt}, {"5", "1.5", "long"}}));
  EXPECT_EQ(testing::MdbToolsQueries(Path("odd.mdb")).value(), std::vector<std::string>{});
  EXPECT_EQ(Rows("odd.mdb", "a_b"), (std::vector<std::vector<ReaderValue>>{{"2", "1"}}));
  EXPECT_EQ(Rows("odd.mdb", "a_b~90F608"), (std::vector<std::vector<ReaderValue>>{{"1", "dot", "underscore"}}));

  const nlohmann::json report = Report("odd.json");
  ASSERT_FALSE(report.is_discarded());
  // What it says of every table, column, rename and object: golden/odd_report.json.
  std::string shown = report.dump(2) + "\n";
  for (size_t at; (at = shown.find(folder_->string())) != std::string::npos;)
    shown.replace(at, folder_->string().size(), "<folder>");
  testing::ExpectGoldenFile("tests/cli/golden/odd_report.json", shown);
}

// Every index arrives with its column order and directions, or is left out with its reason;
// relationship rules arrive and the engine keeps them; a key whose rows have no parent is kept
// without enforcement, with their count; the file passes the checks and both readers.
TEST_F(MigrateCli, IndexesAndRelationshipRulesArriveOrAreReported) {
  if (!testing::MdbToolsAvailable() || !testing::MdbReaderAvailable()) GTEST_SKIP() << "the readers are not installed";
  MakeSqlite("rules.sqlite",
             "create table parent(id integer primary key, code varchar(10) unique, notes text);"
             "create table child(id integer primary key, parent integer references parent(id) on delete cascade"
             " on update cascade, grade integer, memo text, other integer references parent(id) on delete set default);"
             "create table tag(id integer primary key, code varchar(10) references parent(code) on delete set null);"
             "create table loose(id integer primary key, parent integer references parent(id));"
             "create index ix_grade on child(grade desc, id); create index ix_same on child(grade desc, id);"
             "create index ix_partial on child(grade) where grade > 1; create index ix_expr on child(grade + 1);"
             "create index ix_memo on child(memo); create index ix_pair on tag(code, id);"
             "insert into parent values (1, 'a', null), (2, 'b', null);"
             "insert into child values (10, 1, 1, 'm', null), (11, 2, 2, null, null);"
             "insert into tag values (30, 'a'); insert into loose values (20, 1), (21, 99), (22, 98);");
  const CliRun run = Cli("--source sqlite:rules.sqlite --database rules --target rules.mdb --report rules.json");
  EXPECT_EQ(run.exit_code, 1) << "indexes were left out\n" << run.out << run.err;
  EXPECT_NE(run.out.find("Created without enforcement: relationship 'FK_loose_parent': 2 rows of 'loose' refer to "
                         "no row of 'parent'"),
            std::string::npos)
      << run.out;
  nlohmann::json objects = Report("rules.json")["objects"];
  std::string shown = objects.dump(2) + "\n";
  testing::ExpectGoldenFile("tests/cli/golden/rules_objects.json", shown);

  EXPECT_EQ(testing::RunCommand(std::string(TABULON_CLI) + " mdb check '" + Path("rules.mdb") + "'").exit_code, 0);
  const Result<std::string> schema = testing::MdbToolsSchema(Path("rules.mdb"), "postgres");
  ASSERT_TRUE(schema.ok());
  for (const char* expected : {"CREATE INDEX \"child_ix_grade_idx\" ON \"child\" (\"grade\" DESC, \"id\");",
                               "ON UPDATE CASCADE ON DELETE CASCADE", "-- Relationship from \"loose\""}) {
    EXPECT_NE(schema->find(expected), std::string::npos) << expected << "\n" << *schema;
  }
  // mdb-schema prints no SET NULL rule: the flags (cascade to Null 0x2000, not enforced 0x2) as stored.
  const Result<testing::ReaderTable> relationships = testing::MdbToolsExport(Path("rules.mdb"), "MSysRelationships");
  ASSERT_TRUE(relationships.ok());
  std::vector<std::string> flags;
  for (const auto& row : relationships->rows) flags.push_back(row[0].value_or("") + " " + row[1].value_or(""));
  std::sort(flags.begin(), flags.end());
  EXPECT_EQ(flags, (std::vector<std::string>{"FK_child_parent 4352", "FK_child_parent_2 0", "FK_loose_parent 2",
                                             "FK_tag_parent 8192"}));
  // The rules hold in the engine: deleting the parents takes their children, empties the tag's
  // reference, and leaves the unenforced table alone.
  EXPECT_EQ(
      testing::RunCommand(std::string(TABULON_CLI) + " sql '" + Path("rules.mdb") + "' 'delete from parent'").exit_code,
      0);
  EXPECT_EQ(Rows("rules.mdb", "child"), (std::vector<std::vector<ReaderValue>>{}));
  EXPECT_EQ(Rows("rules.mdb", "tag"), (std::vector<std::vector<ReaderValue>>{{"30", std::nullopt}}));
  EXPECT_EQ(Rows("rules.mdb", "loose").size(), 3u);
}

// Views come after the views they read (SQLite lists them by name: v_a before v_b), views that
// read each other are named; CHECK constraints arrive as validation rules of the columns and the
// table, and one Access SQL cannot write is reported.
TEST_F(MigrateCli, ViewsFollowWhatTheyReadAndChecksBecomeValidationRules) {
  if (!testing::MdbToolsAvailable()) GTEST_SKIP() << "mdbtools is not installed";
  MakeSqlite(
      "checks.sqlite",
      "create table item(id integer primary key, qty integer check (qty > 0),"
      " price real constraint ck_price check (price >= 0 and price <= 1000), code text check (code in ('a','b')),"
      " name text check (name like 'A%') check (name is not null), starts date, ends date,"
      " constraint ck_span check (starts <= ends), check (abs(qty) < 100), constraint ck_bits check (qty & 1 = 0));"
      "insert into item values (1, 2, 5, 'a', 'Ab', '2024-01-01', '2024-02-01');"
      "create view v_a as select id from v_b where id > 0; create view v_b as select id, qty from item;"
      "create view v_c as select id from v_d; create view v_d as select id from v_c;");
  const CliRun run = Cli("--source sqlite:checks.sqlite --database checks --target checks.mdb --report checks.json");
  EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
  EXPECT_NE(run.out.find("Views [v_c], [v_d] refer to each other; created in catalogue order"), std::string::npos)
      << run.out;
  std::map<std::string, std::string> outcomes;
  const nlohmann::json report = Report("checks.json");
  for (const auto& object : report["objects"]) {
    outcomes[object.value("name", "") + " " + object.value("kind", "")] = object.value("outcome", "");
    if (object.value("kind", "") == "check constraint" && object.value("outcome", "") != "created") {
      EXPECT_EQ(object.value("reason", ""),
                "CHECK constraint ck_bits of [item] not kept: the operator & (Access SQL has no bitwise operators) "
                "at line 1, column 5");
    }
  }
  EXPECT_EQ(outcomes["v_a view"], "created");
  EXPECT_EQ(outcomes["v_b view"], "created");
  const Result<std::string> properties = testing::MdbToolsProperties(Path("checks.mdb"), "item");
  ASSERT_TRUE(properties.ok());
  for (const char* expected : {
           "ValidationRule: ([starts] <= [ends]) And (Abs([qty]) < 100)\n\tValidationText: CHECK constraints of [item]",
           "ValidationRule: >0\n\tValidationText: CHECK constraint on [qty]",
           "ValidationRule: >=0 And <=1000\n\tValidationText: CHECK constraint ck_price",
           "ValidationRule: In ('a', 'b')",
           "ValidationRule: (ALike 'A%') And (Is Not Null)\n\tValidationText: CHECK constraints on [name]",
       }) {
    EXPECT_NE(properties->find(expected), std::string::npos) << expected << "\n" << *properties;
  }
  EXPECT_EQ(testing::RunCommand(std::string(TABULON_CLI) + " mdb check '" + Path("checks.mdb") + "'").exit_code, 0);
}

// translate prints the Access SQL of each view of a script and names, with its place in the
// file, each one it cannot translate.
TEST_F(MigrateCli, TranslatePrintsAccessSqlAndNamesWhatItCannot) {
  std::ofstream(Path("views.sql"))
      << "SET ANSI_NULLS ON\nGO\nCREATE VIEW dbo.v1 AS SELECT ISNULL(a, 0) AS a FROM dbo.t\n"
         "GO\n-- the second\nCREATE VIEW dbo.v2 AS\n  SELECT a, ROW_NUMBER() OVER (ORDER BY a) FROM t\n";
  testing::CommandRun run =
      testing::RunCommand(std::string(TABULON_CLI) + " translate --from tsql '" + Path("views.sql") + "' 2>&1");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out,
            "CREATE VIEW [v1] AS\nSELECT IIf([a] Is Null, 0, [a]) AS [a]\nFROM [t];\n\n"
            "View [v2] not translated: a window function (OVER) at line 7, column 26\n");
  run = testing::RunCommand("printf 'create view s as select a || b from t;' | " + std::string(TABULON_CLI) +
                            " translate --from sqlite -");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "CREATE VIEW [s] AS\nSELECT IIf([a] Is Null Or [b] Is Null, Null, [a] & [b])\nFROM [t];\n\n");
}

TEST_F(MigrateCli, SelectorsConditionsAndQuiet) {
  if (!testing::MdbToolsAvailable() || !testing::MdbReaderAvailable()) GTEST_SKIP() << "the readers are not installed";
  // Tables first, then the view into the same file (it needs the tables), then one table with a
  // condition into a file of its own; all quiet.
  CliRun run = Cli("--source sqlite:shop.sqlite --database SHOP --tables --target sel.mdb --quiet");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(testing::MdbToolsQueries(Path("sel.mdb")).value(), std::vector<std::string>{});
  run = Cli("--source sqlite:shop.sqlite --database shop --view v_big --target sel.mdb --quiet");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(testing::MdbToolsQueries(Path("sel.mdb")).value(), std::vector<std::string>{"v_big"});
  run = Cli("--source sqlite:shop.sqlite --database shop --views --target sel.mdb --quiet --report views.json");
  EXPECT_EQ(run.exit_code, 1) << "the view exists already";
  EXPECT_EQ(Report("views.json")["objects"][0]["outcome"], "failed");

  run = Cli("--source sqlite:shop.sqlite --database shop --table orders --where 'orders=total > 10' --target one.mdb");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(testing::MdbToolsTables(Path("one.mdb")).value(), std::vector<std::string>{"orders"});
  EXPECT_EQ(Rows("one.mdb", "orders").size(), 2u);

  // The target gives up a unique index whose key it cannot sort (Greek letters): every row
  // arrives, and the lost index makes the run fail in its report and exit code.
  MakeSqlite("words.sqlite",
             "create table words(id integer primary key, word varchar(20) unique);"
             "insert into words values (1, 'abc'), (2, '\xCE\xBC\xE1\xBF\x86\xCE\xBD\xCE\xB9\xCE\xBD');");
  run = Cli("--source sqlite:words.sqlite --database words --tables --target words.mdb --quiet --report words.json");
  EXPECT_EQ(run.exit_code, 1) << run.err;
  EXPECT_EQ(Rows("words.mdb", "words").size(), 2u);
  const nlohmann::json words = Report("words.json")["objects"];
  EXPECT_TRUE(std::any_of(words.begin(), words.end(), [](const nlohmann::json& object) {
    return object["kind"] == "index" && object["outcome"] == "failed" &&
           object["reason"].get<std::string>().find("dropped") != std::string::npos;
  })) << words.dump();

  run = Cli("--source sqlite:shop.sqlite --database shop --clone clones --quiet");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(Rows("clones/shop.mdb", "orders").size(), 3u);
  run = Cli("--source sqlite:shop.sqlite --database shop --clone clones --quiet");
  EXPECT_EQ(run.exit_code, 1) << "a clone never overwrites a file";
  EXPECT_NE(run.err.find("exists already"), std::string::npos) << run.err;
}

// --plan writes nothing and says what the migration will do; a migration whose file would pass
// 2 GB (here: an existing file already that large) stops before it writes and leaves it alone.
TEST_F(MigrateCli, APlanWritesNothingAndTheCeilingStopsBeforeTheFirstRow) {
  CliRun run = Cli(
      "--source sqlite:shop.sqlite --database shop --target plan.mdb --plan --where 'orders=total > 10' "
      "--report plan.json");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_FALSE(fs::exists(Path("plan.mdb")));
  for (const char* line : {"TABLE [customers]: 2 rows, about ", "TABLE [orders]: 2 rows where total > 10, about ",
                           "  column [id] INTEGER -> COUNTER (AutoNumber): AutoNumber from the rowid key",
                           "  column [total] decimal(8,2) -> Numeric(8,2)", "  primary key: created: ",
                           "  relationship: created: ", "VIEW [v_big]: translated", "Estimated size of the file: "}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
  }
  const nlohmann::json report = Report("plan.json");
  EXPECT_EQ(report["status"], "planned");
  EXPECT_EQ(report["file"], "none");
  EXPECT_EQ(report["plan"]["tables"][1]["name"], "orders");
  EXPECT_EQ(report["plan"]["tables"][1]["rows"], 2);
  EXPECT_EQ(report["plan"]["tables"][1]["condition"], "total > 10");
  EXPECT_GT(report["plan"]["estimated_bytes"].get<long long>(), 0);

  // An existing file whose size leaves no room (grown sparse: nothing reads it before the check).
  const std::string full = Path("full.mdb");
  std::ofstream(full, std::ios::binary) << "x";
  fs::resize_file(full, 2100LL * 1024 * 1024);
  const fs::file_time_type stamp = fs::last_write_time(full);
  run = Cli("--source sqlite:shop.sqlite --database shop --target full.mdb --report full.json");
  EXPECT_EQ(run.exit_code, 1) << run.err;
  EXPECT_NE(run.err.find("passes the 2 GB an Access file can hold; nothing was written. Largest tables: ["),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("--where TABLE=CONDITION"), std::string::npos) << run.err;
  EXPECT_EQ(fs::file_size(full), 2100ULL * 1024 * 1024);
  EXPECT_EQ(fs::last_write_time(full), stamp);
  EXPECT_EQ(Report("full.json")["status"], "failure");
  EXPECT_EQ(Report("full.json")["file"], "kept");
  fs::remove(full);
}

TEST_F(MigrateCli, BadInputFailsClearlyAndLeavesNoFileLookingComplete) {
  std::ofstream(Path("text.sqlite")) << "not a database\n";
  std::ofstream(Path("blocker")) << "a file where a folder should be\n";
  std::ofstream(Path("bad.map")) << "int=Long\nreal=Wide\n";
  const std::string table = testing::ReadTextFile(std::string(TABULON_SOURCE_DIR) + "/tests/cli/data/bad_input.txt");
  ASSERT_NE(table, "");
  std::istringstream cases(table);
  for (std::string line; std::getline(cases, line);) {
    if (line.empty() || line.starts_with("#")) continue;
    const size_t bar1 = line.find(" | "), bar2 = line.find(" | ", bar1 + 3), bar3 = line.find(" | ", bar2 + 3);
    const std::string file = line.substr(bar1 + 3, bar2 - bar1 - 3);
    const CliRun run = Cli(line.substr(bar3 + 3));
    EXPECT_EQ(run.exit_code, std::stoi(line)) << line << "\n" << run.err;
    EXPECT_NE(run.err.find(line.substr(bar2 + 3, bar3 - bar2 - 3)), std::string::npos) << line << "\n" << run.err;
    EXPECT_TRUE(file == "-" || !fs::exists(Path(file))) << line;
  }

  // A bad condition fails its table: exit 1, the report says why, and the file (valid, with
  // the table but no rows) is kept and said to be.
  const CliRun run =
      Cli("--source sqlite:shop.sqlite --database shop --where 'orders=nosuch > 1' --target w.mdb"
          " --report w.json --quiet");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("is kept: it is valid but incomplete"), std::string::npos) << run.err;
  const nlohmann::json report = Report("w.json");
  EXPECT_EQ(report["status"], "failure");
  EXPECT_EQ(report["file"], "kept");
  EXPECT_EQ(report["tables"][1]["name"], "orders");
  EXPECT_NE(report["tables"][1]["error"].get<std::string>().find("nosuch"), std::string::npos) << report.dump();
  EXPECT_EQ(report["tables"][0]["rows_written"], 2);
  auto db = jet::Database::Open(Path("w.mdb"), jet::OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok());
  EXPECT_TRUE((*db)->CheckIntegrity().ok());
}

TEST_F(MigrateCli, ADoubleCtrlCLeavesAValidFile) {
  MakeSqlite("big.sqlite",
             "create table big(id integer primary key, name text, amount real);"
             "with recursive n(i) as (select 1 union all select i + 1 from n where i < 400000)"
             " insert into big select i, 'row ' || i, i * 1.5 from n;");
  const std::string cli = TABULON_CLI;
  std::vector<std::string> arguments = {cli,          "migrate", "--source", "sqlite:" + Path("big.sqlite"),
                                        "--database", "big"};
  for (const char* more : {"--target", "big.mdb", "--quiet", "--report", "big.json", "--config", "cfg/tabulon.cfg"})
    arguments.push_back(more[0] == '-' ? more : Path(more));
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, cli.c_str(), nullptr, nullptr, argv.data(), environ), 0);
  // Both while rows are being copied: the second comes before the first one's stop is done. Rows
  // have reached the file once it passes 256 KiB. A journal is no such sign: one also lives for
  // the moment the empty file is made, and on a busy machine the table may come more than half a
  // second later; stopped before it, the valid file kept has no table for the readers to export.
  for (int waited = 0; waited < 600; ++waited) {
    std::error_code error;
    const uintmax_t size = fs::file_size(Path("big.mdb"), error);
    if (!error && size > 256 * 1024) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(Report("big.json")["status"], "stopped");

  EXPECT_FALSE(fs::exists(Path("big.mdb-journal")));
  auto db = jet::Database::Open(Path("big.mdb"), jet::OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  EXPECT_TRUE((*db)->CheckIntegrity().ok());
  if (!testing::MdbToolsAvailable() || !testing::MdbReaderAvailable()) GTEST_SKIP() << "the readers are not installed";
  const std::vector<std::vector<ReaderValue>> rows = Rows("big.mdb", "big");
  EXPECT_LT(rows.size(), 400000u);
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i][0] != std::to_string(i + 1)) {
      ADD_FAILURE() << "row " << i << " reads " << rows[i][0].value_or("NULL");
      break;
    }
  }
}

// tabulon-cli verify, and migrate --verify: an untouched migration compares equal; each kind of
// difference put into the file afterwards (through the engine's SQL) is named with its key, a
// row of a key-less table by all its values.
TEST_F(MigrateCli, VerifyNamesEachDifferenceWithItsKey) {
  const std::string body(3000, 'x');
  MakeSqlite("check.sqlite",
             "create table item(id integer primary key, name text, note text, price money, seen datetime, body text);"
             "create table loose(tag text, qty integer);"
             "insert into item values (1, 'Ann', 'a', 1.5, '2024-01-02 10:00:00', null), (2, 'Bob', '', 2, null, null),"
             " (3, 'Cy', null, 3, null, null), (4, 'Di', null, 12.3456, null, null),"
             " (5, 'Ed', null, 0, '2024-01-02 10:00:00.1234', null), (6, 'Flo', null, 0, null, '" +
                 body +
                 "');"
                 "insert into loose values ('a', 1), ('b', 2), ('b', 2), (null, null);");
  const auto verify = [](const std::string& arguments) {
    return testing::RunCommand("cd '" + folder_->string() + "' && " + TABULON_CLI + " verify " + arguments +
                               " --config cfg/tabulon.cfg 2>&1");
  };
  CliRun run = Cli("--source sqlite:check.sqlite --database check --target check.mdb --verify --report check.json");
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("[item] equal (6 rows; 1 inexact)\n[loose] equal (4 rows)\n"), std::string::npos) << run.out;
  EXPECT_EQ(Report("check.json")["verified"], true);
  run =
      Cli("--source sqlite:check.sqlite --database check --table loose --where \"loose=tag = 'b'\" --target part.mdb "
          "--verify --quiet");
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_EQ(run.out, "[loose] equal (2 rows)\n");

  const std::string sql = std::string(TABULON_CLI) + " sql '" + Path("check.mdb") + "'";
  for (const std::string& statement : std::vector<std::string>{
           "update item set name = 'Zed' where id = 1", "delete from item where id = 2",
           "insert into item (id, name) values (9, 'New')", "update item set note = '' where id = 3",
           "update item set price = 12.3457 where id = 4", "update item set seen = #2024-01-02 10:00:01# where id = 5",
           "update item set body = '" + body.substr(1) + "' where id = 6", "delete from loose where tag = 'b'",
           "insert into loose values ('c', 3)"}) {
    ASSERT_EQ(testing::RunCommand(sql + " \"" + statement + "\"").exit_code, 0) << statement;
  }
  const testing::CommandRun changed = verify("--source sqlite:check.sqlite --database check --target check.mdb");
  EXPECT_EQ(changed.exit_code, 1);
  const std::string x40(40, 'x');
  EXPECT_EQ(changed.out,
            "[item] 5 differing, 1 missing, 1 extra (6 rows; 1 inexact)\n"
            "  key=(1) column name: source 'Ann' target 'Zed'\n"
            "  missing key=(2)\n"
            "  key=(3) column note: source NULL target ''\n"
            "  key=(4) column price: source 12.3456 target 12.3457\n"
            "  key=(5) column seen: source 2024-01-02 10:00:00.123 target 2024-01-02 10:00:01\n"
            "  key=(6) column body: source '" +
                x40 + "...' (3000 bytes) target '" + x40 +
                "...' (2999 bytes)\n"
                "  extra key=(9)\n"
                "[loose] 0 differing, 2 missing, 1 extra (4 rows)\n"
                "  missing key=('b', 2)\n"
                "  missing key=('b', 2)\n"
                "  extra key=('c', 3)\n");
  const testing::CommandRun unknown =
      verify("--source sqlite:check.sqlite --database check --target part.mdb --table loose --table nosuch");
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_EQ(unknown.out,
            "[loose] 0 differing, 2 missing, 0 extra (4 rows)\n  missing key=('a', 1)\n"
            "  missing key=(NULL, NULL)\n[nosuch] not verified: the file has no table [nosuch]\n");
  EXPECT_EQ(verify("--source sqlite:check.sqlite --database check").exit_code, 2);
}

}  // namespace
}  // namespace tabulon
