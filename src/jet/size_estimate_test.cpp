// The size estimate against files the engine writes. As a migration does, the tables are first
// made without rows in a scratch file, whose definitions the estimate reads; the real file
// gets the indexes before the rows, the rows in batches (a commit each) and the relationships
// last. The estimate must be within 15% of the file's growth over a new file (EmptyFileBytes),
// and every file passes the integrity check.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>

#include "jet/database.h"
#include "jet/size_estimate.h"
#include "jet_test_db.h"

namespace tabulon::jet {
namespace {

constexpr size_t kBatchRows = 10000;

struct Shape {
  TableDefinition table;
  std::vector<IndexSpec> indexes;
  size_t rows = 0;
  std::function<Row(size_t number, std::mt19937& random)> make_row;
};

// What a migration measures of its source: per column, the values that are not NULL and their
// total length (characters of text, bytes of binary data).
void Measure(const TableDefinition& table, const Row& row, TableVolume& volume) {
  if (volume.columns.empty()) {
    for (const ColumnDefinition& c : table.columns) volume.columns.push_back({c.name, 0, 0});
  }
  ++volume.rows;
  for (size_t i = 0; i < row.size(); ++i) {
    if (std::holds_alternative<Null>(row[i])) continue;
    ColumnVolume& v = volume.columns[i];
    ++v.values;
    if (const auto* text = std::get_if<std::string>(&row[i])) {
      for (char c : *text) v.length += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    } else if (const auto* bytes = std::get_if<Bytes>(&row[i])) {
      v.length += static_cast<long long>(bytes->data.size());
    }
  }
}

// Writes the shapes into a new file in memory; returns the estimate's ratio to the growth.
double WriteAndEstimate(const std::vector<Shape>& shapes, const std::vector<Relationship>& relationships = {}) {
  auto make_tables = [&](Database& db) {
    for (const Shape& shape : shapes) {
      EXPECT_TRUE(db.CreateTable(shape.table).ok());
      for (const IndexSpec& index : shape.indexes) EXPECT_TRUE(db.CreateIndex(shape.table.name, index).ok());
    }
  };
  testing::MemoryDisk scratch_disk;
  auto scratch = Database::Create(scratch_disk.File());
  testing::MemoryDisk disk;
  auto db = Database::Create(disk.File());
  if (!scratch.ok() || !db.ok()) return 0;
  EXPECT_EQ(EmptyFileBytes(), static_cast<long long>(disk.bytes->size()));
  make_tables(**scratch);
  for (const Relationship& r : relationships) EXPECT_TRUE((*scratch)->CreateRelationship(r).ok());
  make_tables(**db);

  long long estimate = 0;
  for (const Shape& shape : shapes) {
    auto definition = (*scratch)->GetTable(shape.table.name);
    EXPECT_TRUE(definition.ok());
    if (!definition.ok()) return 0;
    std::mt19937 random(static_cast<uint32_t>(shape.rows));
    TableVolume volume;
    std::vector<Row> batch;
    for (size_t n = 0; n < shape.rows; ++n) {
      batch.push_back(shape.make_row(n, random));
      Measure(*definition, batch.back(), volume);
      if (batch.size() == kBatchRows || n + 1 == shape.rows) {
        const Status inserted = (*db)->InsertRows(shape.table.name, batch);
        EXPECT_TRUE(inserted.ok()) << inserted.ToString();
        batch.clear();
      }
    }
    const TableSizeEstimate e = EstimateTableSize(*definition, volume);
    estimate += e.total();
    TableDefinition unread = *definition;  // a definition not read from a file is encoded
    unread.definition_length = 0;
    EXPECT_EQ(EstimateTableSize(unread, volume).other_bytes, e.other_bytes) << shape.table.name;
  }
  for (const Relationship& r : relationships) EXPECT_TRUE((*db)->CreateRelationship(r).ok());
  const Status integrity = (*db)->CheckIntegrity();
  EXPECT_TRUE(integrity.ok()) << integrity.ToString();

  const long long actual = static_cast<long long>((*db)->page_count()) * kPageSize - EmptyFileBytes();
  const double ratio = static_cast<double>(estimate) / static_cast<double>(std::max(1LL, actual));
  std::printf("%s (%zu tables): estimate %lld bytes, actual %lld: %+.1f%%\n", shapes.front().table.name.c_str(),
              shapes.size(), estimate, actual, 100 * (ratio - 1));
  return ratio;
}

ColumnDefinition AutoNumber(const std::string& name) {
  ColumnDefinition c = NewColumn(name, ColumnType::kLong);
  c.flags |= kColumnAutoNumber;
  return c;
}

size_t Between(std::mt19937& random, size_t low, size_t high) { return low + random() % (high - low + 1); }

std::string Letters(std::mt19937& random, size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) s.push_back(static_cast<char>('a' + random() % 26));
  return s;
}

IndexSpec PlainIndex(std::string name, std::vector<IndexKeyColumn> columns, bool unique = false) {
  IndexSpec spec;
  spec.name = std::move(name);
  spec.columns = std::move(columns);
  spec.unique = unique;
  return spec;
}

// A table keyed on its first column, "ID", with any further indexes.
Shape Keyed(std::string name, std::vector<ColumnDefinition> columns, size_t rows, std::vector<IndexSpec> more = {}) {
  Shape shape{testing::NewTable(std::move(name), std::move(columns)), {testing::PrimaryKeyOn({"ID"})}, rows, nullptr};
  shape.indexes.insert(shape.indexes.end(), more.begin(), more.end());
  return shape;
}

// The common table: an ascending key, two texts (one stored uncompressed), a number, a date.
TEST(SizeEstimateTest, KeyTextsNumberAndDate) {
  ColumnDefinition city = NewColumn("City", ColumnType::kText, 30);
  city.extra_flags = 0;
  Shape orders = Keyed("Orders",
                       {AutoNumber("ID"), NewColumn("Customer", ColumnType::kText, 50), city,
                        NewColumn("Amount", ColumnType::kDouble), NewColumn("Placed", ColumnType::kDateTime)},
                       100000);
  const char* cities[] = {"Lyon", "Saint-Etienne", "Bordeaux", "Aix", "Montpellier", "Le Havre"};
  orders.make_row = [&](size_t n, std::mt19937& random) -> Row {
    return {static_cast<int32_t>(n + 1), "Customer " + Letters(random, Between(random, 3, 30)),
            random() % 10 == 0 ? Value(Null{}) : Value(std::string(cities[random() % 6])),
            static_cast<double>(random() % 100000) / 100, DateTime{40000.0 + random() % 5000}};
  };
  EXPECT_NEAR(WriteAndEstimate({orders}), 1, 0.15);
}

// Memo values of every stored form mixed: in the row, one long-value row, UTF-16 beyond 1024
// characters, chains; some Null. Then OLE values likewise, beside a fixed-length binary hash.
TEST(SizeEstimateTest, MemoAndOleValues) {
  Shape notes =
      Keyed("Notes",
            {AutoNumber("ID"), NewColumn("Title", ColumnType::kText, 60), NewColumn("Body", ColumnType::kMemo)}, 3000);
  notes.make_row = [](size_t n, std::mt19937& random) -> Row {
    const size_t kind = random() % 20;
    const size_t length = kind < 7    ? Between(random, 0, 60)
                          : kind < 14 ? Between(random, 100, 900)
                          : kind < 17 ? Between(random, 1100, 3000)
                                      : Between(random, 5000, 20000);
    return {static_cast<int32_t>(n + 1), "Note " + Letters(random, Between(random, 5, 50)),
            kind == 19 ? Value(Null{}) : Value(Letters(random, length))};
  };
  EXPECT_NEAR(WriteAndEstimate({notes}), 1, 0.15);

  Shape files =
      Keyed("Files",
            {AutoNumber("ID"), NewColumn("Hash", ColumnType::kBinary, 20), NewColumn("Data", ColumnType::kOle)}, 2000);
  files.make_row = [](size_t n, std::mt19937& random) -> Row {
    const size_t kind = random() % 10;
    const size_t size = kind < 3   ? Between(random, 10, 64)
                        : kind < 7 ? Between(random, 100, 3000)
                                   : Between(random, 5000, 30000);
    return {static_cast<int32_t>(n + 1), Bytes{Letters(random, 20)}, Bytes{Letters(random, size)}};
  };
  EXPECT_NEAR(WriteAndEstimate({files}), 1, 0.15);
}

// A unique text index and a composite index whose keys arrive in no order, and a table
// referring to it: the foreign-key index is built over the rows once they are in.
TEST(SizeEstimateTest, UniqueCompositeAndForeignKeyIndexes) {
  Shape people = Keyed(
      "People",
      {NewColumn("ID", ColumnType::kLong), NewColumn("Email", ColumnType::kText, 80),
       NewColumn("Last", ColumnType::kText, 40), NewColumn("First", ColumnType::kText, 30),
       NewColumn("Born", ColumnType::kDateTime)},
      40000, {PlainIndex("Email", {{"Email", true}}, true), PlainIndex("Names", {{"Last", true}, {"First", true}})});
  people.make_row = [](size_t n, std::mt19937& random) -> Row {
    return {static_cast<int32_t>(n + 1), Letters(random, Between(random, 6, 20)) + std::to_string(n) + "@example.org",
            Letters(random, Between(random, 4, 14)), Letters(random, Between(random, 3, 10)),
            DateTime{20000.0 + random() % 20000}};
  };

  Shape visits =
      Keyed("Visits",
            {AutoNumber("ID"), NewColumn("Person", ColumnType::kLong), NewColumn("Day", ColumnType::kDateTime)}, 60000);
  visits.make_row = [](size_t n, std::mt19937& random) -> Row {
    return {static_cast<int32_t>(n + 1), static_cast<int32_t>(1 + random() % 40000), DateTime{45000.0 + n % 900}};
  };
  Relationship visited;
  visited.name = "PeopleVisits";
  visited.primary_table = "People";
  visited.primary_columns = {"ID"};
  visited.foreign_table = "Visits";
  visited.foreign_columns = {"Person"};
  EXPECT_NEAR(WriteAndEstimate({people, visits}, {visited}), 1, 0.15);
}

// Mostly Null columns of every kind, and an index that leaves Nulls out.
TEST(SizeEstimateTest, ManyNulls) {
  IndexSpec code = PlainIndex("Code", {{"Code", true}});
  code.ignore_nulls = true;
  Shape sparse = Keyed("Sparse",
                       {AutoNumber("ID"), NewColumn("Code", ColumnType::kText, 100),
                        NewColumn("Remark", ColumnType::kMemo), NewColumn("Rate", ColumnType::kDouble),
                        NewColumn("Count", ColumnType::kLong), NewColumn("Tag", ColumnType::kBinary, 50),
                        NewColumn("Seen", ColumnType::kDateTime), NewColumn("Done", ColumnType::kBoolean),
                        NewColumn("Price", ColumnType::kCurrency), NewColumn("Comment", ColumnType::kText, 255)},
                       50000, {code});
  sparse.make_row = [](size_t n, std::mt19937& random) -> Row {
    auto maybe = [&](int percent, Value value) { return static_cast<int>(random() % 100) < percent ? value : Null{}; };
    return {static_cast<int32_t>(n + 1),
            maybe(10, "C-" + Letters(random, Between(random, 4, 60))),
            maybe(5, Letters(random, Between(random, 10, 2000))),
            maybe(20, 1.5 * static_cast<double>(random() % 1000)),
            Null{},
            maybe(10, Bytes{Letters(random, Between(random, 1, 50))}),
            maybe(50, DateTime{45000.0 + random() % 1000}),
            random() % 2 == 0,
            Null{},
            maybe(2, Letters(random, Between(random, 50, 255)))};
  };
  EXPECT_NEAR(WriteAndEstimate({sparse}), 1, 0.15);
}

// Many tables without rows: definitions, usage maps and catalog rows are all there is.
TEST(SizeEstimateTest, ManyEmptyTables) {
  std::mt19937 random(3);
  const ColumnType types[] = {ColumnType::kText, ColumnType::kLong,     ColumnType::kDouble,
                              ColumnType::kMemo, ColumnType::kDateTime, ColumnType::kBoolean};
  std::vector<Shape> shapes;
  for (int t = 0; t < 80; ++t) {
    std::vector<ColumnDefinition> columns = {AutoNumber("ID")};
    for (size_t c = Between(random, 2, t % 10 == 0 ? 60 : 12); c > 0; --c) {
      columns.push_back(NewColumn("Column " + Letters(random, 8) + std::to_string(c), types[random() % 6], 50));
    }
    shapes.push_back(Keyed("Table" + std::to_string(t) + Letters(random, Between(random, 0, 30)), columns, 0));
  }
  EXPECT_NEAR(WriteAndEstimate(shapes), 1, 0.15);
}

}  // namespace
}  // namespace tabulon::jet
