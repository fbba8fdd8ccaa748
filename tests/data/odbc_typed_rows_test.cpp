// The ODBC provider's typed rows (RowsetOptions::typed) against real drivers: SQLite's, whose
// values are typed from their text, and PostgreSQL's, bound to typed buffers in blocks. The
// PostgreSQL server is the one CTest starts on 127.0.0.1 (fixture data_pg).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "data/db_connection.h"
#include "data/error_text.h"
#include "data/statement.h"
#include "tests/support/provider_helpers.h"
#include "workspace/statement_output.h"

namespace tabulon::data {
namespace {

namespace fs = std::filesystem;
using Kind = Field::Kind;

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

// A field as the text fetch shows it.
std::string ShownText(const Field& f) { return f.is_null() ? "<NULL>" : FieldText(f); }

class OdbcTypedRowsTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tabulon_odbc_typed_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    PropertySet init(DBPROPSET_DBINIT);
    std::string source;
    if (sqlite()) {
      source = "Driver=SQLite3;Database=" + (dir_ / (GetParam() + ".db")).string();
      fs::remove(dir_ / (GetParam() + ".db"));
    } else {
      const std::string port = FirstLine(TABULON_PG_STATE_DIR "/port");
      if (port.empty()) {
        const std::string why = FirstLine(TABULON_PG_STATE_DIR "/skip");
        GTEST_SKIP() << (why.empty() ? "no PostgreSQL server: run the cases through ctest (fixture data_pg)" : why);
      }
      source = "Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=" + port +
               ";Database=tabulon;BoolsAsChar=0;CommLog=0;Debug=0;"
               "UseDeclareFetch=1;Fetch=100";  // rows come from a server cursor as they are fetched
      init.AddString(DBPROP_AUTH_USERID, "tabulon");
      init.AddString(DBPROP_AUTH_PASSWORD, "tabulon");
      schema_ = "typed" + std::to_string(::getpid());
    }
    ASSERT_EQ(testing::OpenProvider(connection_, "MSDASQL", source, init), S_OK) << ErrorDescription(connection_);
    if (!schema_.empty()) Run("create schema " + schema_ + "; set search_path to " + schema_);
  }
  void TearDown() override {
    if (!schema_.empty())
      (void)workspace::ExecuteStatement(nullptr, session(), "drop schema " + schema_ + " cascade", 0);
    CloseConnection(connection_);
    fs::remove_all(dir_);
    testing::RemovePostgresDriverLogs();
  }

  bool sqlite() const { return GetParam() == "SqliteOdbc"; }
  Session* session() { return connection_.session.get(); }
  void Run(const std::string& sql) {
    std::string error;
    ASSERT_TRUE(workspace::ExecuteStatement(nullptr, session(), sql, 0, &error)) << sql.substr(0, 80) << error;
  }

  // Every row of `sql` read typed, opened as the row copy opens it (typed rows, or else whole
  // values as text); `failure` gets the provider's words when it fails.
  std::vector<std::vector<Field>> TypedRows(const std::string& sql, std::string* failure = nullptr) {
    std::vector<std::vector<Field>> rows;
    TextRowset rowset;
    const Hresult opened = OpenTextRowset(session(), sql, &rowset, {.full_values = true, .typed = true});
    if (failure != nullptr && Failed(opened)) {
      *failure = "at execution: " + ErrorDescription(rowset.error_source());
      return rows;
    }
    EXPECT_EQ(opened, S_OK) << ErrorDescription(rowset.error_source());
    EXPECT_TRUE(rowset.typed());
    if (!rowset.typed()) return rows;
    std::vector<Field> row;
    Hresult code;
    while ((code = MoveNextTypedRow(rowset, row)) == S_OK) rows.push_back(row);
    if (failure != nullptr && Failed(code)) *failure = ErrorDescription(rowset.error_source());
    EXPECT_TRUE(failure != nullptr || code == DB_S_ENDOFROWSET) << ErrorDescription(rowset.error_source());
    return rows;
  }

  fs::path dir_;
  std::string schema_;
  DbConnection connection_;
};

TEST_P(OdbcTypedRowsTest, EveryKindAndNullAgreeWithTheTextFetch) {
  const std::string bytes = sqlite() ? "x'00FF10'" : "'\\x00ff10'::bytea";
  Run(sqlite() ? "create table kinds(i integer, b bigint, flag bit, d double, n numeric(12,3), ts datetime, "
                 "dt date, v varchar(20), by varbinary(10), tm time)"
               : "create table kinds(i integer, b bigint, flag boolean, d double precision, n numeric(12,3), "
                 "ts timestamp, dt date, v varchar(20), by bytea, tm time)");
  Run("insert into kinds values (42, -9007199254740993, " + std::string(sqlite() ? "1" : "true") +
      ", -2.25, 12.5, '2020-01-02 03:04:05.125', '2021-02-03', 'Grüße €', " + bytes + ", '10:11:12')");
  Run("insert into kinds values (null, null, null, null, null, null, null, null, null, null)");
  Run(std::string("insert into kinds (i, d) values (3, ") + (sqlite() ? "1e999)" : "'-Infinity')"));
  const std::string select = "select * from kinds order by i nulls first";
  const std::vector<std::vector<Field>> typed = TypedRows(select);
  const auto text = testing::QueryTexts(session(), select);
  ASSERT_EQ(typed.size(), 3u);
  ASSERT_EQ(text.size(), 3u);

  // SQLite's numeric is a double to its driver.
  const std::vector<Kind> kinds = {
      Kind::kInteger, Kind::kInteger, Kind::kInteger, Kind::kDouble, sqlite() ? Kind::kDouble : Kind::kNumber,
      Kind::kDate,    Kind::kDate,    Kind::kText,    Kind::kBytes,  Kind::kText};
  const std::vector<Field>& full = typed[2];
  ASSERT_EQ(full.size(), kinds.size());
  for (size_t c = 0; c < kinds.size(); ++c) {
    EXPECT_EQ(full[c].kind, kinds[c]) << c;
    EXPECT_EQ(typed[0][c].kind, Kind::kNull) << c;
  }
  EXPECT_EQ(full[1].integer, -9007199254740993);  // past a double's exact range
  EXPECT_EQ(full[3].real, -2.25);
  EXPECT_EQ(full[5].date.fraction_ns, 125000000u);
  EXPECT_EQ(full[8].text, std::string("\0\xFF\x10", 3));
  // A value the text fetch shows in another form: a non-finite double.
  EXPECT_EQ(typed[1][3].kind, Kind::kText);
  EXPECT_NE(typed[1][3].text.find(sqlite() ? "nf" : "-inf"), std::string::npos) << typed[1][3].text;

  for (size_t r : {0u, 2u}) {
    for (size_t c = 0; c < kinds.size(); ++c) {
      std::string value = ShownText(typed[r][c]);
      if (text[r][c].size() == 10 && value.ends_with(" 00:00:00")) value.resize(10);  // a date column
      if (typed[r][c].kind == Kind::kDouble) {
        EXPECT_EQ(std::strtod(text[r][c].c_str(), nullptr), typed[r][c].real) << c;
      } else {
        EXPECT_EQ(value, text[r][c]) << r << "," << c;
      }
    }
  }

  // A fetch that fails is a failure, not the end of the rows.
  std::string failure;
  const auto before =
      TypedRows(sqlite() ? "with recursive n(i) as (select 1 union all select i + 1 from n where i < 3000) "
                           "select abs(case when i = 2900 then -9223372036854775807 - 1 else i end) from n"
                         : "select 1 / (2900 - i) from generate_series(1, 3000) i",
                &failure);
  EXPECT_NE(failure.find(sqlite() ? "integer overflow" : "division by zero"), std::string::npos) << failure;
  if (!sqlite()) {  // SQLite's driver reads every row when the statement runs
    EXPECT_EQ(before.size(), 2000u);
  }
}

TEST_P(OdbcTypedRowsTest, LongValuesComeWholeAndBlocksLoseNoRow) {
  std::string note = "start";
  while (note.size() < 150000) note += " Grüße € " + std::to_string(note.size());
  std::string blob;
  for (int i = 0; i < 120000; ++i) blob += static_cast<char>((i * 37 + 11) & 0xFF);
  std::string hex;
  for (const unsigned char b : blob) hex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 0xF]};
  Run(sqlite() ? "create table big(id integer, note text, data blob)"
               : "create table big(id integer, note text, data bytea)");
  Run("insert into big values (1, '" + note + "', " + (sqlite() ? "x'" + hex + "')" : "decode('" + hex + "', 'hex'))"));
  Run("insert into big values (2, 'short', null)");
  const auto big = TypedRows("select data, id, note from big order by id");
  ASSERT_EQ(big.size(), 2u);
  EXPECT_EQ(big[0][0].kind, Kind::kBytes);
  EXPECT_TRUE(big[0][0].text == blob) << big[0][0].text.size() << " bytes";
  EXPECT_EQ(big[0][1].integer, 1);
  EXPECT_TRUE(big[0][2].text == note) << big[0][2].text.size() << " bytes";
  EXPECT_EQ(big[1][0].kind, Kind::kNull);
  EXPECT_EQ(big[1][2].text, "short");

  // 2,500 rows cross the blocks; every fifth holds a text far beyond what PostgreSQL's
  // unbounded varchar declares, read again within its block.
  Run(sqlite() ? "create table many(id integer primary key, label varchar, amount double)"
               : "create table many(id integer primary key, label varchar, amount double precision)");
  Run(sqlite() ? "insert into many with recursive n(i) as (select 1 union all select i + 1 from n where i < 2500) "
                 "select i, case when i % 5 = 0 then replace(hex(zeroblob(1500)), '0', 'x') || i else 'row ' || i end, "
                 "i * 0.5 from n"
               : "insert into many select i, case when i % 5 = 0 then repeat('x', 3000) || i else 'row ' || i end, "
                 "i * 0.5 from generate_series(1, 2500) i");
  const auto many = TypedRows("select id, label, amount from many order by id");
  ASSERT_EQ(many.size(), 2500u);
  for (int i = 1; i <= 2500; ++i) {
    const std::vector<Field>& row = many[static_cast<size_t>(i - 1)];
    ASSERT_EQ(row[0].integer, i);
    ASSERT_EQ(row[1].text, i % 5 == 0 ? std::string(3000, 'x') + std::to_string(i) : "row " + std::to_string(i));
    ASSERT_EQ(row[2].real, i * 0.5);
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, OdbcTypedRowsTest, ::testing::Values("SqliteOdbc", "PostgresOdbc"),
                         [](const auto& param) { return param.param; });

// SQLite keeps any value in any column: its driver's own conversions would give NULL or cut.
class SqliteOdbcTypedRowsTest : public OdbcTypedRowsTest {};
INSTANTIATE_TEST_SUITE_P(Sqlite, SqliteOdbcTypedRowsTest, ::testing::Values("SqliteOdbc"),
                         [](const auto& param) { return param.param; });

TEST_P(SqliteOdbcTypedRowsTest, ValuesOfAnotherTypeStayWhole) {
  Run("create table loose(i integer, flag bit, d double, ts datetime, v varchar(3))");
  Run("insert into loose values ('abc', 5, 'n/a', 'soon', 'longer than three')");
  Run("insert into loose values (3.7, 1, '12', '2024-02-29T23:59:59', 'ok')");
  Run("insert into loose values (9223372036854775807, 0, 1.5, 2459000.5, x'41')");
  const auto rows = TypedRows("select * from loose order by rowid");
  ASSERT_EQ(rows.size(), 3u);
  std::vector<std::string> texts;
  std::vector<Kind> kinds;
  for (const auto& row : rows) {
    for (const Field& f : row) {
      texts.push_back(ShownText(f));
      kinds.push_back(f.kind);
    }
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"abc", "5", "n/a", "soon", "longer than three",  //
                                             "3.7", "1", "12", "2024-02-29 23:59:59", "ok",   //
                                             "9223372036854775807", "0", "1.5", "2459000.5", "X'41'"}));
  EXPECT_EQ(kinds, (std::vector<Kind>{Kind::kText, Kind::kInteger, Kind::kText, Kind::kText, Kind::kText,      //
                                      Kind::kNumber, Kind::kInteger, Kind::kDouble, Kind::kDate, Kind::kText,  //
                                      Kind::kInteger, Kind::kInteger, Kind::kDouble, Kind::kText, Kind::kText}));
}

}  // namespace
}  // namespace tabulon::data
