// A typed value stores what the INSERT of its literal stores: every kind of field against every
// column type, the value or the refusal (whose words name the column) the same either way; and
// the row loader, which takes a row on its own, refusals included, within the batch.
#include "data/providers/jet/jet_fields.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "data/db_connection.h"
#include "data/error_text.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "jet/database.h"
#include "jet/values.h"
#include "jet_readers.h"
#include "jet_test_files.h"
#include "jetsql/convert.h"
#include "tests/support/provider_helpers.h"
#include "workspace/statement_output.h"

namespace tabulon::data {
namespace {

Field Make(Field::Kind kind, std::string text = {}) {
  Field f;
  f.kind = kind;
  f.text = std::move(text);
  return f;
}
Field Integer(int64_t v) {
  Field f;
  f.SetInteger(v);
  return f;
}
Field Real(double v) {
  Field f;
  f.SetDouble(v);
  return f;
}
Field Date(int year, int month, int day, int h, int m, int s, uint32_t ns) {
  Field f;
  DateParts d;
  d.year = static_cast<int16_t>(year);
  d.month = static_cast<uint8_t>(month);
  d.day = static_cast<uint8_t>(day);
  d.hour = static_cast<uint8_t>(h);
  d.minute = static_cast<uint8_t>(m);
  d.second = static_cast<uint8_t>(s);
  d.fraction_ns = ns;
  f.SetDate(d);
  return f;
}
Field Boolean(bool v) {
  Field f;
  f.SetBoolean(v);
  return f;
}

std::string Shown(const Result<jet::Value>& v) {
  if (!v.ok()) return "error: " + v.status().message();
  return jet::FormatValue(*v).value_or("NULL") + " (" + std::to_string(v->index()) + ")";
}

TEST(JetFieldsTest, AFieldStoresWhatItsLiteralStores) {
  const std::vector<Field> fields = {
      Make(Field::Kind::kNull),
      Integer(0),
      Integer(-1),
      Integer(255),
      Integer(256),
      Integer(-32769),
      Integer(2147483647),
      Integer(2147483648),
      Integer(std::numeric_limits<int64_t>::min()),
      Integer(9007199254740993),
      Real(0.1),
      Real(-0.0),
      Real(1.5),
      Real(123),
      Real(1e300),
      Real(2.5e-10),
      Real(std::numeric_limits<double>::infinity()),
      Real(std::nan("")),
      Make(Field::Kind::kNumber, "12.5000"),
      Make(Field::Kind::kNumber, "-1e5"),
      Make(Field::Kind::kNumber, "123456789012345678901234567890"),
      Make(Field::Kind::kText, "abc"),
      Make(Field::Kind::kText, "12"),
      Make(Field::Kind::kText, " 7 "),
      Make(Field::Kind::kText, "yes"),
      Make(Field::Kind::kText, "2024-01-31 10:00:00"),
      Make(Field::Kind::kText, "{6F9619FF-8B86-D011-B42D-00C04FC964FF}"),
      Make(Field::Kind::kText, "0x0A0B"),
      Make(Field::Kind::kText, ""),
      Make(Field::Kind::kBytes, std::string("\x00\xff", 2)),
      Make(Field::Kind::kBytes, std::string(16, '\x11')),
      Make(Field::Kind::kBytes, ""),
      Date(2024, 2, 29, 13, 45, 10, 250'000'000),
      Date(2024, 1, 31, 23, 59, 59, 999'600'000),  // rounds into the next day
      Date(1899, 12, 29, 6, 0, 0, 0),               // before day 0: the time is subtracted
      Date(100, 1, 1, 0, 0, 0, 123'456'789),
      Date(9999, 12, 31, 23, 59, 59, 0),
      Date(99, 1, 1, 0, 0, 0, 0),
      Date(2023, 2, 29, 0, 0, 0, 0),
      Date(2024, 13, 1, 0, 0, 0, 0),
      Date(2024, 1, 1, 24, 0, 0, 0),
      Boolean(true),
      Boolean(false),
  };
  const auto column = [](jet::ColumnType type, uint8_t precision = 0, uint8_t scale = 0) {
    jet::ColumnDefinition c;
    c.name = "c";
    c.type = type;
    c.precision = precision;
    c.scale = scale;
    return c;
  };
  using enum jet::ColumnType;
  const std::vector<jet::ColumnDefinition> columns = {
      column(kBoolean), column(kByte),     column(kInteger), column(kLong), column(kCurrency),
      column(kSingle),  column(kDouble),   column(kDateTime), column(kText), column(kMemo),
      column(kBinary),  column(kOle),      column(kGuid),     column(kNumeric, 18, 4)};
  for (const jet::ColumnDefinition& c : columns) {
    for (const Field& f : fields) {
      SCOPED_TRACE(std::string(jet::ColumnTypeName(c.type)) + " <- " + FieldText(f) + " (kind " +
                   std::to_string(static_cast<int>(f.kind)) + ")");
      EXPECT_EQ(Shown(ConvertField(f, c)), Shown(jetsql::ConvertLiteral(LiteralOfField(f), c)));
    }
  }
}

TEST(JetRowLoaderTest, RowsGoInOneByOneWithinTheBatchAndRefusalsLeaveNoTrace) {
  const std::string path = testing::ScratchFile("jet_fields_test", "loader.mdb").string();
  ASSERT_TRUE(jet::Database::Create(path).ok());
  DbConnection connection;
  ASSERT_EQ(testing::OpenProvider(connection, kJetProviderName, path), S_OK);
  Session* session = connection.session.get();
  ASSERT_TRUE(workspace::ExecuteStatement(nullptr, session,
                                          "create table t (id long primary key, name text(10), at datetime, "
                                          "amount double, ok yesno)",
                                          0));
  std::unique_ptr<RowLoader> loader;
  EXPECT_EQ(session->OpenRowLoader("missing", &loader), DB_E_NOTABLE);
  EXPECT_EQ(ErrorDescription(session).find("missing") != std::string::npos, true) << ErrorDescription(session);
  ASSERT_EQ(session->OpenRowLoader("T", &loader), S_OK);

  const auto row = [](int64_t id, std::string name) {
    std::vector<Field> r(5);
    r[0].SetInteger(id);
    r[1].SetText(Field::Kind::kText, name);
    r[2] = Date(2024, 5, 6, 7, 8, 9, 10'000'000);
    r[3].SetDouble(0.1 * static_cast<double>(id));
    r[4].SetBoolean(id % 2 == 0);
    return r;
  };
  for (int id = 1; id <= 300; ++id) ASSERT_EQ(loader->AppendRow(row(id, "n" + std::to_string(id))), S_OK);
  // Refused: a duplicate key, a name too long, a wrong count; the batch goes on.
  EXPECT_NE(loader->AppendRow(row(7, "again")), S_OK);
  EXPECT_NE(ErrorDescription(loader.get()).find("PrimaryKey"), std::string::npos) << ErrorDescription(loader.get());
  EXPECT_NE(loader->AppendRow(row(301, "far too long a name")), S_OK);
  std::vector<Field> short_row = row(302, "x");
  short_row.pop_back();
  EXPECT_NE(loader->AppendRow(short_row), S_OK);
  EXPECT_EQ(ErrorDescription(loader.get()), "table 't' has 5 columns but 4 values were given");
  ASSERT_EQ(loader->AppendRow(row(303, "last")), S_OK);
  EXPECT_EQ(loader->Commit(), S_OK);
  loader.reset();

  // What INSERT statements store from the same values.
  ASSERT_TRUE(workspace::ExecuteStatement(nullptr, session,
                                          "create table s (id long primary key, name text(10), at datetime, "
                                          "amount double, ok yesno)",
                                          0));
  for (int id : {1, 2, 3, 303}) {
    std::string sql = "insert into s values (";
    const std::vector<Field> r = row(id, id == 303 ? "last" : "n" + std::to_string(id));
    for (size_t k = 0; k < r.size(); ++k) {
      const jetsql::Literal l = LiteralOfField(r[k]);
      sql += k == 0 ? "" : ", ";
      sql += l.kind == jetsql::Literal::Kind::kString ? "'" + l.text + "'"
             : l.kind == jetsql::Literal::Kind::kDate ? "#" + l.text + "#"
             : l.kind == jetsql::Literal::Kind::kBoolean ? (l.boolean ? "true" : "false")
                                                         : l.text;
    }
    ASSERT_TRUE(workspace::ExecuteStatement(nullptr, session, sql + ")", 0)) << sql;
  }
  CloseConnection(connection);

  auto db = jet::Database::Open(path, jet::OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok());
  EXPECT_TRUE((*db)->CheckIntegrity().ok()) << (*db)->CheckIntegrity().ToString();
  const auto rows = [&](const char* table) {
    std::vector<std::string> out;
    EXPECT_TRUE((*db)->ScanRows((*db)->GetTable(table).value(), [&](jet::RowPointer, const jet::Row& r) {
                       std::string text;
                       for (const jet::Value& v : r) text += jet::FormatValue(v).value_or("NULL") + "|";
                       out.push_back(text);
                       return Status::Ok();
                     }).ok());
    return out;
  };
  const std::vector<std::string> loaded = rows("t");
  ASSERT_EQ(loaded.size(), 301u);
  const std::vector<std::string> inserted = rows("s");
  EXPECT_EQ((std::vector<std::string>{loaded[0], loaded[1], loaded[2], loaded[300]}), inserted);
}

// Rows made ready by the loader's preparer (as the row copy does on its reading thread) end
// exactly as rows appended directly: the same answers, word for word, and the same stored
// values, also where the preparer leaves work to the writing side (long values, AutoNumbers,
// refusals) and where the table changed after the rows were prepared.
TEST(JetRowLoaderTest, PreparedRowsEndAsAppendedRows) {
  const std::string path = testing::ScratchFile("jet_fields_test", "prepared.mdb").string();
  ASSERT_TRUE(jet::Database::Create(path).ok());
  DbConnection connection;
  ASSERT_EQ(testing::OpenProvider(connection, kJetProviderName, path), S_OK);
  Session* session = connection.session.get();
  for (const char* table : {"p", "a"}) {
    ASSERT_TRUE(workspace::ExecuteStatement(nullptr, session,
                                            std::string("create table ") + table +
                                                " (id long primary key, n counter, name text(10) not null, "
                                                "note memo, at datetime, amount double)",
                                            0));
  }
  std::unique_ptr<RowLoader> prepared_loader;
  std::unique_ptr<RowLoader> appended_loader;
  ASSERT_EQ(session->OpenRowLoader("p", &prepared_loader), S_OK);
  ASSERT_EQ(session->OpenRowLoader("a", &appended_loader), S_OK);
  std::unique_ptr<RowPreparer> preparer = prepared_loader->OpenPreparer();
  ASSERT_NE(preparer, nullptr);

  const auto row = [](int64_t id, std::optional<int64_t> n, std::optional<std::string> name, std::string note) {
    std::vector<Field> r(6);
    r[0].SetInteger(id);
    if (n) r[1].SetInteger(*n);
    if (name) r[2].SetText(Field::Kind::kText, *name);
    r[3].SetText(Field::Kind::kText, note);
    r[4] = Date(2024, 5, 6, 7, 8, 9, 10'000'000);
    r[5].SetDouble(0.25 * static_cast<double>(id));
    return r;
  };
  std::vector<std::vector<Field>> rows;
  for (int id = 1; id <= 40; ++id) rows.push_back(row(id, 100 + id, "n" + std::to_string(id), "short"));
  rows.push_back(row(41, std::nullopt, "numbered", "the next AutoNumber"));
  rows.push_back(row(42, 7, "long note", std::string(5000, 'w')));  // a long value on its own pages
  rows.push_back(row(5, 1, "twice", ""));                          // duplicate key
  rows.push_back(row(43, 2, "far too long a name", ""));
  rows.push_back(row(44, 3, std::nullopt, "name is required"));
  std::vector<Field> not_a_number = row(45, 4, "nan", "");
  not_a_number[5].SetText(Field::Kind::kText, "abc");
  rows.push_back(not_a_number);
  std::vector<Field> short_row = row(46, 5, "short", "");
  short_row.pop_back();
  rows.push_back(short_row);
  rows.push_back(row(47, std::nullopt, "last", "after the refusals"));

  // The answers of one table's loader in the other table's words.
  const auto answer = [](Hresult code, RowLoader& loader, const std::string& table) {
    if (code == S_OK) return std::string("stored");
    std::string text = ErrorDescription(&loader);
    for (size_t at; (at = text.find("'" + table + "'")) != std::string::npos;) text.replace(at, 3, "'T'");
    return text;
  };
  std::unique_ptr<PreparedRow> slot;
  for (const std::vector<Field>& r : rows) {
    preparer->PrepareRow(r, &slot);
    const std::string prepared = answer(prepared_loader->AppendPreparedRow(r, *slot), *prepared_loader, "p");
    const std::string appended = answer(appended_loader->AppendRow(r), *appended_loader, "a");
    EXPECT_EQ(prepared, appended) << r[0].integer;
  }
  // Prepared before the table was made again with other columns, appended after: made again
  // from the values, whose count no longer fits.
  const std::string columns = "(id long primary key, n counter, name text(10) not null, note memo, at datetime, ";
  ASSERT_TRUE(workspace::ExecuteStatement(nullptr, session, "create table q " + columns + "amount double)", 0));
  std::unique_ptr<RowLoader> changed_loader;
  ASSERT_EQ(session->OpenRowLoader("q", &changed_loader), S_OK);
  std::unique_ptr<RowPreparer> early = changed_loader->OpenPreparer();
  ASSERT_NE(early, nullptr);
  early->PrepareRow(row(48, 9, "late", ""), &slot);
  ASSERT_TRUE(workspace::ExecuteStatement(nullptr, session, "drop table q", 0));
  ASSERT_TRUE(workspace::ExecuteStatement(nullptr, session, "create table q " + columns + "amount double, x long)", 0));
  EXPECT_NE(changed_loader->AppendPreparedRow(row(48, 9, "late", ""), *slot), S_OK);
  EXPECT_EQ(ErrorDescription(changed_loader.get()), "table 'q' has 7 columns but 6 values were given");
  changed_loader.reset();
  ASSERT_TRUE(workspace::ExecuteStatement(nullptr, session, "drop table q", 0));
  EXPECT_EQ(prepared_loader->Commit(), S_OK);
  EXPECT_EQ(appended_loader->Commit(), S_OK);
  prepared_loader.reset();
  appended_loader.reset();
  CloseConnection(connection);

  auto db = jet::Database::Open(path, jet::OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok());
  EXPECT_TRUE((*db)->CheckIntegrity().ok()) << (*db)->CheckIntegrity().ToString();
  db->reset();
  if (!testing::MdbReaderAvailable()) GTEST_SKIP() << "mdb-reader is not installed";
  Result<std::vector<testing::ReaderTable>> read = testing::ReadWithMdbReader(path);
  ASSERT_TRUE(read.ok()) << read.status().ToString();
  ASSERT_EQ(read->size(), 2u);
  const testing::ReaderTable& first = (*read)[0].name == "p" ? (*read)[0] : (*read)[1];
  const testing::ReaderTable& second = (*read)[0].name == "p" ? (*read)[1] : (*read)[0];
  EXPECT_EQ(first.rows.size(), 43u);
  EXPECT_EQ(first.rows, second.rows);
  EXPECT_EQ(first.row_count, second.row_count);
}

// The bytes a batch keeps its rows in give every kind of value back as it was.
TEST(JetRowLoaderTest, RowsKeptForAReplayComeBackWhole) {
  jet::Decimal decimal = jet::Decimal::Parse("-12.3456", 4).value();
  jet::Guid guid;
  guid.bytes[3] = 7;
  const std::vector<jet::Row> rows = {
      {jet::Null{}, true, uint8_t{255}, int16_t{-2}, int32_t{-7}, jet::Currency{123456}, 1.5f, -0.0, jet::DateTime{45000.25},
       jet::Bytes{std::string("\0\xff", 2)}, std::string("Zoë 'q'"), guid, decimal},
      {},
      {std::string(70000, 'x'), jet::Bytes{}, std::string()}};
  std::string kept;
  for (const jet::Row& row : rows) AppendRowBytes(row, kept);
  size_t at = 0;
  for (const jet::Row& row : rows) {
    const jet::Row back = ReadRowBytes(kept, at);
    ASSERT_EQ(back.size(), row.size());
    for (size_t k = 0; k < row.size(); ++k) {
      EXPECT_EQ(back[k].index(), row[k].index()) << k;
      EXPECT_TRUE(jet::SameValue(back[k], row[k])) << k << ": " << jet::FormatValue(row[k]).value_or("NULL");
    }
  }
  EXPECT_EQ(at, kept.size());
}

TEST(JetRowLoaderTest, AReadOnlyFileHasNoLoader) {
  const std::string path = testing::ScratchFile("jet_fields_test", "read_only.mdb").string();
  ASSERT_TRUE(jet::Database::Create(path).ok());
  DbConnection connection;
  PropertySet init(DBPROPSET_DBINIT);
  init.AddI4(DBPROP_INIT_MODE, DB_MODE_READ);
  ASSERT_EQ(testing::OpenProvider(connection, kJetProviderName, path, init), S_OK);
  std::unique_ptr<RowLoader> loader;
  EXPECT_NE(connection.session->OpenRowLoader("MSysObjects", &loader), S_OK);
  EXPECT_EQ(loader, nullptr);
  EXPECT_NE(ErrorDescription(connection.session.get()).find("reading only"), std::string::npos);
}

}  // namespace
}  // namespace tabulon::data
