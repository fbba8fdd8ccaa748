// Tables and rows written by the engine, read back by the engine and by both independent
// readers, value by value; and the table operations that change the catalog.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "jet/database.h"
#include "jet/values.h"
#include "jet_readers.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;

fs::path TempPath(const std::string& name) { return testing::ScratchFile("insert", name); }

Decimal MakeDecimal(const char* text, uint8_t scale) {
  auto d = Decimal::Parse(text, scale);
  EXPECT_TRUE(d.has_value()) << text;
  return d.value_or(Decimal{});
}

TableDefinition EveryType(const std::string& name) {
  TableDefinition t;
  t.name = name;
  ColumnDefinition id = NewColumn("ID", ColumnType::kLong);
  id.flags |= kColumnAutoNumber;
  t.columns = {id,
               NewColumn("Flag", ColumnType::kBoolean),
               NewColumn("Small", ColumnType::kByte),
               NewColumn("Int", ColumnType::kInteger),
               NewColumn("Money", ColumnType::kCurrency),
               NewColumn("Single", ColumnType::kSingle),
               NewColumn("Double", ColumnType::kDouble),
               NewColumn("When", ColumnType::kDateTime),
               NewColumn("Raw", ColumnType::kBinary, 50),
               NewColumn("Name", ColumnType::kText, 40),
               NewColumn("Blob", ColumnType::kOle),
               NewColumn("Notes", ColumnType::kMemo),
               NewColumn("Guid", ColumnType::kGuid),
               NewColumn("Amount", ColumnType::kNumeric, 18, 4)};
  return t;
}

std::string Repeat(const std::string& s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

std::vector<Row> EveryTypeRows(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<Row> rows;
  const size_t long_sizes[] = {0, 10, 64, 65, 3000, 4076, 4077, 9000, 40000};
  for (size_t i = 0; i < count; ++i) {
    Row r(14, Null{});
    r[0] = Null{};  // AutoNumber
    r[1] = i % 3 == 0;
    if (i % 5 != 1) {
      r[2] = static_cast<uint8_t>(random() % 256);
      r[3] = static_cast<int16_t>(static_cast<int>(random() % 65536) - 32768);
      r[4] = Currency{static_cast<int64_t>(random()) - 2000000000};
      r[5] = static_cast<float>(random() % 100000) / 8.0f;
      r[6] = (static_cast<double>(random()) - 2e9) / 3.0;
      r[7] = DateTime{36526.0 + static_cast<double>(random() % 20000) + (random() % 86400) / 86400.0};
      std::string raw(random() % 51, '\0');
      for (char& c : raw) c = static_cast<char>(random() % 4 == 0 ? 0 : random());
      r[8] = Bytes{raw};
      const char* names[] = {"plain", "Caf\xC3\xA9 cr\xC3\xA8me",  "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1",
                             "",      "O'Brien \"quoted\", comma", "\xE6\xBC\xA2\xE5\xAD\x97"};
      r[9] = std::string(names[i % 6]);
      const size_t size = long_sizes[random() % 9];
      std::string blob(size, '\0');
      for (char& c : blob) c = static_cast<char>(random());
      r[10] = Bytes{blob};
      r[11] = Repeat(i % 2 ? "memo text " : "\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1 ", long_sizes[random() % 9] / 10);
      Guid g;
      for (auto& b : g.bytes) b = static_cast<uint8_t>(random());
      r[12] = g;
      r[13] = MakeDecimal(i % 2 ? "-12345678901234.5678" : "0.0001", 4);
    }
    rows.push_back(std::move(r));
  }
  return rows;
}

// Engine values for comparison: AutoNumber filled in as the engine numbers it.
std::vector<Row> Numbered(std::vector<Row> rows, int32_t first) {
  for (Row& r : rows) {
    if (std::holds_alternative<Null>(r[0])) r[0] = first++;
  }
  return rows;
}

TEST(InsertTest, EveryTypeReadsBackInTheEngineAndBothReaders) {
  const fs::path path = TempPath("types.mdb");
  auto created = Database::Create(path.string());
  ASSERT_TRUE(created.ok()) << created.status().ToString();
  std::unique_ptr<Database> db = std::move(*created);
  ASSERT_TRUE(db->CreateTable(EveryType("Everything")).ok());
  const std::vector<Row> rows = EveryTypeRows(300, 7);
  Status inserted = db->InsertRows("Everything", rows);
  ASSERT_TRUE(inserted.ok()) << inserted.ToString();
  // A 16 MB memo and OLE value: chains of thousands of pages.
  Row big(14, Null{});
  big[0] = 5000;  // an explicit AutoNumber raises the counter
  big[10] = Bytes{std::string(16 * 1024 * 1024 + 3, '\x5A')};
  big[11] = Repeat("0123456789", 1700000);
  ASSERT_TRUE(db->InsertRow("Everything", big).ok());
  Row after(14, Null{});
  ASSERT_TRUE(db->InsertRow("Everything", after).ok());
  db.reset();

  std::vector<Row> expected = Numbered(rows, 1);
  expected.push_back(big);
  after[0] = 5001;
  expected.push_back(after);
  for (Row& r : expected) {
    // Booleans have no NULL: the mask bit reads False.
    if (std::holds_alternative<Null>(r[1])) r[1] = false;
  }

  auto reopened = Database::Open(path.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(reopened.ok()) << reopened.status().ToString();
  auto table = (*reopened)->GetTable("everything");
  ASSERT_TRUE(table.ok()) << table.status().ToString();
  EXPECT_EQ(table->row_count, expected.size());
  EXPECT_EQ(table->last_auto_number, 5001u);
  auto back = (*reopened)->ReadAllRows(*table);
  ASSERT_TRUE(back.ok()) << back.status().ToString();
  ASSERT_EQ(back->size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    for (size_t c = 0; c < expected[i].size(); ++c) {
      ASSERT_EQ(FormatValue((*back)[i][c]), FormatValue(expected[i][c]))
          << "row " << i << " column " << table->columns[c].name;
    }
  }
  Status integrity = (*reopened)->CheckIntegrity();
  EXPECT_TRUE(integrity.ok()) << integrity.ToString();

  // The independent readers get the small rows (the 16 MB ones are too slow through them).
  expected.resize(rows.size());
  ASSERT_TRUE(testing::MdbToolsAvailable() && testing::MdbReaderAvailable());
  const fs::path small = TempPath("types_small.mdb");
  {
    auto db2 = Database::Create(small.string());
    ASSERT_TRUE(db2.ok());
    ASSERT_TRUE((*db2)->CreateTable(EveryType("Everything")).ok());
    ASSERT_TRUE((*db2)->InsertRows("Everything", rows).ok());
  }
  EXPECT_EQ(testing::CompareTableWithReaders(small.string(), "Everything", table->columns, expected), "");
  auto version = testing::MdbToolsVersion(small.string());
  EXPECT_EQ(version.ok() ? *version : "", "JET4");
}

TEST(InsertTest, MdbSchemaShowsEveryColumnType) {
  const fs::path path = TempPath("schema.mdb");
  {
    auto created = Database::Create(path.string());
    ASSERT_TRUE(created.ok());
    TableDefinition t = EveryType("Every Type");
    ColumnDefinition required = NewColumn("Code", ColumnType::kText, 255);
    required.required = true;
    t.columns.push_back(required);
    t.columns.push_back(NewColumn("Wide", ColumnType::kNumeric, 28, 0));
    ASSERT_TRUE((*created)->CreateTable(t).ok());
  }
  auto schema = testing::MdbToolsSchema(path.string());
  ASSERT_TRUE(schema.ok()) << schema.status().ToString();
  // mdbtools' own type words, one line per column.
  const char* const lines[] = {
      "[ID]\t\t\tLong Integer,",     "[Flag]\t\t\tBoolean NOT NULL,",  "[Small]\t\t\tByte,",
      "[Int]\t\t\tInteger,",         "[Money]\t\t\tCurrency,",         "[Single]\t\t\tSingle,",
      "[Double]\t\t\tDouble,",       "[When]\t\t\tDateTime,",          "[Raw]\t\t\tBinary,",
      "[Name]\t\t\tText (40),",      "[Blob]\t\t\tOLE (255),",         "[Notes]\t\t\tMemo/Hyperlink (255),",
      "[Guid]\t\t\tReplication ID,", "[Amount]\t\t\tNumeric (18, 4),", "[Code]\t\t\tText (255) NOT NULL,",
      "[Wide]\t\t\tNumeric (28, 0)"};
  EXPECT_NE(schema->find("CREATE TABLE [Every Type]"), std::string::npos) << *schema;
  for (const char* line : lines) EXPECT_NE(schema->find(line), std::string::npos) << line << "\n" << *schema;
}

TEST(InsertTest, RefusesBadRowsWithoutWritingAnything) {
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  auto db = Database::Create(std::make_unique<MemoryFile>(bytes));
  ASSERT_TRUE(db.ok());
  TableDefinition t;
  t.name = "T";
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
  Status integrity = (*reopened)->CheckIntegrity();
  EXPECT_TRUE(integrity.ok()) << integrity.ToString();
  auto tables = (*reopened)->ListTables();
  ASSERT_TRUE(tables.ok());
  EXPECT_EQ(tables->size(), 120u - 1 - 90);
  // Writing continues after reopening.
  ASSERT_TRUE((*reopened)->InsertRow("Table 0", {int32_t{42}, std::string("after")}).ok());
  reopened->reset();

  std::vector<Row> kept;
  for (const Row& r : rows) {
    if (std::get<int32_t>(r[0]) % 2 == 0) kept.push_back(r);
  }
  std::vector<ColumnDefinition> columns = t.columns;
  EXPECT_EQ(testing::CompareTableWithReaders(path.string(), "Kept \xC3\xA9t\xC3\xA9", columns, kept), "");
  EXPECT_EQ(testing::CompareTableWithReaders(path.string(), "Table 10", columns, rows), "");
  auto listed = testing::MdbToolsTables(path.string());
  ASSERT_TRUE(listed.ok());
  EXPECT_EQ(listed->size(), 29u);
}

}  // namespace
}  // namespace tabulon::jet
