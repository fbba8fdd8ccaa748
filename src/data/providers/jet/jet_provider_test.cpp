// What the Jet provider alone does (the cases every provider shares are in
// tests/data/provider_conformance_test.cpp): opening read-only and refusing what is not a
// database, its error texts and notices, its schema rowsets' details and the batching of inserts.
// (Creating files, and the columns and values of every type: tests/data/jet_sql_file_test.cpp.)
#include "data/providers/jet/jet_provider.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "data/db_connection.h"
#include "data/error_text.h"
#include "workspace/output_pane.h"
#include "data/provider_registry.h"
#include "workspace/statement_output.h"
#include "data/schema_rowset.h"
#include "data/statement.h"
#include "jet/database.h"
#include "jet_test_db.h"
#include "jet_test_files.h"
#include "tests/support/provider_helpers.h"

namespace tabulon::data {
using namespace workspace;
namespace {

std::string Scratch(const std::string& name) { return testing::ScratchFile("jet_provider_test", name).string(); }

Hresult Connect(DbConnection& connection, const std::string& path, std::int32_t mode = DB_MODE_SHARE_DENY_NONE) {
  PropertySet init(DBPROPSET_DBINIT);
  init.AddI4(DBPROP_INIT_MODE, mode);
  return testing::OpenProvider(connection, kJetProviderName, path, init);
}

void CreateEmpty(const std::string& path) {
  auto db = jet::Database::Create(path);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
}

class JetProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = Scratch(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".mdb");
    CreateEmpty(path_);
    ASSERT_EQ(Connect(connection_, path_), S_OK) << ErrorDescription(connection_);
  }
  // Whatever the statements of a test wrote leaves a sound file.
  void TearDown() override {
    auto db = jet::Database::Open(path_, jet::OpenMode::kReadOnly);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    EXPECT_TRUE((*db)->CheckIntegrity().ok()) << (*db)->CheckIntegrity().ToString();
  }

  bool Run(const std::string& sql) { return ExecuteStatement(&pane_, connection_.session.get(), sql, 1); }
  Session* session() { return connection_.session.get(); }

  std::vector<std::vector<std::string>> Query(const std::string& sql) { return testing::QueryTexts(session(), sql); }
  std::vector<std::vector<std::string>> Schema(SchemaRowsetKind kind, const SchemaRestrictions& restrictions) {
    return testing::SchemaTexts(session(), kind, restrictions);
  }

  std::string path_;
  DbConnection connection_;
  OutputPane pane_;
};

// (An empty name or a folder fails the check every file provider shares: see the SQLite
// provider's test.)
TEST(JetProviderOpenTest, RefusesWhatIsNotADatabase) {
  DbConnection connection;
  const std::string text = Scratch("not_a_database.mdb");
  std::ofstream(text) << "this is a text file, not a database\n";
  EXPECT_EQ(Connect(connection, text), E_FAIL);
  EXPECT_EQ(ErrorDescription(connection).rfind("Unrecognized database format '" + text + "'", 0), 0u)
      << ErrorDescription(connection);
}

TEST(JetProviderOpenTest, ReadOnlyFileOpensForReadingAndRefusesWrites) {
  const std::string path = Scratch("read_only.mdb");
  CreateEmpty(path);
  {
    DbConnection connection;
    ASSERT_EQ(Connect(connection, path), S_OK);
    ASSERT_TRUE(ExecuteStatement(nullptr, connection.session.get(), "create table t (a long)", 0));
    ASSERT_TRUE(ExecuteStatement(nullptr, connection.session.get(), "insert into t values (7)", 0));
  }
  // Asked for reading only, and a file the process may not write: both read, neither writes.
  for (const bool chmod_file : {false, true}) {
    if (chmod_file) ::chmod(path.c_str(), 0444);
    if (chmod_file && ::access(path.c_str(), W_OK) == 0) continue;  // running as root
    DbConnection connection;
    ASSERT_EQ(Connect(connection, path, chmod_file ? DB_MODE_SHARE_DENY_NONE : DB_MODE_READ), S_OK)
        << ErrorDescription(connection);
    OutputPane pane;
    EXPECT_TRUE(RunAndShowStatement(&pane, connection.session.get(), "select a from t", 1));
    ASSERT_EQ(pane.Lines().size(), 1u);
    EXPECT_EQ(pane.Lines()[0].text, "7");
    EXPECT_FALSE(ExecuteStatement(&pane, connection.session.get(), "insert into t values (8)", 1));
    EXPECT_NE(pane.Lines().back().text.find("read-only"), std::string::npos) << pane.Lines().back().text;
  }
  ::chmod(path.c_str(), 0644);
}

TEST_F(JetProviderTest, ErrorsNameThePlaceAndDroppedIndexesAreTold) {
  ASSERT_TRUE(Run("create table t (id long primary key, name text(20))"));
  ASSERT_TRUE(Run("insert into t values (1, 'a;b')"));
  // A failing statement: the provider's text, with the place in the statement.
  const std::pair<const char*, std::vector<const char*>> failures[] = {
      {"insert into t values (2, 'x', 3)", {"3 values", "line 1"}},
      {"insert into t valeus (2, 'x')", {"line 1"}},
      {"insert into t values (1, 'duplicate')", {"PrimaryKey"}},
  };
  for (const auto& [sql, words] : failures) {
    std::string error;
    EXPECT_FALSE(ExecuteStatement(nullptr, session(), sql, 0, &error));
    for (const char* word : words) EXPECT_NE(error.find(word), std::string::npos) << sql << ": " << error;
  }
  EXPECT_EQ(Query("select * from t"), (std::vector<std::vector<std::string>>{{"1", "a;b"}}));

  // A row whose key the index cannot sort is stored and the index removed: the INSERT that
  // caused it says so in a line of its own, even unreported and inside a batch of inserts.
  ASSERT_TRUE(Run("create unique index ByName on t (name)"));
  pane_.Clear();
  ASSERT_TRUE(ExecuteStatement(&pane_, session(), "insert into t values (2, 'Москва')", 0));
  ASSERT_TRUE(ExecuteStatement(&pane_, session(), "insert into t values (3, 'Москва')", 0));
  ASSERT_EQ(pane_.Lines().size(), 1u);
  EXPECT_EQ(pane_.Lines()[0].text,
            "Index [ByName] of table [t] was dropped: a key holds a character the index sort order cannot hold "
            "(column 'name': the character U+041C has no known General sort code); the rows were kept");
  EXPECT_EQ(Query("select count(*) from t"), (std::vector<std::vector<std::string>>{{"3"}}));
}

TEST_F(JetProviderTest, SchemaRowsets) {
  ASSERT_TRUE(
      Run("create table Orders (id long primary key, customer text(30) not null, "
          "placed datetime default Now(), note memo, amount decimal(10,2))"));
  ASSERT_TRUE(Run("create table Alpha (a short)"));
  // System tables only when asked for.
  const auto system = Schema(SchemaRowsetKind::kTables, {std::nullopt, std::nullopt, "MSysObjects"});
  ASSERT_EQ(system.size(), 1u);
  EXPECT_EQ(system[0][3], "SYSTEM TABLE");

  // COLUMNS of one table (its name compares without case), in ordinal order: ordinal, flags,
  // nullable, type, length, precision, scale, has default, default.
  std::vector<std::string> described;
  for (const auto& c : Schema(SchemaRowsetKind::kColumns, {std::nullopt, std::nullopt, "orders"})) {
    std::string line = c[schema::kTableName - 1] + "." + c[schema::kColumnName - 1];
    for (size_t field : {schema::kOrdinalPosition, schema::kColumnFlags, schema::kIsNullable, schema::kDataType,
                         schema::kCharacterMaximumLength, schema::kNumericPrecision, schema::kNumericScale,
                         schema::kColumnHasDefault, schema::kColumnDefault}) {
      line += " " + c[field - 1];
    }
    described.push_back(line);
  }
  EXPECT_EQ(described, (std::vector<std::string>{
                           "Orders.id 1 90 False 3 <NULL> 10 <NULL> False <NULL>",  // primary key: required
                           "Orders.customer 2 74 False 130 30 <NULL> <NULL> False <NULL>",
                           "Orders.placed 3 122 True 7 <NULL> <NULL> <NULL> True Now()",
                           "Orders.note 4 234 True 130 0 <NULL> <NULL> False <NULL>",
                           "Orders.amount 5 122 True 131 <NULL> 10 2 False <NULL>",
                       }));
  EXPECT_EQ(Schema(SchemaRowsetKind::kColumns, {std::nullopt, std::nullopt, "Orders", "note"}).size(), 1u);
  EXPECT_TRUE(Schema(SchemaRowsetKind::kColumns, {std::nullopt, std::nullopt, "NoSuchTable"}).empty());
  EXPECT_EQ(Schema(SchemaRowsetKind::kColumns, {}).size(), 6u);
}

// Reopens the file read-only and counts the table's rows as they are on disk.
size_t RowsOnDisk(const std::string& path, const std::string& table) {
  auto db = jet::Database::Open(path, jet::OpenMode::kReadOnly);
  return db.ok() ? testing::TableRows(**db, table).size() : SIZE_MAX;
}

TEST(JetProviderBatchTest, InsertsAreCommittedByLimitsStatementsAndClose) {
  const std::string path = Scratch("batch.mdb");
  CreateEmpty(path);
  JetBatchPolicy policy;
  policy.max_rows = 10;
  policy.max_age = std::chrono::hours(1);
  RegisterProvider("Test.Jet.Batch", std::make_shared<JetProvider>(policy));
  DbConnection connection;
  ASSERT_EQ(testing::OpenProvider(connection, "Test.Jet.Batch", path), S_OK);
  Session* session = connection.session.get();
  ASSERT_TRUE(ExecuteStatement(nullptr, session, "create table t (id long primary key, v text(10))", 0));
  for (int i = 1; i <= 25; ++i) {
    ASSERT_TRUE(ExecuteStatement(nullptr, session, "insert into t values (" + std::to_string(i) + ", 'v')", 0));
    // A refused row in the middle of a batch changes nothing and loses nothing.
    if (i == 13) {
      EXPECT_FALSE(ExecuteStatement(nullptr, session, "insert into t values (13, 'again')", 0));
    }
    if (i == 14) {
      EXPECT_FALSE(ExecuteStatement(nullptr, session, "insert into t values ('x', 'bad')", 0));
    }
  }
  EXPECT_EQ(RowsOnDisk(path, "t"), 20u);  // two full batches of 10
  // A query commits first and sees every row.
  TextRowset rowset;
  ASSERT_EQ(OpenTextRowset(session, "select count(*) from t", &rowset), S_OK);
  ASSERT_EQ(MoveNextRow(rowset), S_OK);
  EXPECT_EQ(rowset.buffer().Value(1), "25");
  rowset.Close();
  EXPECT_EQ(RowsOnDisk(path, "t"), 25u);

  ASSERT_TRUE(ExecuteStatement(nullptr, session, "insert into t values (26, 'w')", 0));
  EXPECT_EQ(session->Commit(), S_OK);
  EXPECT_EQ(RowsOnDisk(path, "t"), 26u);
  ASSERT_TRUE(ExecuteStatement(nullptr, session, "insert into t values (27, 'w')", 0));
  CloseConnection(connection);  // closing commits
  EXPECT_EQ(RowsOnDisk(path, "t"), 27u);
  UnregisterProvider("Test.Jet.Batch");
}

}  // namespace
}  // namespace tabulon::data
