// Rows written by the engine, read back by the engine and by both independent readers; bad
// rows refused; and the table operations that change the catalog.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "jet/database.h"
#include "jet/values.h"
#include "jet_readers.h"
#include "jet_test_db.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;

fs::path TempPath(const std::string& name) { return testing::ScratchFile("insert", name); }

std::string Repeat(const std::string& s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

// Every type's values are compared with both readers by the random round trips; here the long
// values on both sides of each size where their stored form changes (inline up to 64 bytes, one
// long-value row up to 4076, a chain beyond, 16 MB chains of thousands of pages), AutoNumber counting on
// from an explicit value, and a Boolean Null read back as False.
TEST(InsertTest, LongValueFormsAndAutoNumbersReadBack) {
  const fs::path path = TempPath("long.mdb");
  TableDefinition t = testing::NewTable("Docs");
  ColumnDefinition id = NewColumn("ID", ColumnType::kLong);
  id.flags |= kColumnAutoNumber;
  t.columns = {id, NewColumn("Flag", ColumnType::kBoolean), NewColumn("Blob", ColumnType::kOle),
               NewColumn("Notes", ColumnType::kMemo)};
  std::mt19937 random(7);
  std::vector<Row> rows, expected;
  for (size_t size : {0, 64, 65, 4076, 4077, 9000}) {
    std::string blob(size, '\0');
    for (char& c : blob) c = static_cast<char>(random());
    const bool odd = rows.size() % 2 != 0;
    rows.push_back({Null{}, odd ? Value(true) : Value(Null{}), Bytes{blob},
                    Repeat(odd ? "memo text " : "\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1 ", size / 10)});
    expected.push_back(rows.back());
    expected.back()[0] = static_cast<int32_t>(rows.size());
    expected.back()[1] = odd;
  }
  {
    auto db = Database::Create(path.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    ASSERT_TRUE((*db)->CreateTable(t).ok());
    ASSERT_TRUE((*db)->InsertRows("Docs", rows).ok());
  }
  ASSERT_TRUE(testing::MdbToolsAvailable() && testing::MdbReaderAvailable());
  EXPECT_EQ(testing::CompareTableWithReaders(path.string(), "Docs", t.columns, expected), "");

  Row big{int32_t{5000}, false, Bytes{std::string(16 * 1024 * 1024 + 3, '\x5A')}, Repeat("0123456789", 1700000)};
  {
    auto db = Database::Open(path.string(), OpenMode::kReadWrite);
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE((*db)->InsertRow("Docs", big).ok());  // an explicit AutoNumber raises the counter
    ASSERT_TRUE((*db)->InsertRow("Docs", {Null{}, true, Null{}, Null{}}).ok());
  }
  expected.push_back(big);
  expected.push_back({int32_t{5001}, true, Null{}, Null{}});
  auto db = Database::Open(path.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  const std::vector<Row> back = testing::TableRows(**db, "docs");
  ASSERT_EQ(back.size(), expected.size());
  EXPECT_EQ((*db)->GetTable("docs")->last_auto_number, 5001u);
  for (size_t i = 0; i < expected.size(); ++i) {
    for (size_t c = 0; c < expected[i].size(); ++c) {
      ASSERT_EQ(FormatValue(back[i][c]), FormatValue(expected[i][c])) << "row " << i << " column " << c;
    }
  }
  EXPECT_TRUE((*db)->CheckIntegrity().ok()) << (*db)->CheckIntegrity().ToString();
}

// Each column of testdata/mdb_schema_columns.json shows in mdb-schema as its line there.
TEST(InsertTest, MdbSchemaShowsEveryColumnType) {
  const fs::path path = TempPath("schema.mdb");
  const auto data = nlohmann::json::parse(std::ifstream(TABULON_JET_TESTDATA "/mdb_schema_columns.json"));
  TableDefinition t = testing::NewTable("Every Type");
  for (const auto& c : data["columns"]) {
    t.columns.push_back(
        NewColumn(c["name"], testing::ColumnTypeNamed(c["type"]), c.value("size", 0), c.value("scale", 0)));
    t.columns.back().required = c.value("required", false);
    if (c.value("autonumber", false)) t.columns.back().flags |= kColumnAutoNumber;
  }
  {
    auto created = Database::Create(path.string());
    ASSERT_TRUE(created.ok());
    ASSERT_TRUE((*created)->CreateTable(t).ok());
  }
  auto schema = testing::MdbToolsSchema(path.string());
  ASSERT_TRUE(schema.ok()) << schema.status().ToString();
  EXPECT_NE(schema->find("CREATE TABLE [Every Type]"), std::string::npos) << *schema;
  for (const auto& c : data["columns"]) {
    EXPECT_NE(schema->find(c["line"].get<std::string>()), std::string::npos) << c << "\n" << *schema;
  }
}

TEST(InsertTest, RefusesBadRowsWithoutWritingAnything) {
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  auto db = Database::Create(std::make_unique<MemoryFile>(bytes));
  ASSERT_TRUE(db.ok());
  TableDefinition t = testing::NewTable("T");
  ColumnDefinition required = NewColumn("Must", ColumnType::kLong);
  required.required = true;
  t.columns = {required, NewColumn("Short", ColumnType::kText, 5)};
  for (int i = 0; i < 20; ++i) t.columns.push_back(NewColumn("Wide" + std::to_string(i), ColumnType::kText, 255));
  ASSERT_TRUE((*db)->CreateTable(t).ok());
  const std::vector<uint8_t> before = *bytes;

  Row ok_row(22, Null{});
  ok_row[0] = 1;
  Row too_long = ok_row;
  too_long[1] = std::string("123456");
  Row null_required(22, Null{});
  Row too_wide = ok_row;
  for (size_t i = 2; i < 22; ++i) too_wide[i] = std::string(255, '\x01');  // stays uncompressed
  Row wrong_type = ok_row;
  wrong_type[0] = std::string("one");

  for (const Row& bad : {too_long, null_required, too_wide, wrong_type}) {
    Status s = (*db)->InsertRows("T", std::vector<Row>{ok_row, bad});
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find("row 2"), std::string::npos) << s.ToString();
    EXPECT_EQ(*bytes, before) << "a failed insert left changes: " << s.ToString();
  }
  EXPECT_EQ((*db)->InsertRow("Missing", ok_row).code(), ErrorCode::kNotFound);
  EXPECT_TRUE((*db)->InsertRow("t", ok_row).ok()) << "table names are case-insensitive";
  // Required survives reopening: it is stored as the column's property.
  auto reopened = Database::Open(std::make_unique<MemoryFile>(bytes), OpenMode::kReadWrite);
  ASSERT_TRUE(reopened.ok());
  EXPECT_EQ((*reopened)->InsertRow("T", null_required).code(), ErrorCode::kInvalidArgument);
}

TEST(TableOperationsTest, CreateRenameDeleteDropKeepEveryReaderHappy) {
  const fs::path path = TempPath("ops.mdb");
  auto created = Database::Create(path.string());
  ASSERT_TRUE(created.ok());
  Database& db = **created;
  TableDefinition t;
  t.columns = {NewColumn("N", ColumnType::kLong), NewColumn("Text", ColumnType::kMemo)};
  for (int i = 0; i < 120; ++i) {  // enough catalog rows for multi-page catalog indexes
    t.name = "Table " + std::to_string(i);
    ASSERT_TRUE(db.CreateTable(t).ok()) << i;
  }
  t.name = "TABLE 7";
  EXPECT_EQ(db.CreateTable(t).code(), ErrorCode::kAlreadyExists);
  t.name = "Bad.Name";
  EXPECT_EQ(db.CreateTable(t).code(), ErrorCode::kInvalidArgument);
  t.name = "\xCE\xA9mega";
  EXPECT_EQ(db.CreateTable(t).code(), ErrorCode::kUnsupported);

  std::vector<Row> rows;
  for (int32_t i = 0; i < 1000; ++i) rows.push_back({i, std::string(i % 7 == 0 ? 5000 : 10, 'm')});
  ASSERT_TRUE(db.InsertRows("Table 3", rows).ok());
  auto deleted = db.DeleteRows("Table 3", [](const Row& r) { return std::get<int32_t>(r[0]) % 2 == 1; });
  ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
  EXPECT_EQ(*deleted, 500u);
  ASSERT_TRUE(db.RenameTable("Table 3", "Kept \xC3\xA9t\xC3\xA9").ok());
  EXPECT_EQ(db.RenameTable("Table 4", "table 5").code(), ErrorCode::kAlreadyExists);
  EXPECT_EQ(db.DropTable("MSysObjects").code(), ErrorCode::kInvalidArgument);
  const uint32_t pages_before_drop = db.page_count();
  ASSERT_TRUE(db.InsertRows("Table 9", rows).ok());
  const uint32_t pages_with_rows = db.page_count();
  ASSERT_TRUE(db.DropTable("Table 9").ok());
  // The dropped table's pages are reused by the next table instead of growing the file.
  ASSERT_TRUE(db.InsertRows("Table 10", rows).ok());
  EXPECT_EQ(db.page_count(), pages_with_rows);
  EXPECT_GT(pages_with_rows, pages_before_drop);
  for (int i = 20; i < 110; ++i) ASSERT_TRUE(db.DropTable("Table " + std::to_string(i)).ok()) << i;
  created->reset();

  auto reopened = Database::Open(path.string(), OpenMode::kReadWrite);
  ASSERT_TRUE(reopened.ok()) << reopened.status().ToString();
  auto tables = (*reopened)->ListTables();
  ASSERT_TRUE(tables.ok());
  EXPECT_EQ(tables->size(), 120u - 1 - 90);
  // Writing continues after reopening.
  ASSERT_TRUE((*reopened)->InsertRow("Table 0", {int32_t{42}, std::string("after")}).ok());
  reopened->reset();

  std::vector<Row> kept = rows;
  std::erase_if(kept, [](const Row& r) { return std::get<int32_t>(r[0]) % 2 == 1; });
  EXPECT_EQ(testing::CompareTableWithReaders(path.string(), "Kept \xC3\xA9t\xC3\xA9", t.columns, kept), "");
  EXPECT_EQ(testing::CompareTableWithReaders(path.string(), "Table 10", t.columns, rows), "");
  auto listed = testing::MdbToolsTables(path.string());
  ASSERT_TRUE(listed.ok());
  EXPECT_EQ(listed->size(), 29u);
}

}  // namespace
}  // namespace tabulon::jet
