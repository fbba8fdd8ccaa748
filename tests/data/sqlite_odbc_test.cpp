// The statement runners (data/statement.h, data/result_display.h) and what the ODBC provider
// alone does, against the real SQLite ODBC driver ("SQLite3") through MSDASQL. The cases every
// provider shares are in provider_conformance_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "data/db_connection.h"
#include "data/error_text.h"
#include "workspace/output_pane.h"
#include "workspace/statement_output.h"
#include "data/schema_rowset.h"
#include "data/statement.h"
#include "tests/support/provider_helpers.h"

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
    ASSERT_EQ(testing::OpenProvider(connection_, "MSDASQL", "Driver=SQLite3;Database=" + (dir_ / "test.db").string()),
              S_OK)
        << ErrorDescription(connection_);
  }
  void TearDown() override {
    CloseConnection(connection_);
    fs::remove_all(dir_);
  }

  bool Run(const std::string& sql) { return ExecuteStatement(&pane_, connection_.session.get(), sql, 0); }

  fs::path dir_;
  DbConnection connection_;
  OutputPane pane_;
};

TEST_F(SqliteOdbcTest, ExecuteStatementOutcomesAndLines) {
  // DDL with report 1: one success line; with report 0: none.
  EXPECT_TRUE(ExecuteStatement(&pane_, connection_.session.get(), "create table t(a integer, b text)", 1));
  EXPECT_EQ(testing::OutputTexts(pane_), std::vector<std::string>{"RESULT: The operation completed SUCCESSFULLY"});
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
  EXPECT_EQ(testing::OutputTexts(pane_), (std::vector<std::string>{"No Connection!", "No Connection!"}));
  TextRowset rowset;
  EXPECT_TRUE(Failed(OpenTextRowset(connection_.session.get(), "select 1", &rowset)));
}

TEST_F(SqliteOdbcTest, BinaryIsCutAtWholeBytesAndWholeValuesNeedTheOption) {
  ASSERT_TRUE(Run("create table big(b blob)"));
  ASSERT_TRUE(Run("insert into big values (randomblob(10000))"));
  TextRowset cut;
  ASSERT_EQ(OpenTextRowset(connection_.session.get(), "select b from big", &cut), S_OK);
  ASSERT_EQ(MoveNextRow(cut), S_OK);
  EXPECT_EQ(cut.buffer().Length(1), 8190u);  // 4095 whole bytes as hexadecimal digits
  EXPECT_EQ(cut.buffer().Status(1), DBSTATUS_S_TRUNCATED);
  EXPECT_FALSE(ReadFullValue(cut, 1).ok());
}

TEST_F(SqliteOdbcTest, RunAndShowStatementShowsTheFirstHundredRows) {
  ASSERT_TRUE(Run("create table t(a integer, b text, c text)"));
  ASSERT_TRUE(
      Run("with recursive n(i) as (select 1 union all select i + 1 from n where i < 150) "
          "insert into t select i, 'v' || i, case when i = 2 then NULL when i = 3 then '' else 'w' end from n"));
  EXPECT_TRUE(RunAndShowStatement(&pane_, connection_.session.get(), "select a, b, c from t order by a", 1));
  const std::vector<std::string> texts = testing::OutputTexts(pane_);
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
  EXPECT_EQ(testing::OutputTexts(pane_), std::vector<std::string>{"(NULL)"});
  pane_.Clear();
  EXPECT_EQ(RunScalarStatement(&pane_, connection_.session.get(), "select count(*) from sqlite_master", 1), "0");
  EXPECT_EQ(testing::OutputTexts(pane_), std::vector<std::string>{"RESULT: The operation completed SUCCESSFULLY"});
  EXPECT_NE(RunScalarStatement(&pane_, connection_.session.get(), "selec", 1).find("syntax error"), std::string::npos);
  EXPECT_EQ(RunScalarStatement(&pane_, connection_.session.get(), "select 1 where 0", 1), "");
}

// The catalogue functions take patterns: a restriction is escaped so that it matches only itself.
TEST_F(SqliteOdbcTest, RestrictionsMatchOnlyThemselves) {
  ASSERT_TRUE(Run("create table a_t(x real)"));
  ASSERT_TRUE(Run("create table \"a%t\"(x real)"));
  for (const std::string name : {"a_t", "a%t"}) {
    const auto rows =
        testing::SchemaTexts(connection_.session.get(), SchemaRowsetKind::kTables, {std::nullopt, std::nullopt, name});
    ASSERT_EQ(rows.size(), 1u) << name;
    EXPECT_EQ(rows[0][schema::kTableName - 1], name);
  }
}

TEST_F(SqliteOdbcTest, BadConnectionsFailClearly) {
  struct Case {
    std::string source;
    std::string expected_text;
  };
  // (An unknown driver is a case of provider_conformance_test.cpp.)
  for (const Case& c : {Case{"NoSuchDsn", "Data source name not found"}, Case{"Driver={SQLite3;Database=", ""},
                        Case{"", "no ODBC data source"}}) {
    DbConnection connection;
    const Hresult code = testing::OpenProvider(connection, "MSDASQL", c.source);
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
