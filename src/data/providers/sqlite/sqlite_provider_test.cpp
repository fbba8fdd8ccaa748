// What the SQLite provider alone does (the cases every provider shares are in
// tests/data/provider_conformance_test.cpp): refusing what is not a database, read-only opens,
// column types from the declarations, its catalogue's details and the tree built from it.
#include "data/providers/sqlite/sqlite_provider.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/db_connection.h"
#include "workspace/db_tree.h"
#include "data/error_text.h"
#include "data/providers/sqlite/sqlite_types.h"
#include "data/schema_rowset.h"
#include "data/statement.h"
#include "workspace/statement_output.h"
#include "tests/support/provider_helpers.h"

namespace tabulon::data {
using namespace workspace;
namespace {

namespace fs = std::filesystem;

class SqliteProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tabulon_sqlite_provider_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    path_ = (dir_ / "shop.sqlite3").string();
  }
  void TearDown() override {
    CloseConnection(connection_);
    fs::remove_all(dir_);
  }

  void Build(const std::string& sql) { testing::BuildSqliteFile(path_, sql); }

  Hresult Connect(const std::string& path) { return testing::OpenProvider(connection_, kSqliteProviderName, path); }

  fs::path dir_;
  std::string path_;
  DbConnection connection_;
};

TEST_F(SqliteProviderTest, RefusesWhatIsNotADatabaseAndNeverCreatesAFile) {
  EXPECT_EQ(Connect(""), E_INVALIDARG);
  const std::string missing = (dir_ / "missing.db").string();
  EXPECT_EQ(Connect(missing), E_FAIL);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(Connect(dir_.string()), E_FAIL);
  EXPECT_EQ(ErrorDescription(connection_), "'" + dir_.string() + "' is a folder, not a database file.");
  const std::string text = (dir_ / "notes.txt").string();
  std::ofstream(text) << "these are not the pages of a database, but they are long enough to look at them\n";
  EXPECT_EQ(Connect(text), E_FAIL);
  EXPECT_EQ(ErrorDescription(connection_), "'" + text + "' is not a SQLite database file.");
  EXPECT_EQ(connection_.session, nullptr);

  // Opened read-only: a write is refused and the file stays as it was.
  Build("create table t(a integer); insert into t values (1);");
  ASSERT_EQ(Connect(path_), S_OK);
  EXPECT_FALSE(ExecuteStatement(nullptr, connection_.session.get(), "insert into t values (2)", 0));
  EXPECT_EQ(testing::QueryTexts(connection_.session.get(), "select count(*) from t"),
            (std::vector<std::vector<std::string>>{{"1"}}));
}

TEST_F(SqliteProviderTest, RowsComeAsTextWithTypesFromTheDeclaration) {
  Build(
      "create table v(i integer, b boolean, r real, d decimal(10,2), n nvarchar(40), t text, bl blob,"
      " dt datetime, u, big bigint);"
      "insert into v values (-9007199254740993, 1, 0.1, 12.5, 'Grüße ''x''', 'long', x'00ff10',"
      " '2024-01-31 13:45:10.250', 7.25, 9223372036854775807);"
      "insert into v values (null, null, 1e300, null, null, '', x'', null, 'text', null);");
  ASSERT_EQ(Connect(path_), S_OK);
  TextRowset rows;
  ASSERT_EQ(OpenTextRowset(connection_.session.get(), "select *, i + 1 as expr from v", &rows), S_OK);
  std::vector<DbType> types;
  for (const ColumnInfo& c : rows.columns()) types.push_back(c.type);
  EXPECT_EQ(types, (std::vector<DbType>{DBTYPE_I4, DBTYPE_BOOL, DBTYPE_R8, DBTYPE_NUMERIC, DBTYPE_WSTR, DBTYPE_WSTR,
                                        DBTYPE_BYTES, DBTYPE_DBTIMESTAMP, DBTYPE_R8, DBTYPE_I8, DBTYPE_I8}));
  EXPECT_EQ(rows.columns()[4].size, 40u);
  EXPECT_NE(rows.columns()[5].flags & DBCOLUMNFLAGS_ISLONG, 0u);
  EXPECT_EQ(rows.columns()[3].precision, 10);
  EXPECT_EQ(rows.columns()[3].scale, 2);
  EXPECT_EQ(rows.columns()[10].name, "expr");

  ASSERT_EQ(MoveNextRow(rows), S_OK);
  const RowBuffer& b = rows.buffer();
  EXPECT_EQ(b.Value(1), "-9007199254740993");
  EXPECT_EQ(b.Value(3), "0.1");
  EXPECT_EQ(b.Value(4), "12.5");
  EXPECT_EQ(b.Value(5), "Grüße 'x'");
  EXPECT_EQ(b.Value(7), "00FF10");
  EXPECT_EQ(b.Value(8), "2024-01-31 13:45:10.250");
  EXPECT_EQ(b.Value(10), "9223372036854775807");
  EXPECT_EQ(b.Value(11), "-9007199254740992");
  ASSERT_EQ(MoveNextRow(rows), S_OK);
  EXPECT_TRUE(b.IsNull(1));
  EXPECT_EQ(b.Value(3), "1e+300");
  EXPECT_EQ(b.Value(7), "");  // an empty blob is no NULL
  EXPECT_FALSE(b.IsNull(7));
  EXPECT_EQ(b.Value(9), "text");
  EXPECT_EQ(MoveNextRow(rows), DB_S_ENDOFROWSET);

  // Several statements: the rows are the last one's; a statement without rows has no rowset.
  ASSERT_EQ(OpenTextRowset(connection_.session.get(), "select 1; select 'two' as w; -- the last\n", &rows), S_OK);
  EXPECT_EQ(testing::RowTexts(rows), (std::vector<std::vector<std::string>>{{"two"}}));
  EXPECT_EQ(rows.columns()[0].type, DBTYPE_WSTR);
  ASSERT_EQ(OpenTextRowset(connection_.session.get(), "pragma foreign_keys = 0", &rows), S_OK);
  EXPECT_FALSE(rows.has_rowset());
}

TEST_F(SqliteProviderTest, CatalogueAndTree) {
  Build(
      "create table \"Order Lines\"(id integer primary key autoincrement, qty smallint not null default 1);"
      "create table customers(id int, name varchar(30));"
      "create view v_names as select name from customers;"
      "insert into \"Order Lines\"(qty) values (3);");
  ASSERT_EQ(Connect(path_), S_OK);

  // Catalogue, name and type of every table; sqlite_sequence (made by AUTOINCREMENT) is the
  // engine's own table.
  Session* session = connection_.session.get();
  std::vector<std::string> listed;
  for (const auto& row : testing::SchemaTexts(session, SchemaRowsetKind::kTables, {})) {
    listed.push_back(row[schema::kTableCatalog - 1] + "|" + row[schema::kTableName - 1] + "|" +
                     row[schema::kTableType - 1]);
  }
  EXPECT_EQ(listed, (std::vector<std::string>{"shop|customers|TABLE", "shop|Order Lines|TABLE", "shop|v_names|VIEW"}));
  EXPECT_TRUE(testing::SchemaTexts(session, SchemaRowsetKind::kTables, {"other"}).empty());

  // Name, type, nullable and default of each column.
  std::vector<std::string> columns;
  for (const auto& row :
       testing::SchemaTexts(session, SchemaRowsetKind::kColumns, {std::nullopt, std::nullopt, "Order Lines"})) {
    columns.push_back(row[schema::kColumnName - 1] + " " + row[schema::kDataType - 1] + " " +
                      row[schema::kIsNullable - 1] + " " + row[schema::kColumnDefault - 1]);
  }
  EXPECT_EQ(columns, (std::vector<std::string>{"id 3 False <NULL>", "qty 2 False 1"}));

  // The tree: the file's path as root, its stem as the one database, every table (a name with
  // a blank too: it is migrated like any other, so it can be chosen alone).
  DbTreeView view;
  view.connection = &connection_;
  view.RefreshTree();
  EXPECT_EQ(view.tree.ChildTexts(kNoItem), std::vector<std::string>{path_});
  EXPECT_EQ(view.tree.ChildTexts(view.root_item), std::vector<std::string>{"shop"});
  ASSERT_NE(view.current_database_item, kNoItem);
  EXPECT_EQ(view.tree.ChildTexts(view.tables_folder), (std::vector<std::string>{"customers", "Order Lines"}));
  EXPECT_EQ(view.tree.ChildTexts(view.views_folder), std::vector<std::string>{"v_names"});
}

TEST(SqliteTypesTest, DeclaredTypesAndNames) {
  const SqliteDeclaredType t = ParseSqliteDeclaredType("  unsigned   big int ( 12 , 3 ) ");
  EXPECT_EQ(t.words, "UNSIGNED BIG INT");
  EXPECT_EQ(t.args, (std::vector<std::int64_t>{12, 3}));
  EXPECT_EQ(ClassifySqliteType(t), SqliteTypeKind::kBigInt);
  EXPECT_EQ(ClassifySqliteType(ParseSqliteDeclaredType("character varying(20)")), SqliteTypeKind::kText);
  EXPECT_EQ(ClassifySqliteType(ParseSqliteDeclaredType("mediumint")), SqliteTypeKind::kInt);
  EXPECT_EQ(ClassifySqliteType(ParseSqliteDeclaredType("double precision")), SqliteTypeKind::kReal);
  EXPECT_EQ(ClassifySqliteType(ParseSqliteDeclaredType("uuid")), SqliteTypeKind::kOther);
  EXPECT_EQ(SqliteRealText(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(SqliteCatalogName("/data/shop.v2.sqlite3"), "shop.v2");
  EXPECT_EQ(SqliteCatalogName(".hidden"), ".hidden");
}

}  // namespace
}  // namespace tabulon::data
