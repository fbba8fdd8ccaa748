// One set of cases run against every provider of the driver interface: the Jet provider, the
// SQLite provider, ODBC over SQLite and over PostgreSQL, and the replay provider. Each backend
// prepares the same tiny database and knows how to reach it; a case a provider legitimately
// cannot answer is skipped with the reason. PostgreSQL's own type mapping and block fetching
// follow the shared cases. The PostgreSQL server is the one CTest starts (fixture data_pg).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/db_connection.h"
#include "data/error_text.h"
#include "data/providers/jet/jet_provider.h"
#include "data/providers/sqlite/sqlite_provider.h"
#include "data/schema_rowset.h"
#include "data/statement.h"
#include "workspace/statement_output.h"
#include "jet/database.h"
#include "tests/support/provider_helpers.h"
#include "tests/support/replay_provider.h"

namespace tabulon::data {
using namespace workspace;
namespace {

namespace fs = std::filesystem;
using testing::OpenProvider;
using testing::ReplayScript;
using Rows = std::vector<std::vector<std::string>>;
const std::optional<std::string> kNoName;

// The tiny database: table items (id, name, note, data) with the unique index items_id on id,
// and view item_names. Row 1 has a NULL name, and a text and bytes longer than a slot and than
// the ODBC provider's 64 KB chunk of a whole value; row 2 an empty name, a short text and NULL
// bytes.
const std::string& LongText() {
  static const std::string text = [] {
    std::string s = "123456789";  // puts a "€" across the end of the slot
    while (s.size() < 70000) s += "Grüße € ";
    return s;
  }();
  return text;
}
const std::string& BlobHex() {  // 70000 bytes as upper-case hexadecimal digits
  static const std::string hex = [] {
    std::string s;
    for (int i = 0; i < 70000; ++i) {
      const int b = (i * 37 + 11) & 0xFF;
      s += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 0xF]};
    }
    return s;
  }();
  return hex;
}
std::vector<std::string> TinyDatabase(const std::string& create_table, const std::string& blob_literal) {
  return {create_table, "insert into items values (1, NULL, '" + LongText() + "', " + blob_literal + ")",
          "insert into items values (2, '', 'short', NULL)", "create unique index items_id on items (id)",
          "create view item_names as select id, name from items"};
}
const char kNamesSql[] = "select id, name from items order by id";
const char kLongSql[] = "select note, data from items order by id";
const char kBadSql[] = "select * from no_such_table";
const char kSqliteTable[] = "create table items (id integer, name varchar(20), note text, data blob)";

void RunAll(DbConnection& connection, const std::vector<std::string>& statements) {
  for (const std::string& sql : statements) {
    std::string error;
    ASSERT_TRUE(ExecuteStatement(nullptr, connection.session.get(), sql, 0, &error)) << sql.substr(0, 80) << error;
  }
}

fs::path ScratchDir() { return fs::temp_directory_path() / ("tabulon_conformance_" + std::to_string(::getpid())); }
std::string Scratch(const std::string& name) {
  fs::create_directories(ScratchDir());
  return (ScratchDir() / name).string();
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

// The PostgreSQL server that CTest starts for these cases (fixture data_pg): its port, or why
// there is none.
class PostgresServer : public ::testing::Environment {
 public:
  void SetUp() override {
    port_ = FirstLine(TABULON_PG_STATE_DIR "/port");
    unavailable_ = FirstLine(TABULON_PG_STATE_DIR "/skip");
    if (port_.empty() && unavailable_.empty()) {
      unavailable_ = "no PostgreSQL server: run the cases through ctest, which starts one (fixture data_pg)";
    }
  }
  void TearDown() override {
    testing::RemovePostgresDriverLogs();
    fs::remove_all(ScratchDir());  // and the files of the other backends
  }

  static std::string ConnectionString(const std::string& database) {
    return "Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=" + port_ + ";Database=" + database +
           ";BoolsAsChar=0;CommLog=0;Debug=0";
  }

  static inline std::string port_, unavailable_;
};

const auto* const kServer = ::testing::AddGlobalTestEnvironment(new PostgresServer);

// A provider with the tiny database: how to reach it and build it, what it says, why it skips a
// case.
struct Backend {
  std::string name, provider, source, missing_source;  // missing_source: a database that is not there
  PropertySet init{DBPROPSET_DBINIT};
  std::vector<std::string> statements;  // build the tiny database once it is open
  std::string dbms_name, missing_words, catalog;
  std::optional<std::string> owner;  // the TABLE_SCHEMA of the items (PostgreSQL)
  Hresult views_answer = S_OK;       // what opening VIEWS answers when the case is skipped
  std::string unavailable, no_schema, no_views, no_warning, no_fetch_failure;  // reasons to skip
  std::string warning_sql, warning_words, failing_fetch_sql, failing_fetch_words;
  std::string path;
  std::shared_ptr<ReplayScript> script;  // the replay provider's, registered while the backend lives
  std::shared_ptr<testing::ScopedReplayProvider> registered;

  void Open(DbConnection& connection);
  Hresult OpenMissing(DbConnection& connection);
  void Close(DbConnection& connection);
};

Backend Describe(const std::string& name) {
  const std::string no_warning = " answers a statement with S_OK or a failure, never a warning";
  const std::string no_views = "ODBC has no catalogue call for the texts of views";
  Backend b;
  b.name = name;
  b.dbms_name = "SQLite";
  b.failing_fetch_sql = "select abs(v) from (select 1 as v union all select -9223372036854775807 - 1)";
  b.failing_fetch_words = "integer overflow";
  if (name == "Jet") {
    b.provider = kJetProviderName;
    b.source = b.path = Scratch("items.mdb");
    b.missing_source = Scratch("missing.mdb");
    b.statements =
        TinyDatabase("create table items (id long, name text(20), note memo, data longbinary)", "0x" + BlobHex());
    b.dbms_name = "MS Jet";
    b.catalog = b.path.substr(0, b.path.size() - 4);
    b.missing_words = "Could not find file '" + b.missing_source + "'.";
    b.no_warning = "the Jet provider" + no_warning;
    b.no_fetch_failure = "the Jet provider computes a query's rows when it runs: a failure is the statement's";
  } else if (name == "Sqlite") {  // the provider opens read-only: the file is built before
    b.provider = kSqliteProviderName;
    b.source = b.path = Scratch("items.sqlite3");
    b.missing_source = Scratch("missing.db");
    b.catalog = "items";
    b.missing_words = "Could not find file '" + b.missing_source + "'.";
    b.no_warning = "the SQLite provider" + no_warning;
  } else if (name == "SqliteOdbc") {
    b.provider = "MSDASQL";
    b.path = Scratch("items_odbc.db");
    b.source = "Driver=SQLite3;Database=" + b.path;
    b.missing_source = "Driver=NoSuchDriver;Database=" + b.path;
    b.statements = TinyDatabase(kSqliteTable, "x'" + BlobHex() + "'");
    b.missing_words = "NoSuchDriver";
    b.views_answer = E_NOTIMPL;
    b.no_views = no_views;
    b.no_warning = "the SQLite ODBC driver has no statement that succeeds with a warning";
  } else if (name == "PostgresOdbc") {
    static int schemas = 0;
    b.provider = "MSDASQL";
    b.source = PostgresServer::ConnectionString("tabulon");
    b.missing_source = PostgresServer::ConnectionString("nosuchdb");
    b.init.AddString(DBPROP_AUTH_USERID, "tabulon");
    b.init.AddString(DBPROP_AUTH_PASSWORD, "tabulon");
    b.init.AddI4(DBPROP_INIT_TIMEOUT, 10);
    b.owner = "c" + std::to_string(::getpid()) + "_" + std::to_string(++schemas);
    b.statements = TinyDatabase("create table items (id integer, name varchar(20), note text, data bytea)",
                                "decode('" + BlobHex() + "', 'hex')");
    b.statements.insert(b.statements.begin(), "create schema " + *b.owner + "; set search_path to " + *b.owner);
    b.dbms_name = "PostgreSQL";
    b.unavailable = PostgresServer::unavailable_;
    b.missing_words = "nosuchdb";
    b.catalog = "tabulon";
    b.views_answer = E_NOTIMPL;
    b.no_views = no_views;
    b.warning_sql = "DO $$ BEGIN RAISE NOTICE 'careful now'; END $$";
    b.warning_words = "careful now";
    b.failing_fetch_sql = "select 1 / (2 - i) from generate_series(1, 3) i";
    b.failing_fetch_words = "division by zero";
  } else {
    using testing::kNull;
    b.provider = "Conformance.Replay";
    b.script = std::make_shared<ReplayScript>();
    b.registered = std::make_shared<testing::ScopedReplayProvider>(b.provider, b.script);
    b.dbms_name = "Microsoft SQL Server";
    b.missing_words = "Login failed for user 'sa'.";
    b.views_answer = E_FAIL;
    b.no_schema = b.no_views = "the replay provider answers only the schema rowsets it is scripted for";
    b.warning_sql = "use Shop";
    b.warning_words = "Changed database context to 'Shop'.";
    b.failing_fetch_sql = "select v from t";
    b.failing_fetch_words = "Communication link failure";
    ReplayScript& script = *b.script;
    script.On(kNamesSql).Column("id", DBTYPE_I4).Column("name", DBTYPE_WSTR, 20).Row({"1", kNull}).Row({"2", ""});
    script.On(kLongSql)
        .Column("note", DBTYPE_WSTR, 0, DBCOLUMNFLAGS_ISLONG)
        .Column("data", DBTYPE_BYTES, 0, DBCOLUMNFLAGS_ISLONG)
        .Row({LongText(), BlobHex()})
        .Row({"short", kNull});
    script.On(kBadSql).Fails("Invalid object name 'no_such_table'.");
    script.OnSchema(SchemaRowsetKind::kIndexes, {kNoName, kNoName, kNoName, kNoName, "items"},
                    {IndexRow("items", "items_id", false, true, 1, "id")});
    script.On(b.warning_sql).NoRowset().Warns("[FreeTDS][SQL Server]" + b.warning_words);
    script.On(b.failing_fetch_sql).Column("v", DBTYPE_I4).Row({"1"}).Row({"2"}).FailsAtRow(1, b.failing_fetch_words);
  }
  return b;
}

void Backend::Open(DbConnection& connection) {
  if (!path.empty()) fs::remove(path);
  if (name == "Jet") {
    ASSERT_TRUE(jet::Database::Create(path).ok());
  }
  if (name == "Sqlite") {
    for (const std::string& sql : TinyDatabase(kSqliteTable, "x'" + BlobHex() + "'"))
      testing::BuildSqliteFile(path, sql);
  }
  ASSERT_EQ(OpenProvider(connection, provider, source, init), S_OK) << ErrorDescription(connection);
  RunAll(connection, statements);
}

Hresult Backend::OpenMissing(DbConnection& connection) {
  if (script) script->FailOpen(missing_words, DB_SEC_E_AUTH_FAILED);  // the server refuses the login from now on
  return OpenProvider(connection, provider, missing_source, init);
}

void Backend::Close(DbConnection& connection) {
  if (owner) (void)ExecuteStatement(nullptr, connection.session.get(), "drop schema " + *owner + " cascade", 0);
  CloseConnection(connection);
  if (name == "Jet") {  // what the statements wrote leaves a sound file
    auto db = jet::Database::Open(path, jet::OpenMode::kReadOnly);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    EXPECT_TRUE((*db)->CheckIntegrity().ok());
  }
}

bool Fetched(TextRowset& rowset) {
  const Result<bool> row = FetchRow(rowset);
  return row.ok() && *row;
}

class ProviderConformanceTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!b_.unavailable.empty()) GTEST_SKIP() << b_.unavailable;
    b_.Open(connection_);
  }
  void TearDown() override {
    if (b_.unavailable.empty()) b_.Close(connection_);
  }

  Session* session() { return connection_.session.get(); }

  Rows Schema(SchemaRowsetKind kind, const SchemaRestrictions& restrictions) {
    return testing::SchemaTexts(session(), kind, restrictions);
  }
  static std::vector<std::string> Column(const Rows& rows, size_t ordinal) {
    std::vector<std::string> values;
    for (const auto& row : rows) values.push_back(row[ordinal - 1]);
    return values;
  }

  Backend b_ = Describe(GetParam());
  DbConnection connection_;
};

TEST_P(ProviderConformanceTest, OpenedSourceNamesItsDbmsAndWhatIsNotThereFailsWithTheProvidersWords) {
  std::string text;
  EXPECT_EQ(ReadDataSourceInfo(connection_, DBPROP_DBMSNAME, &text), S_OK);
  EXPECT_EQ(text, b_.dbms_name);
  EXPECT_EQ(ReadDataSourceInfo(connection_, DBPROP_DBMSVER, &text), S_OK);
  EXPECT_FALSE(text.empty());
  DbConnection missing;
  EXPECT_TRUE(Failed(b_.OpenMissing(missing)));
  EXPECT_EQ(missing.data_source, nullptr);
  EXPECT_EQ(missing.session, nullptr);
  EXPECT_NE(ErrorDescription(missing).find(b_.missing_words), std::string::npos) << ErrorDescription(missing);
  EXPECT_EQ(OpenSession(missing), E_UNEXPECTED);  // nothing to open a session on
}

TEST_P(ProviderConformanceTest, NullIsAStatusEmptyIsAZeroLengthAndTheEndStaysTheEnd) {
  TextRowset rowset;
  ASSERT_EQ(OpenTextRowset(session(), kNamesSql, &rowset), S_OK) << ErrorDescription(rowset.error_source());
  ASSERT_EQ(rowset.buffer().columns(), 2u);
  const ColumnInfo& id = rowset.columns()[rowset.columns().size() - 2];  // after a bookmark column if any
  EXPECT_EQ(id.name + std::to_string(id.ordinal) + rowset.columns().back().name, "id1name");
  EXPECT_EQ(id.type, DBTYPE_I4);
  ASSERT_TRUE(Fetched(rowset));
  EXPECT_EQ(rowset.buffer().Value(1), "1");
  EXPECT_EQ(rowset.buffer().Status(2), DBSTATUS_S_ISNULL);
  ASSERT_TRUE(Fetched(rowset));
  EXPECT_EQ(rowset.buffer().Value(1), "2");
  EXPECT_EQ(rowset.buffer().Status(2), DBSTATUS_S_OK);
  EXPECT_EQ(rowset.buffer().Length(2), 0u);
  for (int again = 0; again < 2; ++again) {  // asking again after the end is harmless
    const Result<bool> end = FetchRow(rowset);
    ASSERT_TRUE(end.ok()) << end.status().ToString();
    EXPECT_FALSE(*end);
  }
}

TEST_P(ProviderConformanceTest, LongValuesAreCutInTheSlotAndWholeOnRequest) {
  for (const bool whole : {false, true}) {  // rows fetched in blocks, then one at a time
    SCOPED_TRACE(whole ? "whole values" : "rows in blocks");
    TextRowset rowset;
    ASSERT_EQ(OpenTextRowset(session(), kLongSql, &rowset, {.full_values = whole}), S_OK)
        << ErrorDescription(rowset.error_source());
    ASSERT_EQ(MoveNextRow(rowset), S_OK);
    const RowBuffer& buffer = rowset.buffer();
    EXPECT_EQ(buffer.Length(1), 8189u);  // the "€" across byte 8191 is left out whole
    EXPECT_GE(buffer.Length(2), 8190u);
    for (size_t k : {1u, 2u}) {
      const std::string& value = k == 1 ? LongText() : BlobHex();
      EXPECT_EQ(buffer.Status(k), DBSTATUS_S_TRUNCATED) << k;
      EXPECT_EQ(value.compare(0, buffer.Length(k), buffer.Value(k)), 0) << k;
      if (!whole) continue;
      const Result<std::optional<std::string>> read = ReadFullValue(rowset, k);
      ASSERT_TRUE(read.ok() && read->has_value()) << k;
      EXPECT_TRUE(**read == value) << k << ": " << (*read)->size() << " bytes, " << (*read)->substr(0, 40);
    }
    ASSERT_EQ(MoveNextRow(rowset), S_OK);
    EXPECT_EQ(buffer.Value(1), "short");
    EXPECT_TRUE(buffer.IsNull(2));
    if (whole) {
      EXPECT_EQ(*ReadFullValue(rowset, 1), std::optional<std::string>("short"));
      EXPECT_EQ(*ReadFullValue(rowset, 2), std::nullopt);
      EXPECT_FALSE(ReadFullValue(rowset, 3).ok());
    }
    EXPECT_EQ(MoveNextRow(rowset), DB_S_ENDOFROWSET);
  }
}

TEST_P(ProviderConformanceTest, TablesColumnsAndCatalogs) {
  if (!b_.no_schema.empty()) {
    TextRowset rowset;
    EXPECT_EQ(OpenSchemaRowset(session(), SchemaRowsetKind::kTables, {}, &rowset), E_FAIL);
    GTEST_SKIP() << b_.no_schema;
  }
  const auto tables = Schema(SchemaRowsetKind::kTables, {std::nullopt, b_.owner, std::nullopt, "TABLE"});
  EXPECT_EQ(Column(tables, schema::kTableName), std::vector<std::string>{"items"});
  const auto views = Schema(SchemaRowsetKind::kTables, {std::nullopt, b_.owner, std::nullopt, "VIEW"});
  EXPECT_EQ(Column(views, schema::kTableName), std::vector<std::string>{"item_names"});

  const auto columns = Schema(SchemaRowsetKind::kColumns, {std::nullopt, b_.owner, "items"});
  EXPECT_EQ(Column(columns, schema::kColumnName), (std::vector<std::string>{"id", "name", "note", "data"}));
  EXPECT_EQ(Column(columns, schema::kOrdinalPosition), (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(Column(columns, schema::kIsNullable), (std::vector<std::string>{"True", "True", "True", "True"}));
  ASSERT_EQ(columns.size(), 4u);
  EXPECT_EQ(columns[0][schema::kDataType - 1], std::to_string(DBTYPE_I4));
  EXPECT_EQ(columns[1][schema::kCharacterMaximumLength - 1], "20");

  const auto catalogs = Schema(SchemaRowsetKind::kCatalogs, {});
  if (b_.catalog.empty()) {
    EXPECT_TRUE(catalogs.empty() || catalogs[0][0] != "<NULL>");  // whatever it lists, it answers
  } else {
    ASSERT_FALSE(catalogs.empty());
    EXPECT_EQ(catalogs[0][schema::kCatalogName - 1], b_.catalog);
  }
}

TEST_P(ProviderConformanceTest, IndexesOfATableNameTheirKeyColumns) {
  const auto indexes =
      Schema(SchemaRowsetKind::kIndexes, {std::nullopt, b_.owner, std::nullopt, std::nullopt, "items"});
  ASSERT_EQ(indexes.size(), 1u);
  const auto& index = indexes[0];
  EXPECT_EQ(index[schema::kTableName - 1], "items");
  EXPECT_EQ(index[schema::kIndexName - 1], "items_id");
  EXPECT_EQ(index[schema::kPrimaryKey - 1], "False");
  EXPECT_EQ(index[schema::kUnique - 1], "True");
  EXPECT_EQ(index[schema::kIndexOrdinalPosition - 1], "1");
  EXPECT_EQ(index[schema::kIndexColumnName - 1], "id");
}

TEST_P(ProviderConformanceTest, ViewsGiveTheirText) {
  if (!b_.no_views.empty()) {
    TextRowset rowset;
    EXPECT_EQ(OpenSchemaRowset(session(), SchemaRowsetKind::kViews, {}, &rowset), b_.views_answer);
    GTEST_SKIP() << b_.no_views;
  }
  const auto views = Schema(SchemaRowsetKind::kViews, {std::nullopt, std::nullopt, "item_names"});
  ASSERT_EQ(views.size(), 1u);
  const std::string& text = views[0][schema::kViewDefinition - 1];
  EXPECT_NE(text.find(" items"), std::string::npos) << text;
}

TEST_P(ProviderConformanceTest, AFailingStatementGivesTheProvidersWords) {
  std::string error;
  EXPECT_FALSE(ExecuteStatement(nullptr, session(), kBadSql, 0, &error));
  EXPECT_NE(error.find("no_such_table"), std::string::npos) << error;
  TextRowset rowset;
  EXPECT_TRUE(Failed(OpenTextRowset(session(), kBadSql, &rowset)));
  EXPECT_EQ(ErrorDescription(rowset.error_source()), error);
}

TEST_P(ProviderConformanceTest, AWarningFailsTheStatement) {
  if (!b_.no_warning.empty()) GTEST_SKIP() << b_.no_warning;
  std::string error;
  EXPECT_FALSE(ExecuteStatement(nullptr, session(), b_.warning_sql, 0, &error));  // only S_OK succeeds
  EXPECT_NE(error.find(b_.warning_words), std::string::npos) << error;
  TextRowset rowset;
  EXPECT_NE(OpenTextRowset(session(), b_.warning_sql, &rowset), S_OK);
}

TEST_P(ProviderConformanceTest, AFetchFailureIsAnErrorNotTheEndOfTheRows) {
  if (!b_.no_fetch_failure.empty()) GTEST_SKIP() << b_.no_fetch_failure;
  TextRowset rowset;
  std::string error;
  if (OpenTextRowset(session(), b_.failing_fetch_sql, &rowset) != S_OK) {
    error = ErrorDescription(rowset.error_source());  // the provider read every row when it ran
  } else {
    for (;;) {
      const Result<bool> row = FetchRow(rowset);
      if (!row.ok()) {
        error = row.status().message();
        break;
      }
      ASSERT_TRUE(*row) << "a failing fetch was taken for the end of the rows";
    }
  }
  EXPECT_NE(error.find(b_.failing_fetch_words), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Providers, ProviderConformanceTest,
                         ::testing::Values("Jet", "Sqlite", "SqliteOdbc", "PostgresOdbc", "Replay"),
                         [](const auto& param) { return param.param; });

// ---- PostgreSQL's own facts -------------------------------------------------------------------

// The same backend and fixture, for PostgreSQL alone.
class PostgresOdbcTest : public ProviderConformanceTest {};
INSTANTIATE_TEST_SUITE_P(Postgres, PostgresOdbcTest, ::testing::Values("PostgresOdbc"),
                         [](const auto& param) { return param.param; });

TEST_P(PostgresOdbcTest, TypesAndFlags) {
  RunAll(connection_, {"create table t(i integer not null, s smallint, b bigint, r real, d double precision, "
                       "n numeric(12,3), flag boolean, v varchar(40), c char(5), tx text, by bytea, "
                       "dt date, tm time, ts timestamp, u uuid)"});
  TextRowset rowset;
  ASSERT_EQ(OpenTextRowset(session(), "select * from t", &rowset), S_OK);
  const std::vector<ColumnInfo>& c = rowset.columns();
  std::vector<DbType> types;
  for (const ColumnInfo& column : c) types.push_back(column.type);
  // The driver reports text as narrow types to a narrow (UTF-8) client.
  EXPECT_EQ(types, (std::vector<DbType>{DBTYPE_I4, DBTYPE_I2, DBTYPE_I8, DBTYPE_R4, DBTYPE_R8, DBTYPE_NUMERIC,
                                        DBTYPE_BOOL, DBTYPE_STR, DBTYPE_STR, DBTYPE_STR, DBTYPE_BYTES, DBTYPE_DBDATE,
                                        DBTYPE_DBTIME, DBTYPE_DBTIMESTAMP, DBTYPE_GUID}));
  ASSERT_EQ(c.size(), 15u);
  EXPECT_EQ(c[0].flags & (DBCOLUMNFLAGS_ISFIXEDLENGTH | DBCOLUMNFLAGS_ISNULLABLE), DBCOLUMNFLAGS_ISFIXEDLENGTH);
  EXPECT_TRUE(c[8].flags & DBCOLUMNFLAGS_ISFIXEDLENGTH);
  EXPECT_TRUE(c[9].flags & DBCOLUMNFLAGS_ISLONG);
  EXPECT_EQ(c[5].precision, 12);
  EXPECT_EQ(c[5].scale, 3);
  EXPECT_EQ(c[7].size, 40u);
}

TEST_P(PostgresOdbcTest, ManyBlocksOfUnicodeRowsNoneLostOrRepeated) {
  TextRowset rowset;
  ASSERT_EQ(OpenTextRowset(session(),
                           "select i, 'Größe ' || i || ' €😀', case when i % 7 = 0 then null else '' end "
                           "from generate_series(1, 1000) i",
                           &rowset),
            S_OK);
  int rows = 0;
  Hresult code;
  while ((code = MoveNextRow(rowset)) == S_OK) {
    ++rows;
    const RowBuffer& b = rowset.buffer();
    ASSERT_EQ(b.Value(1), std::to_string(rows));
    ASSERT_EQ(b.Value(2), "Größe " + std::to_string(rows) + " €😀");
    ASSERT_EQ(b.IsNull(3), rows % 7 == 0) << rows;
  }
  EXPECT_EQ(code, DB_S_ENDOFROWSET);
  EXPECT_EQ(rows, 1000);
}

}  // namespace
}  // namespace tabulon::data
