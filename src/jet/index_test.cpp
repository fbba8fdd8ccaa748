// User indexes: seeks and range scans agree with filtered full scans after inserts and deletes,
// uniqueness is enforced without leaving traces, unknown text characters take the index off
// instead of leaving it wrong. Files Access wrote: definitions as their JSON dumps list them,
// stored keys equal to what this engine builds for the same values, seeks that find every row,
// and known keys of every type.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "base/text.h"
#include "jet/database.h"
#include "jet/format/index_page.h"
#include "jet/index_key.h"
#include "jet/values.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;

fs::path TempPath(const std::string& name) { return testing::ScratchFile("index", name); }

std::unique_ptr<Database> NewDatabase(const fs::path& path) {
  auto db = Database::Create(path.string());
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  return db.ok() ? std::move(*db) : nullptr;
}

TableDefinition Table(std::string name, std::vector<ColumnDefinition> columns) {
  TableDefinition t;
  t.name = std::move(name);
  t.columns = std::move(columns);
  return t;
}

IndexSpec Index(std::string name, std::vector<IndexKeyColumn> columns, bool unique = false) {
  IndexSpec spec;
  spec.name = std::move(name);
  spec.columns = std::move(columns);
  spec.unique = unique;
  return spec;
}

IndexSpec PrimaryKey(const std::string& column) {
  IndexSpec key = Index("PrimaryKey", {{column, true}});
  key.primary = true;
  return key;
}

// Jet's text equality: case and trailing spaces do not count; accents, apostrophes and hyphens do.
std::string TextIdentity(const std::string& utf8) {
  std::u16string text = Utf8ToUtf16(utf8).value();
  while (!text.empty() && text.back() == u' ') text.pop_back();
  for (char16_t& c : text) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = static_cast<char16_t>(c + 0x20);
  }
  return Utf16ToUtf8(text);
}

bool SameKeyValue(const Value& a, const Value& b) {
  if (const auto* x = std::get_if<std::string>(&a)) {
    const auto* y = std::get_if<std::string>(&b);
    return y && TextIdentity(*x) == TextIdentity(*y);
  }
  return FormatValue(a) == FormatValue(b);
}

// Numbers as doubles for range filters.
double Number(const Value& v) {
  if (const auto* x = std::get_if<int32_t>(&v)) return *x;
  if (const auto* x = std::get_if<int16_t>(&v)) return *x;
  if (const auto* x = std::get_if<uint8_t>(&v)) return *x;
  if (const auto* x = std::get_if<Currency>(&v)) return static_cast<double>(x->scaled);
  if (const auto* x = std::get_if<DateTime>(&v)) return x->days;
  if (const auto* x = std::get_if<double>(&v)) return *x;
  if (const auto* x = std::get_if<float>(&v)) return *x;
  return 0;
}

const char* const kWords[] = {"Café",   "cafe",   "CAFÉ",       "O'Brien", "OBrien",     "co-op",  "coop",
                              "Zürich", "zurich", "Ærøskøbing", "Núñez",   "d'Artagnan", "  lead", "trail  ",
                              "",       "straße", "A-B",        "ab",      "x",          "ÿ"};

// ID, Name, Money, When, Flag, Small, Int, Dbl, Sgl, Dec, G, Raw, Notes
TableDefinition Mixed(const std::string& name) {
  return Table(name, {NewColumn("ID", ColumnType::kLong), NewColumn("Name", ColumnType::kText, 40),
                      NewColumn("Money", ColumnType::kCurrency), NewColumn("When", ColumnType::kDateTime),
                      NewColumn("Flag", ColumnType::kBoolean), NewColumn("Small", ColumnType::kByte),
                      NewColumn("Int", ColumnType::kInteger), NewColumn("Dbl", ColumnType::kDouble),
                      NewColumn("Sgl", ColumnType::kSingle), NewColumn("Dec", ColumnType::kNumeric, 18, 4),
                      NewColumn("G", ColumnType::kGuid), NewColumn("Raw", ColumnType::kBinary, 20),
                      NewColumn("Notes", ColumnType::kMemo)});
}

Row RandomRow(std::mt19937& random, int32_t id) {
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto maybe = [&](Value v) { return pick(6) == 0 ? Value(Null{}) : v; };
  Guid g;
  for (auto& b : g.bytes) b = static_cast<uint8_t>(pick(3));
  Decimal dec = *Decimal::Parse(std::to_string(pick(41) - 20) + ".5", 4);
  return {id,
          maybe(std::string(kWords[pick(20)])),
          maybe(Currency{(pick(21) - 10) * 2500}),
          maybe(DateTime{36000.0 + pick(30) * 0.25 - 3}),
          pick(2) == 0,
          maybe(static_cast<uint8_t>(pick(5) * 60)),
          maybe(static_cast<int16_t>(pick(61) - 30)),
          maybe(static_cast<double>(pick(41) - 20) / 4),
          maybe(static_cast<float>(pick(9) - 4)),
          maybe(dec),
          maybe(g),
          maybe(Bytes{std::string(static_cast<size_t>(pick(12)), static_cast<char>('a' + pick(3)))}),
          maybe(std::string(kWords[pick(20)]))};
}

struct Stored {
  RowPointer where;
  Row row;
};

std::vector<Stored> AllRows(Database& db, const std::string& table) {
  std::vector<Stored> rows;
  auto def = db.GetTable(table);
  EXPECT_TRUE(def.ok());
  EXPECT_TRUE(db.ScanRows(*def, [&](RowPointer where, const Row& row) {
                  rows.push_back({where, row});
                  return Status::Ok();
                }).ok());
  return rows;
}

std::vector<RowPointer> Sorted(std::vector<RowPointer> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// Every seek on the single-column indexes and the two-column one, and numeric ranges, must
// return exactly the rows a filtered scan finds.
void ExpectIndexesMatchScans(Database& db, std::mt19937& random) {
  const std::vector<Stored> rows = AllRows(db, "Mixed");
  ASSERT_FALSE(rows.empty());
  const std::vector<std::pair<std::string, size_t>> single = {
      {"PrimaryKey", 0}, {"ByName", 1},    {"ByMoney", 2},  {"ByWhen", 3},    {"ByFlag", 4},
      {"BySmall", 5},    {"ByIntDesc", 6}, {"ByDbl", 7},    {"BySgl", 8},     {"ByDec", 9},
      {"ByG", 10},       {"ByRaw", 11},    {"ByNotes", 12}, {"ByNameDesc", 1}};
  for (int probe = 0; probe < 40; ++probe) {
    const Row& sample = rows[random() % rows.size()].row;
    for (const auto& [index, column] : single) {
      SCOPED_TRACE(index + " = " + FormatValue(sample[column]).value_or("Null"));
      auto found = db.SeekIndex("Mixed", index, {sample[column]});
      ASSERT_TRUE(found.ok()) << found.status().ToString();
      std::vector<RowPointer> want;
      for (const Stored& s : rows) {
        if (SameKeyValue(s.row[column], sample[column])) want.push_back(s.where);
      }
      EXPECT_EQ(Sorted(*found), Sorted(want));
    }
    // Two columns: a prefix seek and a full seek.
    auto prefix = db.SeekIndex("Mixed", "ByIntName", {sample[6]});
    auto full = db.SeekIndex("Mixed", "ByIntName", {sample[6], sample[1]});
    ASSERT_TRUE(prefix.ok() && full.ok());
    std::vector<RowPointer> want_prefix;
    std::vector<RowPointer> want_full;
    for (const Stored& s : rows) {
      if (!SameKeyValue(s.row[6], sample[6])) continue;
      want_prefix.push_back(s.where);
      if (SameKeyValue(s.row[1], sample[1])) want_full.push_back(s.where);
    }
    EXPECT_EQ(Sorted(*prefix), Sorted(want_prefix));
    EXPECT_EQ(Sorted(*full), Sorted(want_full));
    // Ranges over numeric columns (bounds in index order; ByIntDesc runs high to low).
    for (const auto& [index, column] : std::vector<std::pair<std::string, size_t>>{
             {"ByMoney", 2}, {"ByWhen", 3}, {"ByDbl", 7}, {"BySmall", 5}, {"ByIntDesc", 6}}) {
      const Value& a = rows[random() % rows.size()].row[column];
      const Value& b = rows[random() % rows.size()].row[column];
      if (std::holds_alternative<Null>(a) || std::holds_alternative<Null>(b)) continue;
      const bool descending = index == "ByIntDesc";
      const bool swap = (Number(a) > Number(b)) != descending;
      const Value& low = swap ? b : a;
      const Value& high = swap ? a : b;
      const bool low_inclusive = probe % 2 == 0;
      IndexRange range{IndexBound{{low}, low_inclusive}, IndexBound{{high}, true}};
      SCOPED_TRACE(index + " range " + *FormatValue(low) + ".." + *FormatValue(high));
      auto found = db.ScanIndexRange("Mixed", index, range);
      ASSERT_TRUE(found.ok()) << found.status().ToString();
      std::vector<RowPointer> want;
      const double lo = std::min(Number(a), Number(b));
      const double hi = std::max(Number(a), Number(b));
      for (const Stored& s : rows) {
        if (std::holds_alternative<Null>(s.row[column])) continue;
        const double v = Number(s.row[column]);
        const double excluded = descending ? hi : lo;
        if (v >= lo && v <= hi && (low_inclusive || v != excluded)) want.push_back(s.where);
      }
      EXPECT_EQ(Sorted(*found), Sorted(want));
    }
  }
  // Open-ended: everything, in index order, once.
  auto all = db.ScanIndexRange("Mixed", "ByName", IndexRange{});
  ASSERT_TRUE(all.ok());
  EXPECT_EQ(all->size(), rows.size());
}

TEST(IndexWriteTest, SeeksAndRangesMatchFilteredScansAfterInsertsAndDeletes) {
  const fs::path path = TempPath("mixed.mdb");
  auto db = NewDatabase(path);
  ASSERT_TRUE(db);
  ASSERT_TRUE(db->CreateTable(Mixed("Mixed")).ok());
  std::mt19937 random(7);
  int32_t next_id = 1;
  auto insert = [&](int count) {
    std::vector<Row> batch;
    // Ids out of order, so the primary key is not filled at its end only.
    for (int i = 0; i < count; ++i) batch.push_back(RandomRow(random, (next_id++ * 7919) % 100003));
    Status s = db->InsertRows("Mixed", batch);
    ASSERT_TRUE(s.ok()) << s.ToString();
  };
  insert(300);  // rows before the indexes: built in bulk
  for (const IndexSpec& spec :
       {PrimaryKey("ID"), Index("ByName", {{"Name", true}}), Index("ByNameDesc", {{"Name", false}}),
        Index("ByMoney", {{"Money", true}}), Index("ByWhen", {{"When", true}}), Index("ByFlag", {{"Flag", true}}),
        Index("BySmall", {{"Small", true}}), Index("ByIntDesc", {{"Int", false}}), Index("ByDbl", {{"Dbl", true}}),
        Index("BySgl", {{"Sgl", false}}), Index("ByDec", {{"Dec", true}}), Index("ByG", {{"G", true}}),
        Index("ByRaw", {{"Raw", false}}), Index("ByNotes", {{"Notes", true}}),
        Index("ByIntName", {{"Int", true}, {"Name", false}})}) {
    Status s = db->CreateIndex("Mixed", spec);
    ASSERT_TRUE(s.ok()) << spec.name << ": " << s.ToString();
  }
  ExpectIndexesMatchScans(*db, random);
  insert(2500);  // enough for trees of several pages
  auto deleted = db->DeleteRows("Mixed", [](const Row& row) {
    const auto* small = std::get_if<uint8_t>(&row[5]);
    return small && *small == 120;
  });
  ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
  EXPECT_GT(*deleted, 0u);
  insert(200);
  ASSERT_TRUE(db->CheckIntegrity().ok()) << db->CheckIntegrity().ToString();
  ExpectIndexesMatchScans(*db, random);

  // The same after reopening: everything came from the file.
  db.reset();
  auto reopened = Database::Open(path.string(), OpenMode::kReadWrite);
  ASSERT_TRUE(reopened.ok());
  ASSERT_TRUE((*reopened)->CheckIntegrity().ok()) << (*reopened)->CheckIntegrity().ToString();
  ExpectIndexesMatchScans(**reopened, random);
  auto table = (*reopened)->GetTable("Mixed");
  ASSERT_TRUE(table.ok());
  for (const IndexDefinition& index : table->indexes) {
    if (index.name == "PrimaryKey") {
      EXPECT_EQ(index.flags, 0x89);
      EXPECT_EQ(index.index_type, 1);
      EXPECT_EQ(index.unique_entry_count, table->row_count);
    }
  }
}

TEST(IndexWriteTest, UniqueAndRequiredViolationsWriteNothing) {
  const fs::path path = TempPath("unique.mdb");
  auto db = NewDatabase(path);
  ASSERT_TRUE(db);
  ASSERT_TRUE(
      db->CreateTable(Table("People", {NewColumn("ID", ColumnType::kLong), NewColumn("Email", ColumnType::kText, 60),
                                       NewColumn("Notes", ColumnType::kMemo)}))
          .ok());
  ASSERT_TRUE(
      db->InsertRows("People", {{int32_t{1}, std::string("a@x"), Null{}}, {int32_t{2}, std::string("b@x"), Null{}}})
          .ok());
  // Existing duplicates refuse the unique index; nothing of it remains.
  ASSERT_TRUE(db->InsertRow("People", {int32_t{3}, std::string("A@X "), Null{}}).ok());
  Status refused = db->CreateIndex("People", Index("Email", {{"Email", true}}, true));
  EXPECT_EQ(refused.code(), ErrorCode::kAlreadyExists) << refused.ToString();
  EXPECT_TRUE(db->GetTable("People")->indexes.empty());
  ASSERT_EQ(*db->DeleteRows("People", [](const Row& r) { return std::get<int32_t>(r[0]) == 3; }), 1u);

  const IndexSpec pk = PrimaryKey("ID");
  ASSERT_TRUE(db->CreateIndex("People", pk).ok());
  ASSERT_TRUE(db->CreateIndex("People", Index("Email", {{"Email", true}}, true)).ok());
  const uint32_t pages = db->page_count();

  // A duplicate inside a batch, against stored rows, case-insensitively, and a Null key.
  for (const auto& batch : std::vector<std::vector<Row>>{
           {{int32_t{10}, std::string("c@x"), std::string(5000, 'n')}, {int32_t{1}, std::string("d@x"), Null{}}},
           {{int32_t{11}, std::string("e@x"), Null{}}, {int32_t{12}, std::string("e@x"), Null{}}},
           {{int32_t{13}, std::string("B@X"), Null{}}},
           {{int32_t{30}, std::string("q@x"), Null{}},
            {int32_t{31}, std::string("g@x"), Null{}},
            {int32_t{32}, std::string("Q@x"), Null{}}},  // found once the batch is sorted
           {{Null{}, std::string("f@x"), Null{}}}}) {
    Status s = db->InsertRows("People", batch);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find("'People'"), std::string::npos) << s.ToString();
  }
  Status dup = db->InsertRow("People", {int32_t{2}, std::string("z@x"), Null{}});
  EXPECT_EQ(dup.code(), ErrorCode::kAlreadyExists);
  EXPECT_NE(dup.message().find("PrimaryKey"), std::string::npos) << dup.ToString();
  EXPECT_NE(dup.message().find("ID='2'"), std::string::npos) << dup.ToString();
  EXPECT_EQ(db->InsertRow("People", {Null{}, std::string("y@x"), Null{}}).code(), ErrorCode::kInvalidArgument);

  auto rows = db->ReadAllRows(*db->GetTable("People"));
  ASSERT_TRUE(rows.ok());
  EXPECT_EQ(rows->size(), 2u);
  EXPECT_LE(db->page_count(), pages + 1);
  // Several Nulls are fine in a unique index; a deleted key can come back.
  ASSERT_TRUE(db->InsertRows("People", {{int32_t{20}, Null{}, Null{}}, {int32_t{21}, Null{}, Null{}}}).ok());
  ASSERT_EQ(*db->DeleteRows("People", [](const Row& r) { return std::get<int32_t>(r[0]) == 1; }), 1u);
  ASSERT_TRUE(db->InsertRow("People", {int32_t{1}, std::string("a@x"), Null{}}).ok());
  EXPECT_EQ(db->SeekIndex("People", "Email", {std::string("A@x")})->size(), 1u);
  EXPECT_EQ(db->SeekIndex("People", "Email", {Null{}})->size(), 2u);
  EXPECT_TRUE(db->CheckIntegrity().ok()) << db->CheckIntegrity().ToString();

  // Bad definitions.
  EXPECT_EQ(db->CreateIndex("People", pk).code(), ErrorCode::kAlreadyExists);
  IndexSpec second_pk = Index("Other", {{"Email", true}});
  second_pk.primary = true;
  EXPECT_FALSE(db->CreateIndex("People", second_pk).ok());
  EXPECT_EQ(db->CreateIndex("People", Index("X", {{"Nope", true}})).code(), ErrorCode::kNotFound);
  EXPECT_FALSE(db->CreateIndex("People", Index("Y", {})).ok());
  EXPECT_FALSE(db->CreateIndex("People", Index("Z", {{"ID", true}, {"id", false}})).ok());

  // Dropping the first index (names without case) moves the other down to number 0.
  ASSERT_TRUE(db->DropIndex("People", "primarykey").ok());
  auto table = db->GetTable("People");
  ASSERT_EQ(table->indexes.size(), 1u);
  EXPECT_EQ(table->indexes[0].real_number, 0u);
  EXPECT_EQ(table->indexes[0].logical_number, 0u);
  EXPECT_EQ(db->SeekIndex("People", "Email", {std::string("b@x")})->size(), 1u);
  EXPECT_EQ(db->DropIndex("People", "PrimaryKey").code(), ErrorCode::kNotFound);
  EXPECT_TRUE(db->CheckIntegrity().ok()) << db->CheckIntegrity().ToString();
}

TEST(IndexWriteTest, UnknownCharacterRemovesTheIndexAndKeepsTheRow) {
  const fs::path path = TempPath("unknown.mdb");
  auto db = NewDatabase(path);
  ASSERT_TRUE(db);
  ASSERT_TRUE(
      db->CreateTable(Table("Cities", {NewColumn("ID", ColumnType::kLong), NewColumn("Name", ColumnType::kText, 40)}))
          .ok());
  ASSERT_TRUE(db->InsertRow("Cities", {int32_t{1}, std::string("Paris")}).ok());
  ASSERT_TRUE(db->CreateIndex("Cities", PrimaryKey("ID")).ok());
  ASSERT_TRUE(db->CreateIndex("Cities", Index("ByName", {{"Name", true}})).ok());
  EXPECT_TRUE(db->TakeDroppedIndexes().empty());

  // Inside a batch too, the removal is reported as soon as the insert that caused it returns.
  ASSERT_TRUE(db->BeginBatch().ok());
  ASSERT_TRUE(db->InsertRow("Cities", {int32_t{2}, std::string("Москва")}).ok());
  std::vector<DroppedIndex> dropped = db->TakeDroppedIndexes();
  ASSERT_TRUE(db->CommitBatch().ok());
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].table, "Cities");
  EXPECT_EQ(dropped[0].index, "ByName");
  EXPECT_NE(dropped[0].ToStatus().message().find("U+041C"), std::string::npos) << dropped[0].ToStatus().ToString();
  auto table = db->GetTable("Cities");
  ASSERT_TRUE(table.ok());
  ASSERT_EQ(table->indexes.size(), 1u);
  EXPECT_EQ(table->indexes[0].name, "PrimaryKey");
  EXPECT_EQ(db->ReadAllRows(*table)->size(), 2u);
  // The primary key still works and is still enforced.
  EXPECT_EQ(db->SeekIndex("Cities", "PrimaryKey", {int32_t{2}})->size(), 1u);
  EXPECT_FALSE(db->InsertRow("Cities", {int32_t{2}, std::string("x")}).ok());
  EXPECT_TRUE(db->CheckIntegrity().ok()) << db->CheckIntegrity().ToString();
  // Creating such an index over such rows is refused outright.
  Status s = db->CreateIndex("Cities", Index("ByName", {{"Name", true}}));
  EXPECT_EQ(s.code(), ErrorCode::kUnsupported) << s.ToString();
  EXPECT_NE(s.message().find("'ByName'"), std::string::npos);
}

// ---- Files Access wrote ---------------------------------------------------------------

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
      {text, std::string(""), true, "7f0100"},
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
  std::string upper, lower;
  ASSERT_TRUE(AppendTextKey("TABLE1", upper).ok());
  ASSERT_TRUE(AppendTextKey("table1", lower).ok());
  EXPECT_EQ(upper, lower) << "keys are case-insensitive";
}

}  // namespace
}  // namespace tabulon::jet
