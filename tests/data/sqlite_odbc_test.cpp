// The data layer against the real SQLite ODBC driver ("SQLite3"), through MSDASQL.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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

namespace fs = std::filesystem;

class SqliteOdbcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tabulon_sqlite_" + std::to_string(getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    ASSERT_EQ(Open(connection_, "Driver=SQLite3;Database=" + (dir_ / "test.db").string()), S_OK)
        << ErrorDescription(connection_);
  }
  void TearDown() override {
    CloseConnection(connection_);
    fs::remove_all(dir_);
  }

  static Hresult Open(DbConnection& connection, const std::string& source) {
    connection.profile.provider_name = "MSDASQL";
    PropertySet init(DBPROPSET_DBINIT);
    init.AddString(DBPROP_INIT_DATASOURCE, source);
    const Hresult code = OpenDataSource(connection, {&init, 1});
    return Failed(code) ? code : OpenSession(connection);
  }

  bool Run(const std::string& sql) { return ExecuteStatement(&pane_, connection_.session.get(), sql, 0); }

  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const OutputLine& line : pane_.Lines()) out.push_back(line.text);
    return out;
  }

  fs::path dir_;
  DbConnection connection_;
  OutputPane pane_;
};

TEST_F(SqliteOdbcTest, ExecuteStatementOutcomesAndLines) {
  // DDL with report 1: one success line; with report 0: none.
  EXPECT_TRUE(ExecuteStatement(&pane_, connection_.session.get(), "create table t(a integer, b text)", 1));
  EXPECT_EQ(Texts(), std::vector<std::string>{"RESULT: The operation completed SUCCESSFULLY"});
  EXPECT_TRUE(Run("insert into t values (1, 'x')"));
  // A query through ExecuteStatement: true, its rows unread, no line.
  EXPECT_TRUE(ExecuteStatement(&pane_, connection_.session.get(), "select * from t", 1));
  EXPECT_EQ(pane_.LineCount(), 1u);
  // A syntax error: false and one orange line with the driver's text.
  EXPECT_FALSE(ExecuteStatement(&pane_, connection_.session.get(), "selec nonsense", 1));
  ASSERT_EQ(pane_.LineCount(), 2u);
  const OutputLine error = pane_.Lines()[1];
  EXPECT_EQ(error.severity, workspace::Severity::kWarning);
  EXPECT_NE(error.text.find("syntax error"), std::string::npos) << error.text;
  // The same failure with report 0 stays silent.
  EXPECT_FALSE(Run("selec nonsense"));
  EXPECT_EQ(pane_.LineCount(), 2u);
}

TEST_F(SqliteOdbcTest, NoSessionWritesOneRedLineWhateverTheReport) {
  for (int report : {0, 1}) {
    OutputPane pane;
    EXPECT_FALSE(ExecuteStatement(&pane, nullptr, "select 1", report));
    ASSERT_EQ(pane.LineCount(), 1u);
    EXPECT_EQ(pane.Lines()[0].text, "No Connection!");
    EXPECT_EQ(pane.Lines()[0].severity, workspace::Severity::kError);
  }
  // After closing, the side's session is null: the same answer, no crash.
  CloseConnection(connection_);
  EXPECT_EQ(connection_.session, nullptr);
  EXPECT_FALSE(ExecuteStatement(&pane_, connection_.session.get(), "select 1", 0));
  EXPECT_FALSE(RunAndShowStatement(&pane_, connection_.session.get(), "select 1", 1));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"No Connection!", "No Connection!"}));
  TextRowset rowset;
  EXPECT_TRUE(Failed(OpenTextRowset(connection_.session.get(), "select 1", &rowset)));
}

TEST_F(SqliteOdbcTest, NullIsAStatusAndEmptyIsAZeroLength) {
  ASSERT_TRUE(Run("create table t(a text, b text, c integer)"));
  ASSERT_TRUE(Run("insert into t values (NULL, '', 7)"));
  TextRowset rowset;
  ASSERT_EQ(OpenTextRowset(connection_.session.get(), "select a, b, c from t", &rowset), S_OK);
  ASSERT_EQ(rowset.columns().size(), 3u);
  EXPECT_EQ(rowset.columns()[2].name, "c");
  EXPECT_EQ(rowset.columns()[2].type, DBTYPE_I4);
  ASSERT_EQ(MoveNextRow(rowset), S_OK);
  EXPECT_EQ(rowset.buffer().Status(1), DBSTATUS_S_ISNULL);
  EXPECT_EQ(rowset.buffer().Status(2), DBSTATUS_S_OK);
  EXPECT_EQ(rowset.buffer().Length(2), 0u);
  EXPECT_EQ(rowset.buffer().Value(3), "7");
  EXPECT_EQ(MoveNextRow(rowset), DB_S_ENDOFROWSET);
  EXPECT_EQ(MoveNextRow(rowset), DB_S_ENDOFROWSET);  // asking again after the end is harmless
}

TEST_F(SqliteOdbcTest, LongValuesAreCutInTheSlotAndWholeOnRequest) {
  ASSERT_TRUE(Run("create table big(id integer, t text, b blob)"));
  // 100 KB of text and 1 MB of bytes, built by SQLite itself.
  ASSERT_TRUE(Run("insert into big values (1, printf('%.*c', 102400, 'x') || 'END', randomblob(1048576))"));
  ASSERT_TRUE(Run("insert into big values (2, 'short', NULL)"));

  TextRowset cut;
  ASSERT_EQ(OpenTextRowset(connection_.session.get(), "select t, b from big order by id", &cut), S_OK);
  ASSERT_EQ(MoveNextRow(cut), S_OK);
  EXPECT_EQ(cut.buffer().Value(1), std::string(8191, 'x'));
  EXPECT_EQ(cut.buffer().Status(1), DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(cut.buffer().Length(2), 8190u);  // whole bytes only: 4095 of them as hex digits
  EXPECT_EQ(cut.buffer().Status(2), DBSTATUS_S_TRUNCATED);
  EXPECT_FALSE(ReadFullValue(cut, 1).ok());  // whole values need the option
  ASSERT_EQ(MoveNextRow(cut), S_OK);
  EXPECT_EQ(cut.buffer().Value(1), "short");
  CloseTextRowset(cut);

  TextRowset whole;
  ASSERT_EQ(OpenTextRowset(connection_.session.get(), "select t, b, hex(b) from big order by id", &whole,
                           RowsetOptions{.full_values = true}),
            S_OK);
  ASSERT_EQ(MoveNextRow(whole), S_OK);
  Result<std::optional<std::string>> text = ReadFullValue(whole, 1);
  ASSERT_TRUE(text.ok()) << text.status().ToString();
  ASSERT_TRUE(text->has_value());
  EXPECT_EQ((*text)->size(), 102400u + 3);
  EXPECT_EQ((*text)->substr(102400), "END");
  EXPECT_EQ(whole.buffer().Value(1), std::string(8191, 'x'));  // the slot is still cut
  Result<std::optional<std::string>> blob = ReadFullValue(whole, 2);
  Result<std::optional<std::string>> hex = ReadFullValue(whole, 3);
  ASSERT_TRUE(blob.ok() && hex.ok());
  ASSERT_TRUE(blob->has_value() && hex->has_value());
  EXPECT_EQ((*hex)->size(), 2u * 1048576);
  // Binary arrives as upper-case hexadecimal digits, as SQLite's hex() gives them.
  EXPECT_TRUE(**blob == **hex) << (*blob)->substr(0, 40) << " vs " << (*hex)->substr(0, 40);
  EXPECT_FALSE(ReadFullValue(whole, 4).ok());
  ASSERT_EQ(MoveNextRow(whole), S_OK);
  EXPECT_EQ(*ReadFullValue(whole, 1), std::optional<std::string>("short"));
  EXPECT_EQ(*ReadFullValue(whole, 2), std::nullopt);
  EXPECT_EQ(MoveNextRow(whole), DB_S_ENDOFROWSET);
}

TEST_F(SqliteOdbcTest, RunAndShowStatementShowsTheFirstHundredRows) {
  ASSERT_TRUE(Run("create table t(a integer, b text, c text)"));
  ASSERT_TRUE(
      Run("with recursive n(i) as (select 1 union all select i + 1 from n where i < 150) "
          "insert into t select i, 'v' || i, case when i = 2 then NULL when i = 3 then '' else 'w' end from n"));
  EXPECT_TRUE(RunAndShowStatement(&pane_, connection_.session.get(), "select a, b, c from t order by a", 1));
  const std::vector<std::string> texts = Texts();
  ASSERT_EQ(texts.size(), 300u);
  EXPECT_EQ(texts[0], "1");
  EXPECT_EQ(texts[1], "v1");
  EXPECT_EQ(texts[5], "(NULL)");  // row 2, column c
  EXPECT_EQ(texts[8], "");        // row 3, column c: an empty value is an empty line
  EXPECT_EQ(texts[297], "100");
  EXPECT_EQ(pane_.Lines()[8].Full().size(), 24u);  // only the timestamp

  pane_.Clear();
  EXPECT_FALSE(RunAndShowStatement(&pane_, connection_.session.get(), "select * from missing", 1));
  ASSERT_EQ(pane_.LineCount(), 1u);
  EXPECT_NE(pane_.Lines()[0].text.find("no such table"), std::string::npos);
  EXPECT_EQ(pane_.Lines()[0].severity, workspace::Severity::kPlain);
  pane_.Clear();
  EXPECT_TRUE(RunAndShowStatement(&pane_, connection_.session.get(), "delete from t where a > 1000", 0));
  EXPECT_EQ(pane_.LineCount(), 0u);
}

TEST_F(SqliteOdbcTest, RunScalarStatementSkipsNullsAndNegatives) {
  EXPECT_EQ(RunScalarStatement(&pane_, connection_.session.get(), "select NULL, -5, 42", 0), "42");
  EXPECT_EQ(Texts(), std::vector<std::string>{"(NULL)"});
  pane_.Clear();
  EXPECT_EQ(RunScalarStatement(&pane_, connection_.session.get(), "select count(*) from sqlite_master", 1), "0");
  EXPECT_EQ(Texts(), std::vector<std::string>{"RESULT: The operation completed SUCCESSFULLY"});
  EXPECT_NE(RunScalarStatement(&pane_, connection_.session.get(), "selec", 1).find("syntax error"), std::string::npos);
  EXPECT_EQ(RunScalarStatement(&pane_, connection_.session.get(), "select 1 where 0", 1), "");
}

TEST_F(SqliteOdbcTest, DataSourceInfo) {
  std::string name;
  EXPECT_EQ(ReadDataSourceInfo(connection_, DBPROP_DBMSNAME, &name), S_OK);
  EXPECT_EQ(name, "SQLite");
  std::string version;
  EXPECT_EQ(ReadDataSourceInfo(connection_, DBPROP_DBMSVER, &version), S_OK);
  EXPECT_EQ(version.substr(0, 2), "3.");
}

// Every row of a schema rowset as text, "<NULL>" for NULL.
std::vector<std::vector<std::string>> SchemaRows(Session* session, SchemaRowsetKind kind,
                                                 const SchemaRestrictions& restrictions) {
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
}

TEST_F(SqliteOdbcTest, SchemaRowsetsFromTheCatalogueFunctions) {
  ASSERT_TRUE(Run("create table b_t(id integer not null primary key, name varchar(20), note text default 'n')"));
  ASSERT_TRUE(Run("create table a_t(x real)"));
  ASSERT_TRUE(Run("create table \"a%t\"(x real)"));  // wildcards in a restriction match only themselves
  ASSERT_TRUE(Run("create view v as select id from b_t"));
  Session* session = connection_.session.get();
  std::vector<std::string> tables;
  for (const auto& row :
       SchemaRows(session, SchemaRowsetKind::kTables, {std::nullopt, std::nullopt, std::nullopt, "TABLE"})) {
    EXPECT_EQ(row[schema::kTableType - 1], "TABLE");
    tables.push_back(row[schema::kTableName - 1]);
  }
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (std::vector<std::string>{"a%t", "a_t", "b_t"}));
  const auto views = SchemaRows(session, SchemaRowsetKind::kTables, {std::nullopt, std::nullopt, std::nullopt, "VIEW"});
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0][schema::kTableName - 1], "v");
  EXPECT_EQ(SchemaRows(session, SchemaRowsetKind::kTables, {std::nullopt, std::nullopt, "a_t"}).size(), 1u);

  const auto columns = SchemaRows(session, SchemaRowsetKind::kColumns, {std::nullopt, std::nullopt, "b_t"});
  ASSERT_EQ(columns.size(), 3u);
  EXPECT_EQ(columns[0][schema::kColumnName - 1], "id");
  EXPECT_EQ(columns[0][schema::kOrdinalPosition - 1], "1");
  EXPECT_EQ(columns[0][schema::kDataType - 1], std::to_string(DBTYPE_I4));
  EXPECT_EQ(columns[0][schema::kIsNullable - 1], "False");
  EXPECT_EQ(columns[1][schema::kColumnName - 1], "name");
  EXPECT_EQ(columns[1][schema::kCharacterMaximumLength - 1], "20");
  EXPECT_EQ(columns[1][schema::kIsNullable - 1], "True");
  EXPECT_EQ(columns[2][schema::kColumnHasDefault - 1], "True");
  EXPECT_NE(columns[2][schema::kColumnDefault - 1].find('n'), std::string::npos);
  EXPECT_EQ(SchemaRows(session, SchemaRowsetKind::kColumns, {std::nullopt, std::nullopt, "b_t", "note"}).size(), 1u);
  // CATALOGS answers (what a file-based driver lists is its own business) without failing.
  SchemaRows(session, SchemaRowsetKind::kCatalogs, {});
}

TEST_F(SqliteOdbcTest, BadConnectionsFailClearly) {
  struct Case {
    std::string source;
    std::string expected_text;
  };
  for (const Case& c :
       {Case{"Driver=NoSuchDriver;Database=x.db", "NoSuchDriver"}, Case{"NoSuchDsn", "Data source name not found"},
        Case{"Driver={SQLite3;Database=", ""}, Case{"", "no ODBC data source"}}) {
    DbConnection connection;
    const Hresult code = Open(connection, c.source);
    EXPECT_TRUE(Failed(code)) << c.source;
    EXPECT_EQ(connection.session, nullptr);
    const std::string text = ErrorDescription(connection);
    EXPECT_NE(text, "Unknown Error!") << c.source;
    EXPECT_NE(text.find(c.expected_text), std::string::npos) << c.source << ": " << text;
  }
  DbConnection unknown;
  unknown.profile.provider_name = "NoSuchProvider";
  EXPECT_EQ(OpenDataSource(unknown, {}), REGDB_E_CLASSNOTREG);
  EXPECT_NE(ErrorDescription(unknown).find("NoSuchProvider"), std::string::npos);
}

}  // namespace
}  // namespace tabulon::data
