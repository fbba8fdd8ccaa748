// Indexes of files Access wrote: definitions as their JSON dumps list them, key bytes equal to
// what this engine builds for the same values, and seeks that find every row.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "jet/database.h"
#include "jet/format/index_page.h"
#include "jet/index_key.h"
#include "jet/values.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;

const fs::path kFixtures = fs::path(TABULON_SHARED_DIR) / "fixtures" / "access";

std::string Hex(const std::string& bytes) { return FormatHex(bytes); }

const ColumnDefinition* ColumnByNumber(const TableDefinition& table, uint16_t number) {
  for (const ColumnDefinition& c : table.columns) {
    if (c.number == number) return &c;
  }
  return nullptr;
}

// Every user index of every table of the fixture: its stored entries must be the keys this
// engine builds from the rows they point to, and a seek with the row's values finds the row.
void CheckFixtureIndexes(const std::string& file, int* checked_entries) {
  SCOPED_TRACE(file);
  auto db = Database::Open((kFixtures / file).string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto tables = (*db)->ListTables();
  ASSERT_TRUE(tables.ok());
  for (const std::string& name : *tables) {
    auto table = (*db)->GetTable(name);
    ASSERT_TRUE(table.ok()) << table.status().ToString();
    for (const IndexDefinition& index : table->indexes) {
      SCOPED_TRACE(name + "." + index.name);
      auto entries = format::ReadIndexEntries((*db)->pager(), index.root_page);
      ASSERT_TRUE(entries.ok()) << entries.status().ToString();
      // Rows whose key columns are all Null stay out of an ignore-nulls index.
      if ((index.flags & 0x02) == 0) {
        EXPECT_EQ(entries->size(), table->row_count);
      }
      for (const format::IndexEntry& e : *entries) {
        auto row = (*db)->ReadRow(*table, e.row_pointer);
        ASSERT_TRUE(row.ok()) << row.status().ToString();
        std::string key;
        Row seek;
        bool encodable = true;
        for (const IndexColumn& ic : index.columns) {
          const ColumnDefinition* column = ColumnByNumber(*table, ic.column_number);
          ASSERT_NE(column, nullptr);
          const Value& value = (*row)[static_cast<size_t>(column - table->columns.data())];
          encodable &= AppendColumnKey(*column, value, ic.ascending, key).ok();
          seek.push_back(value);
        }
        if (!encodable) continue;
        EXPECT_EQ(Hex(key), Hex(e.key));
        auto found = (*db)->SeekIndex(name, index.name, seek);
        ASSERT_TRUE(found.ok()) << found.status().ToString();
        EXPECT_NE(std::find(found->begin(), found->end(), e.row_pointer), found->end());
        ++*checked_entries;
      }
    }
  }
  EXPECT_TRUE((*db)->CheckIntegrity().ok()) << (*db)->CheckIntegrity().ToString();
}

TEST(IndexFixtureTest, AccessWrittenKeysEqualOursAndSeeksFindEveryRow) {
  if (!fs::exists(kFixtures)) GTEST_SKIP() << "no fixtures";
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(kFixtures)) {
    if (entry.path().extension() == ".mdb") CheckFixtureIndexes(entry.path().filename(), &checked);
  }
  EXPECT_GT(checked, 500);
}

// The JSON dump names each index with its columns, order and flags.
TEST(IndexFixtureTest, DefinitionsReadBackAsDumped) {
  if (!fs::exists(kFixtures)) GTEST_SKIP() << "no fixtures";
  for (const char* file : {"indexTestV2000", "compIndexTestV2000", "bigIndexTestV2000", "testIndexPropertiesV2000"}) {
    SCOPED_TRACE(file);
    std::ifstream in(kFixtures / (std::string(file) + ".json"));
    std::stringstream text;
    text << in.rdbuf();
    const std::string json = text.str();
    auto db = Database::Open((kFixtures / (std::string(file) + ".mdb")).string(), OpenMode::kReadOnly);
    ASSERT_TRUE(db.ok());
    auto tables = (*db)->ListTables();
    ASSERT_TRUE(tables.ok());
    int seen = 0;
    for (const std::string& name : *tables) {
      auto table = (*db)->GetTable(name);
      ASSERT_TRUE(table.ok());
      for (const IndexDefinition& index : table->indexes) {
        // The dump's own text for this index, built from what we read.
        std::string columns;
        for (const IndexColumn& ic : index.columns) {
          if (!columns.empty()) columns += ", ";
          columns += "{\"name\": \"" + ColumnByNumber(*table, ic.column_number)->name +
                     "\", \"ascending\": " + (ic.ascending ? "true" : "false") + "}";
        }
        char flags[8];
        std::snprintf(flags, sizeof flags, "0x%02x", index.flags);
        const std::string expected =
            "{\"name\": \"" + index.name + "\", \"indexNumber\": " + std::to_string(index.logical_number) +
            ", \"indexDataNumber\": " + std::to_string(index.real_number) + ", \"columns\": [" + columns +
            "], \"primaryKey\": " + (index.index_type == 1 ? "true" : "false");
        EXPECT_NE(json.find(expected), std::string::npos) << expected;
        EXPECT_NE(json.find("\"rawIndexFlags\": \"" + std::string(flags) + "\""), std::string::npos);
        ++seen;
      }
    }
    EXPECT_GT(seen, 0);
  }
}

// Keys Access and other Jet writers produce for these values (one per type and rule).
TEST(IndexKeyTest, KnownKeys) {
  struct Case {
    ColumnDefinition column;
    Value value;
    bool ascending;
    const char* hex;
  };
  Guid guid;
  const uint8_t guid_bytes[16] = {0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0,
                                  0xB4, 0x2D, 0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF};
  std::copy(std::begin(guid_bytes), std::end(guid_bytes), guid.bytes.begin());
  const ColumnDefinition text = NewColumn("T", ColumnType::kText, 50);
  const Case cases[] = {
      {text, std::string("Tables"), true, "7f6d4a4c5e516b0100"},
      {text, std::string("  x  "), true, "7f0707750100"},
      {text, std::string("Café"), true, "7f4d4a5351010202020e00"},
      {text, std::string("Zürich"), true, "7f786f69594d57010213 00"},
      {text, std::string("co-op"), true, "7f4d64646601010101800f068200"},
      {text, std::string("O'Brien"), true, "7f644c695951620101010180 0b068000"},
      {text, std::string("Abc"), false, "80b5b3b2feff00"},
      {text, Null{}, false, "ff"},
      {NewColumn("L", ColumnType::kLong), int32_t{1}, true, "7f80000001"},
      {NewColumn("L", ColumnType::kLong), Null{}, true, "00"},
      {NewColumn("C", ColumnType::kCurrency), Currency{15000}, true, "7f8000000000003a98"},
      {NewColumn("C", ColumnType::kCurrency), Currency{-15000}, true, "7f7fffffffffffc568"},
      {NewColumn("D", ColumnType::kDateTime), DateTime{25569.0}, true, "7fc0d8f84000000000"},
      {NewColumn("N", ColumnType::kNumeric, 18, 2), *Decimal::Parse("12.34", 2), true,
       "7fff000000000000000000000000000004d2"},
      {NewColumn("N", ColumnType::kNumeric, 18, 2), *Decimal::Parse("-12.34", 2), true,
       "7f00fffffffffffffffffffffffffffffb2d"},
      {NewColumn("B", ColumnType::kBoolean), true, true, "7f00"},
      {NewColumn("B", ColumnType::kBoolean), false, true, "7fff"},
      {NewColumn("Y", ColumnType::kByte), uint8_t{200}, true, "7fc8"},
      {NewColumn("G", ColumnType::kGuid), guid, true, "7f6f9619ff8b86d01109b42d00c04fc964ff08"},
      {NewColumn("R", ColumnType::kBinary, 20), Bytes{"\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a"}, true,
       "7f010203040506070809090a00000000000002"},
  };
  for (const Case& c : cases) {
    std::string key;
    ASSERT_TRUE(AppendColumnKey(c.column, c.value, c.ascending, key).ok());
    std::string want = c.hex;
    want.erase(std::remove(want.begin(), want.end(), ' '), want.end());
    EXPECT_EQ(Hex(key), want) << FormatValue(c.value).value_or("Null");
  }
  std::string key;
  EXPECT_EQ(AppendColumnKey(text, std::string("Мир"), true, key).code(), ErrorCode::kUnsupported);
}

}  // namespace
}  // namespace tabulon::jet
