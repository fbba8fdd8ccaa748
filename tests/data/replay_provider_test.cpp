// The replay provider itself (its script, text format and registration), and a provider that
// throws. The cases every provider shares are in provider_conformance_test.cpp.
#include "tests/support/replay_provider.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "data/provider_registry.h"
#include "data/statement.h"
#include "workspace/statement_output.h"

namespace tabulon::testing {
namespace {

using namespace data;
using namespace workspace;

class ReplayTest : public ::testing::Test {
 protected:
  void SetUp() override { ConnectReplay(connection_, script_); }

  std::shared_ptr<ReplayScript> script_ = std::make_shared<ReplayScript>();
  DbConnection connection_;
  OutputPane pane_;
};

TEST_F(ReplayTest, UnknownStatementsFailLoudly) {
  bool result = true;
  EXPECT_NONFATAL_FAILURE(result = ExecuteStatement(&pane_, connection_.session.get(), "select surprise", 1),
                          "no recording for the statement");
  EXPECT_FALSE(result);
  EXPECT_NE(pane_.Lines().back().text.find("select surprise"), std::string::npos);
  EXPECT_EQ(script_->Executed(), std::vector<std::string>{"select surprise"});
}

TEST_F(ReplayTest, TextFormat) {
  script_->Load(R"(
# a database list
== select name, note from sys.databases
columns: name WSTR 128 | note STR long | [unit price] CY
row: master | \N | 1.5
row: Shop\|Demo | \sspaced\n | 
== use x
no rowset
)");
  TextRowset rowset;
  ASSERT_EQ(OpenTextRowset(connection_.session.get(), "select name, note from sys.databases", &rowset), S_OK);
  ASSERT_EQ(rowset.columns().size(), 3u);
  EXPECT_EQ(rowset.columns()[1].flags & DBCOLUMNFLAGS_ISLONG, DBCOLUMNFLAGS_ISLONG);
  EXPECT_EQ(rowset.columns()[2].name, "unit price");
  EXPECT_EQ(rowset.columns()[2].type, DBTYPE_CY);
  ASSERT_EQ(MoveNextRow(rowset), S_OK);
  EXPECT_TRUE(rowset.buffer().IsNull(2));
  ASSERT_EQ(MoveNextRow(rowset), S_OK);
  EXPECT_EQ(rowset.buffer().Value(1), "Shop|Demo");
  EXPECT_EQ(rowset.buffer().Value(2), " spaced\n");
  EXPECT_EQ(rowset.buffer().Value(3), "");
  EXPECT_EQ(MoveNextRow(rowset), DB_S_ENDOFROWSET);
  EXPECT_TRUE(ExecuteStatement(&pane_, connection_.session.get(), "use x", 0));

  EXPECT_NONFATAL_FAILURE(script_->Load("columns: a I4"), "no statement before it");
  EXPECT_NONFATAL_FAILURE(script_->Load("== s\ncolumns: a NOTATYPE"), "unknown column type");
}

TEST_F(ReplayTest, RegisteredUnderAProviderNameAndRestored) {
  const std::shared_ptr<Provider> odbc = FindProvider("SQLOLEDB");
  ASSERT_NE(odbc, nullptr);
  {
    ScopedReplayProvider replay("SQLOLEDB", script_);
    script_->SetDbmsInfo("Microsoft SQL Server", "15.00.4322");
    DbConnection connection;
    connection.profile.provider_name = "sqloledb";  // names compare without regard to case
    ASSERT_EQ(OpenDataSource(connection, {}), S_OK);
    std::string version;
    EXPECT_EQ(ReadDataSourceInfo(connection, DBPROP_DBMSVER, &version), S_OK);
    EXPECT_EQ(version, "15.00.4322");
  }
  EXPECT_EQ(FindProvider("SQLOLEDB"), odbc);
}

// A session whose commands throw, as an allocation failure inside a provider would.
class ThrowingSession : public Session {
 public:
  std::vector<std::string> ErrorRecords() const override { return {}; }
  Hresult CreateCommand(std::unique_ptr<Command>*) override { throw std::runtime_error("out of handles"); }
};

TEST(ExecuteStatementTest, AnExceptionInsideCountsAsFailure) {
  OutputPane pane;
  ThrowingSession session;
  EXPECT_FALSE(ExecuteStatement(&pane, &session, "select 1", 0));
  ASSERT_EQ(pane.LineCount(), 1u);
  EXPECT_EQ(pane.Lines()[0].severity, workspace::Severity::kError);
  EXPECT_NE(pane.Lines()[0].text.find("out of handles"), std::string::npos);
}

}  // namespace
}  // namespace tabulon::testing
