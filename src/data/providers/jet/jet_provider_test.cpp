// What the Jet provider alone does (the cases every provider shares are in
// tests/data/provider_conformance_test.cpp): opening read-only and refusing what is not a
// database, its error texts and notices, column information, its schema rowsets' details and the
// batching of inserts. (Creating files: jet_sql_file_test.cpp.)
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
#include "jet_test_files.h"

namespace tabulon::data {
using namespace workspace;
namespace {

std::string Scratch(const std::string& name) { return testing::ScratchFile("jet_provider_test", name).string(); }

PropertySet InitFor(const std::string& path, std::int32_t mode = DB_MODE_SHARE_DENY_NONE) {
  PropertySet init(DBPROPSET_DBINIT);
  init.AddString(DBPROP_INIT_DATASOURCE, path);
  init.AddI4(DBPROP_INIT_MODE, mode);
  return init;
}

Hresult Connect(DbConnection& connection, const std::string& path, std::int32_t mode = DB_MODE_SHARE_DENY_NONE) {
  connection.profile.provider_name = kJetProviderName;
  const PropertySet init = InitFor(path, mode);
  const Hresult code = OpenDataSource(connection, {&init, 1});
  return Failed(code) ? code : OpenSession(connection);
}

void CreateEmpty(const std::string& path) {
  auto db = jet::Database::Create(path);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
}

// Every row of a rowset, values as text ("<NULL>" for NULL), bound ordinals 1..n.
std::vector<std::vector<std::string>> ReadAll(TextRowset& rowset) {
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

  std::vector<std::vector<std::string>> Query(const std::string& sql) {
    TextRowset rowset;
    EXPECT_EQ(OpenTextRowset(session(), sql, &rowset), S_OK) << ErrorDescription(rowset.error_source());
    return ReadAll(rowset);
  }

  std::vector<std::vector<std::string>> Schema(SchemaRowsetKind kind, SchemaRestrictions restrictions) {
    TextRowset rowset;
    EXPECT_EQ(OpenSchemaRowset(session(), kind, restrictions, &rowset), S_OK)
        << ErrorDescription(rowset.error_source());
    return ReadAll(rowset);
  }

  std::string path_;
  DbConnection connection_;
  OutputPane pane_;
};

// (An empty name or a folder fails the check every file provider shares: see the SQLite
// provider's test.)
TEST(JetProviderOpenTest, RegisteredAndRefusesWhatIsNotADatabase) {
  EXPECT_NE(FindProvider("microsoft.jet.oledb.4.0"), nullptr);

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

TEST_F(JetProviderTest, RowsetColumnInformationAndBookmark) {
  ASSERT_TRUE(
      Run("create table k (id counter primary key, flag bit, small short, big long not null, "
          "price currency, ratio double, at datetime, code guid, name text(50), note memo, "
          "blob longbinary, raw binary(8), amount decimal(12,3), tiny byte, f single)"));
  ASSERT_TRUE(
      Run("insert into k (flag, small, big, price, ratio, at, code, name, note, blob, raw, amount, tiny, f) "
          "values (true, -3, 70000, 12.5, 0.25, #2024-02-29 13:45:00#, "
          "'{6F9619FF-8B86-D011-B42D-00C04FC964FF}', 'Zoë', 'long text', 0x00ff10, 0xABCD, 1.5, 200, 1.5)"));
  ASSERT_TRUE(Run("insert into k (big) values (1)"));
  TextRowset rowset;
  ASSERT_EQ(OpenTextRowset(session(), "select * from k", &rowset), S_OK);
  const std::vector<ColumnInfo>& columns = rowset.columns();
  // n data columns and the bookmark column first; only the data columns have slots.
  ASSERT_EQ(columns.size(), 16u);
  EXPECT_EQ(rowset.buffer().columns(), 15u);
  EXPECT_EQ(columns[0].ordinal, 0u);
  EXPECT_TRUE(columns[0].flags & DBCOLUMNFLAGS_ISBOOKMARK);
  struct Expected {
    const char* name;
    DbType type;
    std::uint32_t flags;
    size_t size;
  };
  // The engine's column types as Jet's own provider describes them.
  const Expected expected[] = {
      {"id", DBTYPE_I4, 24, 4},
      {"flag", DBTYPE_BOOL, 24, 2},
      {"small", DBTYPE_I2, 122, 2},
      {"big", DBTYPE_I4, 90, 4},
      {"price", DBTYPE_CY, 122, 8},
      {"ratio", DBTYPE_R8, 122, 8},
      {"at", DBTYPE_DATE, 122, 8},
      {"code", DBTYPE_GUID, 122, 16},
      {"name", DBTYPE_WSTR, 106, 50},
      {"note", DBTYPE_WSTR, 234, 0},
      {"blob", DBTYPE_BYTES, 234, 0},
      {"raw", DBTYPE_BYTES, 106, 8},
      {"amount", DBTYPE_NUMERIC, 122, 19},
      {"tiny", DBTYPE_UI1, 122, 1},
      {"f", DBTYPE_R4, 122, 4},
  };
  for (size_t k = 1; k < columns.size(); ++k) {
    SCOPED_TRACE(columns[k].name);
    EXPECT_EQ(columns[k].ordinal, k);
    EXPECT_EQ(columns[k].name, expected[k - 1].name);
    EXPECT_EQ(columns[k].type, expected[k - 1].type);
    EXPECT_EQ(columns[k].flags, expected[k - 1].flags);
    EXPECT_EQ(columns[k].size, expected[k - 1].size);
  }
  EXPECT_EQ(columns[13].precision, 12);
  EXPECT_EQ(columns[13].scale, 3);
  const auto rows = ReadAll(rowset);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "True", "-3", "70000", "12.5", "0.25", "2024-02-29 13:45:00",
                                               "{6F9619FF-8B86-D011-B42D-00C04FC964FF}", "Zoë", "long text", "00FF10",
                                               "ABCD", "1.5", "200", "1.5"}));
  EXPECT_EQ(rows[1][1], "False");
  EXPECT_EQ(rows[1][2], "<NULL>");
  EXPECT_EQ(rows[1][8], "<NULL>");
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
  if (!db.ok()) return SIZE_MAX;
  auto def = (*db)->GetTable(table);
  if (!def.ok()) return SIZE_MAX;
  auto rows = (*db)->ReadAllRows(*def);
  return rows.ok() ? rows->size() : SIZE_MAX;
}

TEST(JetProviderBatchTest, InsertsAreCommittedByLimitsStatementsAndClose) {
  const std::string path = Scratch("batch.mdb");
  CreateEmpty(path);
  JetBatchPolicy policy;
  policy.max_rows = 10;
  policy.max_age = std::chrono::hours(1);
  RegisterProvider("Test.Jet.Batch", std::make_shared<JetProvider>(policy));
  DbConnection connection;
  connection.profile.provider_name = "Test.Jet.Batch";
  const PropertySet init = InitFor(path);
  ASSERT_EQ(OpenDataSource(connection, {&init, 1}), S_OK);
  ASSERT_EQ(OpenSession(connection), S_OK);
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
