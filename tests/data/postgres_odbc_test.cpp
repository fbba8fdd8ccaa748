// The ODBC provider against a PostgreSQL server on loopback ("PostgreSQL Unicode" driver). CTest
// starts the server once for all cases (fixture data_pg); run alone, the binary starts its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "data/db_connection.h"
#include "data/error_text.h"
#include "workspace/output_pane.h"
#include "workspace/statement_output.h"
#include "data/schema_rowset.h"
#include "data/statement.h"

namespace tabulon::data {
using namespace workspace;
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

// The server of the CTest fixture, or one of our own.
class PostgresServer : public ::testing::Environment {
 public:
  void SetUp() override {
    state_ = TABULON_PG_STATE_DIR;
    if (ReadFile(state_ + "/port").empty() && ReadFile(state_ + "/skip").empty()) {
      state_ = "/tmp/tabulon-pg-state-" + std::to_string(getpid());
      own_ = true;
      const std::string command = std::string("bash '") + TABULON_PG_SCRIPT + "' start '" + state_ + "' >&2";
      if (std::system(command.c_str()) != 0) failed_to_start_ = true;
    }
    port_ = ReadFile(state_ + "/port");
    skip_reason_ = ReadFile(state_ + "/skip");
  }
  void TearDown() override {
    // The driver as registered by Debian writes a communication log per process into /tmp.
    (void)std::system(("rm -f /tmp/psqlodbc_*" + std::to_string(getpid()) + ".log").c_str());
    if (!own_) return;
    const std::string command =
        std::string("bash '") + TABULON_PG_SCRIPT + "' stop '" + state_ + "'; rm -rf '" + state_ + "'";
    (void)std::system(command.c_str());
  }

  static inline std::string port_;
  static inline std::string skip_reason_;
  static inline bool failed_to_start_ = false;

 private:
  std::string state_;
  bool own_ = false;
};

const auto* const kServer = ::testing::AddGlobalTestEnvironment(new PostgresServer);

class PostgresOdbcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PostgresServer::skip_reason_.empty()) GTEST_SKIP() << PostgresServer::skip_reason_;
    ASSERT_FALSE(PostgresServer::failed_to_start_) << "the PostgreSQL server did not start";
    ASSERT_FALSE(PostgresServer::port_.empty());
    connection_.profile.provider_name = "MSDASQL";
    PropertySet init(DBPROPSET_DBINIT);
    init.AddString(DBPROP_INIT_DATASOURCE, "Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=" + PostgresServer::port_ +
                                               ";Database=tabulon;BoolsAsChar=0;CommLog=0;Debug=0");
    init.AddString(DBPROP_AUTH_USERID, "tabulon");
    init.AddString(DBPROP_AUTH_PASSWORD, "tabulon");
    init.AddI4(DBPROP_INIT_TIMEOUT, 10);
    ASSERT_EQ(OpenDataSource(connection_, {&init, 1}), S_OK) << ErrorDescription(connection_);
    ASSERT_EQ(OpenSession(connection_), S_OK);
    schema_ = "t" + std::to_string(getpid()) + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : schema_) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_TRUE(Run("create schema " + schema_ + "; set search_path to " + schema_));
  }
  void TearDown() override {
    if (connection_.session != nullptr) Run("drop schema if exists " + schema_ + " cascade");
  }

  bool Run(const std::string& sql) { return ExecuteStatement(&pane_, connection_.session.get(), sql, 1); }

  DbConnection connection_;
  OutputPane pane_;
  std::string schema_;
};

TEST_F(PostgresOdbcTest, TypesAndFlags) {
  ASSERT_TRUE(
      Run("create table t(i integer not null, s smallint, b bigint, r real, d double precision, "
          "n numeric(12,3), flag boolean, v varchar(40), c char(5), tx text, by bytea, "
          "dt date, tm time, ts timestamp, u uuid)"));
  TextRowset rowset;
  ASSERT_EQ(OpenTextRowset(connection_.session.get(), "select * from t", &rowset), S_OK);
  struct Expected {
    const char* name;
    DbType type;
    std::uint32_t must_have;
  };
  const Expected expected[] = {
      {"i", DBTYPE_I4, DBCOLUMNFLAGS_ISFIXEDLENGTH},
      {"s", DBTYPE_I2, 0},
      {"b", DBTYPE_I8, 0},
      {"r", DBTYPE_R4, 0},
      {"d", DBTYPE_R8, 0},
      {"n", DBTYPE_NUMERIC, 0},
      {"flag", DBTYPE_BOOL, 0},
      // The driver reports text as narrow types to a narrow (UTF-8) client.
      {"v", DBTYPE_STR, 0},
      {"c", DBTYPE_STR, DBCOLUMNFLAGS_ISFIXEDLENGTH},
      {"tx", DBTYPE_STR, DBCOLUMNFLAGS_ISLONG},
      {"by", DBTYPE_BYTES, 0},
      {"dt", DBTYPE_DBDATE, 0},
      {"tm", DBTYPE_DBTIME, 0},
      {"ts", DBTYPE_DBTIMESTAMP, 0},
      {"u", DBTYPE_GUID, 0},
  };
  ASSERT_EQ(rowset.columns().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const ColumnInfo& c = rowset.columns()[i];
    EXPECT_EQ(c.name, expected[i].name);
    EXPECT_EQ(c.ordinal, i + 1);
    EXPECT_EQ(c.type, expected[i].type) << c.name;
    EXPECT_EQ(c.flags & expected[i].must_have, expected[i].must_have) << c.name;
  }
  EXPECT_EQ(rowset.columns()[0].flags & DBCOLUMNFLAGS_ISNULLABLE, 0u);  // not null
  EXPECT_EQ(rowset.columns()[5].precision, 12);
  EXPECT_EQ(rowset.columns()[5].scale, 3);
  EXPECT_EQ(rowset.columns()[7].size, 40u);
}

TEST_F(PostgresOdbcTest, NullsUnicodeAndBlockFetch) {
  ASSERT_TRUE(Run("create table t(id integer, name varchar(50), note text)"));
  ASSERT_TRUE(
      Run("insert into t select i, 'Größe ' || i || ' €😀', case when i % 7 = 0 then null else '' end "
          "from generate_series(1, 1000) i"));
  TextRowset rowset;
  ASSERT_EQ(OpenTextRowset(connection_.session.get(), "select id, name, note from t order by id", &rowset), S_OK);
  int rows = 0;
  Hresult code;
  while ((code = MoveNextRow(rowset)) == S_OK) {
    ++rows;
    const RowBuffer& b = rowset.buffer();
    ASSERT_EQ(b.Value(1), std::to_string(rows));
    ASSERT_EQ(b.Value(2), "Größe " + std::to_string(rows) + " €😀");
    ASSERT_EQ(b.IsNull(3), rows % 7 == 0) << rows;
    ASSERT_EQ(b.Length(3), 0u);
  }
  EXPECT_EQ(code, DB_S_ENDOFROWSET);
  EXPECT_EQ(rows, 1000);  // many blocks of rows, none lost or repeated

  // Unicode text goes in through statement text and comes back whole.
  pane_.Clear();
  EXPECT_EQ(
      RunScalarStatement(&pane_, connection_.session.get(), "select name from t where name like '%€😀' and id = 3", 0),
      "Größe 3 €😀");
}

TEST_F(PostgresOdbcTest, SchemaRowsetsFromTheCatalogueFunctions) {
  ASSERT_TRUE(Run("create table orders(id integer not null primary key, customer varchar(30), total numeric(10,2))"));
  ASSERT_TRUE(Run("create table order_lines(id integer)"));
  ASSERT_TRUE(Run("create view recent as select id from orders"));
  Session* session = connection_.session.get();
  auto read = [&](SchemaRowsetKind kind, const SchemaRestrictions& restrictions) {
    TextRowset rowset;
    EXPECT_EQ(OpenSchemaRowset(session, kind, restrictions, &rowset), S_OK) << ErrorDescription(rowset.error_source());
    std::vector<std::vector<std::string>> rows;
    while (MoveNextRow(rowset) == S_OK) {
      std::vector<std::string> row;
      for (size_t k = 1; k <= rowset.buffer().columns(); ++k) {
        row.push_back(rowset.buffer().IsNull(k) ? "<NULL>" : std::string(rowset.buffer().Value(k)));
      }
      rows.push_back(std::move(row));
    }
    return rows;
  };
  const auto tables = read(SchemaRowsetKind::kTables, {std::nullopt, schema_, std::nullopt, "TABLE"});
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0][schema::kTableName - 1], "order_lines");
  EXPECT_EQ(tables[1][schema::kTableName - 1], "orders");
  EXPECT_EQ(tables[1][schema::kTableSchema - 1], schema_);
  EXPECT_EQ(tables[1][schema::kTableCatalog - 1], "tabulon");
  const auto views = read(SchemaRowsetKind::kTables, {std::nullopt, schema_, std::nullopt, "VIEW"});
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0][schema::kTableName - 1], "recent");

  const auto columns = read(SchemaRowsetKind::kColumns, {std::nullopt, schema_, "orders"});
  ASSERT_EQ(columns.size(), 3u);
  EXPECT_EQ(columns[0][schema::kColumnName - 1], "id");
  EXPECT_EQ(columns[0][schema::kIsNullable - 1], "False");
  EXPECT_EQ(columns[1][schema::kCharacterMaximumLength - 1], "30");
  EXPECT_EQ(columns[2][schema::kDataType - 1], std::to_string(DBTYPE_NUMERIC));
  EXPECT_EQ(columns[2][schema::kNumericPrecision - 1], "10");
  EXPECT_EQ(columns[2][schema::kNumericScale - 1], "2");

  const auto catalogs = read(SchemaRowsetKind::kCatalogs, {});
  ASSERT_FALSE(catalogs.empty());
  EXPECT_EQ(catalogs[0][schema::kCatalogName - 1], "tabulon");
}

TEST_F(PostgresOdbcTest, NoticeIsAWarningAndCountsAsFailure) {
  pane_.Clear();
  EXPECT_FALSE(Run("DO $$ BEGIN RAISE NOTICE 'careful now'; END $$"));
  ASSERT_EQ(pane_.LineCount(), 1u);
  EXPECT_EQ(pane_.Lines()[0].severity, workspace::Severity::kWarning);
  EXPECT_NE(pane_.Lines()[0].text.find("careful now"), std::string::npos);
  pane_.Clear();
  EXPECT_FALSE(Run("select 1/0"));
  EXPECT_NE(pane_.Lines()[0].text.find("division by zero"), std::string::npos);
}

TEST_F(PostgresOdbcTest, DataSourceInfoAndWrongPassword) {
  std::string name;
  ASSERT_EQ(ReadDataSourceInfo(connection_, DBPROP_DBMSNAME, &name), S_OK);
  EXPECT_EQ(name, "PostgreSQL");
  std::string version;
  ASSERT_EQ(ReadDataSourceInfo(connection_, DBPROP_DBMSVER, &version), S_OK);
  EXPECT_FALSE(version.empty());

  DbConnection wrong;
  wrong.profile.provider_name = "MSDASQL";
  PropertySet init(DBPROPSET_DBINIT);
  init.AddString(DBPROP_INIT_DATASOURCE, "Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=" + PostgresServer::port_ +
                                             ";Database=nosuchdb;CommLog=0;Debug=0");
  init.AddString(DBPROP_AUTH_USERID, "tabulon");
  EXPECT_TRUE(Failed(OpenDataSource(wrong, {&init, 1})));
  EXPECT_NE(ErrorDescription(wrong).find("nosuchdb"), std::string::npos) << ErrorDescription(wrong);
}

}  // namespace
}  // namespace tabulon::data
