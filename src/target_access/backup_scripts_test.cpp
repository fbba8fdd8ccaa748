// Backup scripts and their restore through the built-in provider: the exact texts of the three
// producers, the statement reader, what the restore reports, and round trips (back up, restore
// into a new file, compare with the backed-up file through the engine and both independent readers)
// for tables with every column type (every fixture file makes the same trip in the CLI tests).
#include "target_access/backup_scripts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "jet_table_compare.h"
#include "jet_test_files.h"
#include "target_access/restore_backup.h"
#include "target_access/test_jet_target.h"

namespace tabulon::target_access {
namespace {

namespace fs = std::filesystem;
using Target = test_util::JetTarget;

fs::path Scratch(const std::string& name) { return testing::ScratchFile("backup_scripts", name); }

// The scripts' texts, each under a title, as testdata/backup_scripts.txt holds them.
std::string Titled(const std::string& title, const std::string& text) { return "## " + title + "\n" + text + "\n"; }

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A session that hides the VIEWS schema rowset, as providers without one do.
class NoViewsSession : public data::Session {
 public:
  explicit NoViewsSession(data::Session& inner) : inner_(inner) {}
  std::vector<std::string> ErrorRecords() const override { return inner_.ErrorRecords(); }
  data::Hresult CreateCommand(std::unique_ptr<data::Command>* command) override {
    return inner_.CreateCommand(command);
  }
  data::Hresult OpenSchemaRowset(data::SchemaRowsetKind kind, const data::SchemaRestrictions& restrictions,
                                 std::unique_ptr<data::Rowset>* rowset) override {
    if (kind == data::SchemaRowsetKind::kViews) return data::E_NOTIMPL;
    return inner_.OpenSchemaRowset(kind, restrictions, rowset);
  }

 private:
  data::Session& inner_;
};

// The texts of the table, data and view scripts are in testdata/backup_scripts.txt
// (TABULON_UPDATE_GOLDEN=1 rewrites it): quotes doubled, NULL as NULL, binary as 0x..., dates as
// #...#, line breaks kept inside the quotes; a view's whole query (aliases, the join, grouping and
// order), and without the VIEWS rowset the view rebuilt from MSysQueries.
TEST(BackupScripts, TableDataAndViewScripts) {
  Target t(Scratch("texts.mdb"));
  ASSERT_TRUE(t.opened);
  for (const char* sql :
       {"create table `Order Lines` (Id COUNTER, Name VARCHAR(20) DEFAULT 'n/a', Qty SHORT NOT NULL DEFAULT 0, "
        "Price CURRENCY, Amount DECIMAL(10,3), Ratio DOUBLE, Small SINGLE, Due DATETIME DEFAULT Now(), Done BIT, "
        "Tag GUID, Raw VARBINARY(8), Notes LONGTEXT)",
        "insert into `Order Lines` values (1, 'it''s; a\r\n\"test\"', 3, 12.5, 1.125, 0.1, 1.5, "
        "#2024-02-29 13:45:10.250#, TRUE, '{6F9619FF-8B86-D011-B42D-00C04FC964FF}', 0x00FF10, 'm')",
        "insert into `Order Lines` values (2, NULL, -4, NULL, -0.5, NULL, NULL, NULL, FALSE, NULL, 0x, '')",
        "create table Customers (Id LONG, Name VARCHAR(50))",
        "create table Orders (Id LONG, CustomerId LONG, Total CURRENCY)",
        "create view `Customer Totals` as select c.Name as Who, Sum(o.Total) as Spent "
        "from Customers as c inner join Orders as o on c.Id = o.CustomerId "
        "where o.Total > 0 group by c.Name having Sum(o.Total) > 10 order by c.Name desc",
        "create view Named as select Name as Customer, Id from Customers where Id > 1"}) {
    ASSERT_TRUE(t.Run(sql)) << sql;
  }
  t.Lines();
  const fs::path data_file = Scratch("Order Lines.data");
  NoViewsSession plain(*t.session());
  std::string scripts = Titled("table Order Lines", TableDefinitionScript(t.owner, t.session(), "Order Lines"));
  EXPECT_EQ(TableDataScript(t.owner, t.session(), "Order Lines", data_file.string()), kRowsWritten);
  scripts += Titled("data of Order Lines", testing::ReadTextFile(data_file));
  scripts += Titled("view Customer Totals", ViewDefinitionScript(t.owner, t.session(), "Customer Totals"));
  scripts += Titled("view Named without the VIEWS rowset", ViewDefinitionScript(t.owner, &plain, "Named"));
  testing::ExpectGoldenFile("src/target_access/testdata/backup_scripts.txt", scripts);
  EXPECT_EQ(t.Lines(), std::vector<std::string>{"[Order Lines]       2 records backuped!"});

  // A missing table or view (with and without the VIEWS rowset), a file that cannot be created,
  // no connection.
  const std::string failure = " view :[Microsoft][Microsoft.Jet.OLEDB.4.0] NO PERMISSION!\n";
  EXPECT_EQ(ViewDefinitionScript(t.owner, t.session(), "Nope"), failure);
  EXPECT_EQ(ViewDefinitionScript(t.owner, &plain, "Nope"), failure);
  EXPECT_EQ(t.Lines(), std::vector<std::string>(2, "No view named [Nope]"));
  const std::string missing = TableDataScript(t.owner, t.session(), "Nope", Scratch("Nope.data").string());
  EXPECT_NE(missing.find("Nope"), std::string::npos) << missing;
  EXPECT_FALSE(fs::exists(Scratch("Nope.data")));
  const std::string unwritable =
      TableDataScript(t.owner, t.session(), "Order Lines", (data_file.parent_path() / "no/such/dir.data").string());
  EXPECT_EQ(unwritable.rfind("Cannot write the data file", 0), 0u) << unwritable;
  EXPECT_EQ(t.Lines(), (std::vector<std::string>{missing, unwritable}));
  EXPECT_EQ(TableDefinitionScript(t.owner, nullptr, "x"), kNoConnection);
  EXPECT_EQ(TableDataScript(t.owner, nullptr, "x", data_file.string()), kNoConnection);
  EXPECT_EQ(ViewDefinitionScript(t.owner, nullptr, "x"), kNoConnection);
  EXPECT_EQ(t.Lines(), std::vector<std::string>(3, kNoConnection));

  // Progress every 1000 rows, the closing count, and a stop request after the third row.
  ASSERT_TRUE(t.Run("create table Big (N LONG)"));
  for (int i = 1; i <= 2500; ++i) ASSERT_TRUE(t.Run("insert into Big values (" + std::to_string(i) + ")"));
  t.Lines();
  const fs::path file = Scratch("Big.data");
  EXPECT_EQ(TableDataScript(t.owner, t.session(), "Big", file.string()), kRowsWritten);
  EXPECT_EQ(t.Lines(), (std::vector<std::string>{"[Big] 1000 records backuped!", "[Big] 2000 records backuped!",
                                                 "[Big]    2500 records backuped!"}));
  const std::string all = testing::ReadTextFile(file);
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 2500);
  EXPECT_TRUE(all.ends_with("\ninsert into `Big` values (2500)\n"));

  int rows = 0;
  t.owner.stop_requested = [&] { return ++rows == 3; };
  EXPECT_EQ(TableDataScript(t.owner, t.session(), "Big", file.string()), kRowsWritten);
  EXPECT_EQ(t.Lines(), (std::vector<std::string>{"Data Backup Terminaled!", "[Big]       3 records backuped!"}));
  EXPECT_EQ(testing::ReadTextFile(file),
            "insert into `Big` values (1)\ninsert into `Big` values (2)\ninsert into `Big` values (3)\n");
}

TEST(BackupScripts, StatementReader) {
  std::istringstream data(
      "insert into t values (1,'a;b\n(c','it''s')\n\n"
      "insert into `x;y` values ([p)q], \"d\"\"e\");insert into t values (2)\r\n"
      "insert into t values ('open");
  StatementReader rows(data, true);
  std::vector<std::string> got;
  while (auto s = rows.Next()) got.push_back(*s);
  EXPECT_EQ(got, (std::vector<std::string>{"insert into t values (1,'a;b\n(c','it''s')",
                                           "insert into `x;y` values ([p)q], \"d\"\"e\")", "insert into t values (2)",
                                           "insert into t values ('open"}));
  EXPECT_TRUE(rows.unbalanced());
}

// Tables backed up as the backup flows lay the folder out and restored into a new file, which must
// equal the first (no failure line): every column type (nullable and required, fixed and variable
// binary), NULLs, quotes, line breaks, text beyond Latin-1, long memo and binary values, names
// with blanks and reserved words. Views make the trip in the CLI's and the flows' round trips.
TEST(RestoreBackup, EveryColumnTypeRoundTrips) {
  const fs::path path = Scratch("all_types.mdb"), folder = Scratch("all_types");
  fs::remove_all(folder);
  fs::create_directories(folder / "DATA");
  {
    Target t(path);
    ASSERT_TRUE(t.opened);
    ASSERT_TRUE(
        t.Run("create table `Select` (Id COUNTER, Flag BIT, B1 BYTE, S SHORT NOT NULL DEFAULT 7, L LONG, "
              "F SINGLE, D DOUBLE, C CURRENCY, Dec DECIMAL(28,6), Dt DATETIME, G GUID, T VARCHAR(255), "
              "Bin VARBINARY(255), M LONGTEXT, O LONGBINARY, `Blank Name` VARCHAR(10) NOT NULL DEFAULT 'x''y')"));
    ASSERT_TRUE(
        t.Run("create table `Order Lines` (`Line No` LONG NOT NULL, Item VARCHAR(40) NOT NULL, Qty DOUBLE, "
              "Code BINARY(4) NOT NULL, Note LONGTEXT NOT NULL, Pic LONGBINARY NOT NULL)"));
    std::string memo;  // as an SQL string's inside
    for (int i = 0; i < 2500; ++i) memo += "line " + std::to_string(i) + " it''s \"quoted\";\r\n";
    std::string ole = "0x";
    for (int i = 0; i < 30000; ++i) ole += "0123456789ABCDEF"[i % 16];
    ASSERT_TRUE(
        t.Run("insert into `Select` values (1, TRUE, 255, -32768, -2147483648, 3.4028235e38, "
              "-1.2345678901234567e300, -922337203685477.5808, -1234567890123456789012.345678, "
              "#1899-12-30 00:00:01#, '{00000000-0000-0000-0000-000000000001}', "
              "'Grüße ''quoted'' \"dq\" ; \ttab\r\nline Ωμέγα 漢字 😀 insert into x values (1)', "
              "0x00FF0010, '" +
              memo + "', " + ole + ", '')"));
    ASSERT_TRUE(t.Run("insert into `Select` (Id, Flag, S) values (5, FALSE, 0)"));  // NULL elsewhere
    ASSERT_TRUE(
        t.Run("insert into `Select` values (9, FALSE, 0, 1, 1, 1.1, 0.1, 0.0001, 0.000001, "
              "#1753-01-01 23:59:59.999#, '{6F9619FF-8B86-D011-B42D-00C04FC964FF}', '', 0x, '', 0x, 'z')"));
    ASSERT_TRUE(t.Run("insert into `Order Lines` values (1, 'a', 1.5, 0x01020304, 'n', 0xFF)"));
    ASSERT_TRUE(t.Run("insert into `Order Lines` values (5, 'b', NULL, 0x05, 'm', 0x00)"));
    for (const std::string table : {"Select", "Order Lines"}) {
      const std::string file = MakeSafeFileName(table);
      WriteText(folder / "TABLES" / (file + ".tbl"), TableDefinitionScript(t.owner, t.session(), table));
      EXPECT_EQ(TableDataScript(t.owner, t.session(), table, (folder / "DATA" / (file + ".data")).string()),
                kRowsWritten);
    }
  }
  Target copy(Scratch("all_types_restored.mdb"));
  Result<RestoreResult> result = RestoreBackup(copy.owner, copy.session(), folder.string());
  ASSERT_TRUE(result.ok()) << result.status().message();
  EXPECT_EQ(std::tuple(result->tables_restored, result->rows_restored), std::tuple(2u, 5u));
  for (const workspace::OutputLine& line : copy.pane.Lines()) {
    EXPECT_NE(line.severity, workspace::Severity::kWarning) << line.text;
  }
  copy.Close();
  fs::remove_all(folder);
  EXPECT_EQ(testing::CompareCopiedFile(path.string(), copy.path.string(), {}), std::vector<std::string>{});
}

TEST(RestoreBackup, FailuresAreCountedAndReported) {
  const fs::path folder = Scratch("failing");
  fs::remove_all(folder);
  WriteText(folder / "TABLES" / "Good.tbl", "CREATE TABLE `Good`(\n`N` LONG NULL )");
  WriteText(folder / "TABLES" / "Bad.tbl", "CREATE TABLE `Bad`(\n`N` USERDEFINE NULL )");
  WriteText(folder / "DATA" / "Good.data",
            "insert into `Good` values (1)\ninsert into `Good` values ('x')\ninsert into `Good` values (3)\n");
  WriteText(folder / "DATA" / "Bad.data", "insert into `Bad` values (1)\n");
  WriteText(folder / "VIEWS" / "v.vw", "create view `v` as \nselect N from `Missing`;\n");
  Target t(Scratch("failing.mdb"));
  ASSERT_TRUE(t.opened);
  Result<RestoreResult> result = RestoreBackup(t.owner, t.session(), folder.string());
  ASSERT_TRUE(result.ok());
  const RestoreResult& r = *result;
  EXPECT_EQ(std::tuple(r.tables_restored, r.tables_failed, r.rows_restored, r.rows_failed, r.data_files_skipped,
                       r.views_restored, r.views_failed),
            std::tuple(1u, 1u, 2u, 1u, 1u, 0u, 1u));
  // The provider's texts follow the object on the failure lines.
  std::vector<std::string> lines = t.Lines();
  ASSERT_EQ(lines.size(), 9u);
  for (const size_t i : {1, 4, 8}) lines[i].resize(lines[i].find(' ', lines[i].find(']')));
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "Restore Tables of database [failing]", "Table [Bad]:", "Restore Data of database [failing]",
                "[Bad] records not restored: the table was not restored", "[Good]", "[Good]       2 records restored!",
                "[Good]       1 records failed!", "Restore Views of database [failing]", "View [v]:"}));

  // A stop, and a folder that holds no backup, are in the restore task's flow test.
  EXPECT_EQ(RestoreBackup(t.owner, nullptr, folder.string()).status().code(), ErrorCode::kNoConnection);
}

}  // namespace
}  // namespace tabulon::target_access
