// Random tables of every column type, written, reopened and read back identical by the engine
// (and, for the widest, by both independent readers). Seeds are fixed and printed with
// every failure so a case can be replayed alone.
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

// How often a long value takes each storage form; large tables keep to small values so the
// case stays fast under sanitizers.
struct LongValueMix {
  double single_page = 0.25;  // 65..4076 bytes: one row of a long-value page
  double chain = 0.05;        // beyond 4076 bytes: chained rows
};

class RandomTable {
 public:
  RandomTable(uint32_t seed, size_t columns, LongValueMix mix, bool reader_safe)
      : random_(seed), mix_(mix), reader_safe_(reader_safe) {
    definition_.name = "Random " + std::to_string(seed);
    const ColumnType types[] = {ColumnType::kBoolean,  ColumnType::kByte,   ColumnType::kInteger, ColumnType::kLong,
                                ColumnType::kCurrency, ColumnType::kSingle, ColumnType::kDouble,  ColumnType::kDateTime,
                                ColumnType::kBinary,   ColumnType::kText,   ColumnType::kOle,     ColumnType::kMemo,
                                ColumnType::kGuid,     ColumnType::kNumeric};
    for (size_t i = 0; i < columns; ++i) {
      // Every type at least once when there is room, then any.
      const ColumnType type = i < std::size(types) ? types[i] : types[Below(std::size(types))];
      ColumnDefinition c;
      const std::string name = "C" + std::to_string(i) + "_" + ColumnTypeName(type);
      if (type == ColumnType::kText) {
        c = NewColumn(name, type, static_cast<uint16_t>(1 + Below(255)));
        if (Below(4) == 0) c.extra_flags = 0;  // no unicode compression
      } else if (type == ColumnType::kBinary) {
        c = NewColumn(name, type, static_cast<uint16_t>(1 + Below(255)));
      } else if (type == ColumnType::kNumeric) {
        const auto precision = static_cast<uint8_t>(1 + Below(28));
        c = NewColumn(name, type, precision, static_cast<uint8_t>(Below(precision + 1u)));
      } else {
        c = NewColumn(name, type);
      }
      c.required = type != ColumnType::kBoolean && Below(5) == 0;
      definition_.columns.push_back(std::move(c));
    }
  }

  const TableDefinition& definition() const { return definition_; }

  // A row whose every value the engine must give back exactly. Columns are kept narrow
  // enough together that the row fits a page: wide tables get shorter Text and Binary.
  Row NextRow() {
    Row row;
    const size_t n = definition_.columns.size();
    const size_t variable_budget = n > 20 ? 3000 / n : 255;
    for (const ColumnDefinition& c : definition_.columns) {
      if (!c.required && c.type != ColumnType::kBoolean && Below(6) == 0) {
        row.emplace_back(Null{});
        continue;
      }
      row.push_back(Generate(c, variable_budget));
    }
    return row;
  }

 private:
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }

  std::string Text(size_t characters) {
    // ASCII (compressible), Latin-1, Greek and CJK: both stored forms of text.
    static const char* const kPieces[] = {
        "a", "Z", "7", " ", "'", "\"", ",", "\xC3\xA9", "\xC3\xBF", "\xCE\xA9", "\xE6\xBC\xA2", "\xE2\x82\xAC"};
    std::string out;
    const bool ascii_only = Below(2) == 0;
    for (size_t i = 0; i < characters; ++i) out += kPieces[Below(ascii_only ? 7 : 12)];
    return out;
  }

  std::string RandomBytes(size_t size) {
    std::string out(size, '\0');
    for (char& b : out) b = static_cast<char>(Below(4) == 0 ? 0 : random_());
    return out;
  }

  size_t LongValueSize() {
    const double roll = std::uniform_real_distribution<double>(0, 1)(random_);
    if (roll < mix_.chain) return 4077 + Below(3 * 4072 + 100);
    if (roll < mix_.chain + mix_.single_page) return 65 + Below(4076 - 65 + 1);
    return Below(65);
  }

  Value Generate(const ColumnDefinition& c, size_t variable_budget) {
    switch (c.type) {
      case ColumnType::kBoolean: return Below(2) == 0;
      case ColumnType::kByte: return static_cast<uint8_t>(random_());
      case ColumnType::kInteger: return static_cast<int16_t>(random_());
      case ColumnType::kLong: return static_cast<int32_t>(random_());
      case ColumnType::kCurrency:
        return Currency{static_cast<int64_t>(random_() % 2000000000000001ull) - 1000000000000000};
      case ColumnType::kSingle:
        return reader_safe_ ? static_cast<float>(Below(100000)) / 8.0f
                            : std::uniform_real_distribution<float>(-1e30f, 1e30f)(random_);
      case ColumnType::kDouble:
        return reader_safe_ ? (static_cast<double>(Below(4000000000u)) - 2e9) / 3.0
                            : std::uniform_real_distribution<double>(-1e300, 1e300)(random_);
      case ColumnType::kDateTime:
        // Whole seconds from 1900 on: what every reader prints exactly.
        return DateTime{2.0 + Below(73000) + Below(86400) / 86400.0};
      case ColumnType::kBinary:
        return Bytes{RandomBytes(Below(static_cast<uint32_t>(std::min<size_t>(c.length, variable_budget)) + 1))};
      case ColumnType::kText: {
        const size_t most = std::min<size_t>(c.length / 2u, variable_budget / 3);
        return Text(Below(static_cast<uint32_t>(most) + 1));
      }
      case ColumnType::kOle: return Bytes{RandomBytes(LongValueSize())};
      case ColumnType::kMemo: return Text(LongValueSize() / 2);
      case ColumnType::kGuid: {
        Guid g;
        for (uint8_t& b : g.bytes) b = static_cast<uint8_t>(random_());
        return g;
      }
      case ColumnType::kNumeric: {
        std::string digits = Below(2) == 0 ? "-" : "";
        const uint32_t count = 1 + Below(c.precision);
        for (uint32_t i = 0; i < count; ++i) digits += static_cast<char>('0' + Below(10));
        if (c.scale > 0) {
          while (digits.size() - (digits[0] == '-') <= c.scale) digits.insert(digits[0] == '-', "0");
          digits.insert(digits.size() - c.scale, ".");
        }
        auto d = Decimal::Parse(digits, c.scale);
        EXPECT_TRUE(d.has_value()) << digits;
        return d.value_or(Decimal{});
      }
      default: return Null{};
    }
  }

  std::mt19937_64 random_;
  LongValueMix mix_;
  bool reader_safe_;
  TableDefinition definition_;
};

struct Case {
  uint32_t seed;
  size_t columns;
  size_t rows;
  LongValueMix mix;
  bool with_readers = false;
};

std::string Shown(const Value& value) { return FormatValue(value).value_or("NULL").substr(0, 80); }

// Writes the case in batches over several write operations, reopens the file and compares
// every value; returns the rows written (for the readers).
void RunCase(const Case& c) {
  SCOPED_TRACE("seed " + std::to_string(c.seed) + ", " + std::to_string(c.columns) + " columns, " +
               std::to_string(c.rows) + " rows");
  const fs::path path = testing::ScratchFile("round_trip", "seed" + std::to_string(c.seed) + ".mdb");
  RandomTable random(c.seed, c.columns, c.mix, c.with_readers);
  std::vector<Row> rows;
  rows.reserve(c.rows);
  for (size_t i = 0; i < c.rows; ++i) rows.push_back(random.NextRow());
  {
    auto created = Database::Create(path.string());
    ASSERT_TRUE(created.ok()) << created.status().ToString();
    Database& db = **created;
    ASSERT_TRUE(db.CreateTable(random.definition()).ok());
    const size_t batch = std::max<size_t>(1, c.rows / 3);
    for (size_t at = 0; at < rows.size(); at += batch) {
      std::vector<Row> part(rows.begin() + static_cast<ptrdiff_t>(at),
                            rows.begin() + static_cast<ptrdiff_t>(std::min(rows.size(), at + batch)));
      Status s = db.InsertRows(random.definition().name, part);
      ASSERT_TRUE(s.ok()) << s.ToString();
    }
  }
  auto reopened = Database::Open(path.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(reopened.ok()) << reopened.status().ToString();
  Database& db = **reopened;
  auto table = db.GetTable(random.definition().name);
  ASSERT_TRUE(table.ok()) << table.status().ToString();
  // Name, type, Required, and the size of sized types, as written.
  auto shape = [](const ColumnDefinition& col) {
    const bool sized = col.type == ColumnType::kText || col.type == ColumnType::kBinary;
    const bool numeric = col.type == ColumnType::kNumeric;
    return col.name + " " + ColumnTypeName(col.type) + (col.required ? " required" : "") +
           (sized ? " " + std::to_string(col.length) : "") +
           (numeric ? " " + std::to_string(col.precision) + "," + std::to_string(col.scale) : "");
  };
  ASSERT_EQ(table->columns.size(), c.columns);
  for (size_t i = 0; i < c.columns; ++i) ASSERT_EQ(shape(table->columns[i]), shape(random.definition().columns[i]));
  EXPECT_EQ(table->row_count, c.rows);
  size_t at = 0;
  Status scanned = db.ScanRows(*table, [&](RowPointer, const Row& row) -> Status {
    if (at >= rows.size()) return InternalError("more rows than written");
    for (size_t i = 0; i < row.size(); ++i) {
      if (FormatValue(row[i]) != FormatValue(rows[at][i])) {
        return InternalError("row " + std::to_string(at) + " column " + table->columns[i].name + ": read " +
                             Shown(row[i]) + ", wrote " + Shown(rows[at][i]));
      }
    }
    ++at;
    return Status::Ok();
  });
  ASSERT_TRUE(scanned.ok()) << scanned.ToString();
  EXPECT_EQ(at, rows.size());
  Status integrity = db.CheckIntegrity();
  EXPECT_TRUE(integrity.ok()) << integrity.ToString();
  if (c.with_readers) {
    ASSERT_TRUE(testing::MdbToolsAvailable() && testing::MdbReaderAvailable());
    EXPECT_EQ(testing::CompareTableWithReaders(path.string(), table->name, table->columns, rows), "");
  }
  reopened->reset();
  fs::remove(path);
}

TEST(RoundTripTest, EmptyAndSingleRowTables) {
  RunCase({11, 14, 0, {}});
  RunCase({12, 14, 1, {}});
  RunCase({13, 1, 1, {0.5, 0.5}});
}

TEST(RoundTripTest, EveryTypeWithLongValuesInAllThreeForms) {
  RunCase({21, 30, 400, {0.2, 0.05}});
  RunCase({22, 60, 120, {0.3, 0.1}});
}

TEST(RoundTripTest, WidestTableSpansDefinitionPages) { RunCase({31, 255, 40, {0.05, 0.01}, true}); }

TEST(RoundTripTest, HundredThousandRows) { RunCase({41, 8, 100000, {0.002, 0.0002}}); }

}  // namespace
}  // namespace tabulon::jet
