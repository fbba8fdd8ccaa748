#include "jet/size_estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>

#include "base/text.h"
#include "jet/database.h"
#include "jet/file_io.h"
#include "jet/format/data_page.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"
#include "jet/page_writer.h"
#include "jet/row_encoder.h"

namespace tabulon::jet {
namespace {

constexpr double kPageBytes = kPageSize;
constexpr double kRowRoom = format::kEmptyDataPageFreeSpace;  // an empty data page's free bytes
constexpr double kOffsetEntry = 2;                            // a row's entry in the page's offset table
constexpr double kMaxRows = kMaxRowsPerPage;
constexpr double kIndexRoom = kIndexPageEntryBytes;  // entry bytes of one index page
constexpr double kChildPointer = 4;                  // a node entry names its child page
constexpr double kRowPointer = 4;                    // every index entry ends with its row
constexpr double kLongValueHeader = 12;              // a Memo/OLE field in the row
constexpr double kSingleLongValue = 4076;            // long_value_write.cpp: one LVAL row
constexpr double kChainChunk = 4072;                 // long_value_write.cpp: one link of a chain
constexpr double kMaxCompressed = 1024;              // row_encoder.cpp: longer text is UTF-16
constexpr double kMaxKeyCharacters = 255;
// Pages the file's page map keeps on page 1 itself (§14 of docs/format/jet4.md).
constexpr double kGlobalInlinePages = 32000;
// Usage-map rows one data page holds (57).
const double kMapRowsPerPage = std::floor(kRowRoom / (kMapRowSize + kOffsetEntry));
// A table's share of the catalog's pages: its MSysObjects row, MSysACEs rows and their index
// entries (about 200 bytes measured), and the property blob of its columns (Required,
// DefaultValue, AllowZeroLength, descriptions: name and values, a few dozen bytes each).
constexpr double kCatalogBytesPerTable = 400;
constexpr double kCatalogBytesPerColumn = 48;

// How full index pages end up (measured on the engine's own files). Keys that arrive in
// ascending order fill pages completely, and so does an index built over existing rows (the
// foreign-key indexes of relationships, made after the rows). Keys in no particular order
// split pages in the middle and are merged in sorted runs at each commit: unique keys leave
// pages 0.57 (one large batch) to 0.7 (many batches) full. Keys shared by many rows all go in
// where their run ends, so each split leaves a half page behind: 0.51 to 0.57.
constexpr double kUniqueKeyFill = 0.6;
constexpr double kSharedKeyFill = 0.5;

// Whole pages, bounded far beyond any file Jet can hold so that absurd measures stay numbers.
long long Pages(double pages) { return static_cast<long long>(std::ceil(std::clamp(pages, 0.0, 1e12) - 1e-9)); }
long long PageBytes(long long pages) { return pages * static_cast<long long>(kPageSize); }

// The measures of one column, with the defaults for a column the volume does not list.
struct ColumnMeasure {
  double values = 0;  // non-NULL values
  double mean = 0;    // mean length of a value: characters (Text, Memo) or bytes
};

ColumnMeasure MeasureOf(const ColumnDefinition& column, const TableVolume& volume, double rows) {
  for (const ColumnVolume& v : volume.columns) {
    if (!EqualsIgnoreAsciiCase(v.column, column.name)) continue;
    ColumnMeasure m;
    m.values = std::clamp(static_cast<double>(v.values), 0.0, rows);
    m.mean = v.values > 0 ? std::max(0.0, static_cast<double>(v.length)) / static_cast<double>(v.values) : 0;
    return m;
  }
  ColumnMeasure m;
  m.values = rows;
  if (column.type == ColumnType::kText) m.mean = column.length / 4.0;  // half the declared characters
  if (column.type == ColumnType::kBinary) m.mean = column.length / 2.0;
  return m;
}

bool Compressed(const ColumnDefinition& column) { return (column.extra_flags & kColumnCompressed) != 0; }

// Bytes a Text or Memo value of `chars` characters takes as stored. Every character is assumed
// to lie in U+0001..U+00FF, so a column that allows compression stores 3 to 1024 characters
// as one byte each after a 2-byte marker; other text (compression off, shorter or longer
// values) takes two bytes per character.
double StoredTextBytes(double chars, bool compressed) {
  if (compressed && chars >= 3 && chars <= kMaxCompressed) return chars + 2;
  return 2 * chars;
}

// Rows of `size` bytes (offset entry included) one page takes. The engine fills a page until
// the next row does not fit (next fit), so a page of rows of mixed sizes loses about half a
// row at its end; a page of equal rows loses what is left after the last whole one.
double RowsPerPage(double size) {
  size = std::max(size, 1.0);
  const double equal = std::floor(kRowRoom / size);
  const double mixed = (kRowRoom - size / 2) / size;
  return std::clamp(std::min(equal, mixed), 1.0, kMaxRows);
}

// ---- Long values ---------------------------------------------------------------------------

struct LongValueCost {
  double inline_bytes = 0;  // per value: data kept in the row after the header
  double pages = 0;         // per value: long-value pages
};

// Places values of the given stored sizes, in the order given, the way the engine does: small
// ones stay in the row, values of one LVAL row go to the column's current page while they
// fit (else to a new one), chains take new pages of their own, one per link, and leave the
// last of them as the current page (it is full). Returns the cost per value.
LongValueCost PlaceLongValues(const std::vector<double>& sizes) {
  LongValueCost cost;
  if (sizes.empty()) return cost;
  double pages = 0;
  double room = 0;  // free bytes of the current page
  double rows = 0;  // rows on it
  for (double size : sizes) {
    if (size <= kMaxInlineLongValue) {
      cost.inline_bytes += size;
    } else if (size <= kSingleLongValue) {
      if (size + kOffsetEntry > room || rows >= kMaxRows) {
        ++pages;
        room = kRowRoom;
        rows = 0;
      }
      room -= size + kOffsetEntry;
      ++rows;
    } else {
      pages += std::ceil(size / kChainChunk);
      room = 0;
    }
  }
  const auto n = static_cast<double>(sizes.size());
  cost.inline_bytes /= n;
  cost.pages = pages / n;
  return cost;
}

// The values of a column have a known mean length but an unknown spread. They are placed as
// lengths spread exponentially around the mean (short and long values mixed in no particular
// order, as most Memo and OLE columns hold), and as values all of the mean length: a column of
// equal values pays for every threshold its length crosses (a second page, a chain link), so
// its pages count at least nine tenths of that. Small values kept in the row count from
// whichever view keeps more.
LongValueCost LongValueCostOf(const ColumnDefinition& column, double mean) {
  const bool text = column.type == ColumnType::kMemo;
  auto stored = [&](double length) { return text ? StoredTextBytes(std::round(length), Compressed(column)) : length; };
  constexpr size_t kSamples = 4096;
  std::vector<double> spread(kSamples);
  for (size_t i = 0; i < kSamples; ++i) {
    const double quantile = (static_cast<double>(i) + 0.5) / kSamples;
    spread[i] = stored(-mean * std::log(1 - quantile));
  }
  // A fixed shuffle: the same estimate every time.
  std::mt19937 random(20240601);
  for (size_t i = kSamples - 1; i > 0; --i) std::swap(spread[i], spread[random() % (i + 1)]);
  const LongValueCost mixed = PlaceLongValues(spread);
  const LongValueCost equal = PlaceLongValues(std::vector<double>(kSamples, stored(mean)));
  return {std::max(mixed.inline_bytes, equal.inline_bytes), std::max(mixed.pages, 0.9 * equal.pages)};
}

// ---- Indexes -------------------------------------------------------------------------------

// Mean bytes of one column's part of an index key (flag byte included), `present` being the
// share of entries with a value in the column.
double KeyBytes(const ColumnDefinition& column, const ColumnMeasure& m, double present, bool ascending) {
  double value = 0;  // the key of a present value
  switch (column.type) {
    case ColumnType::kBoolean: return 2;  // never Null in a key
    case ColumnType::kByte: value = 2; break;
    case ColumnType::kInteger: value = 3; break;
    case ColumnType::kLong:
    case ColumnType::kSingle: value = 5; break;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime: value = 9; break;
    case ColumnType::kNumeric: value = 18; break;
    case ColumnType::kGuid: value = 19; break;
    case ColumnType::kBinary:
      // 8-byte segments, each with a marker or length byte; lengths spread, so half a segment
      // of padding on average.
      value = 1 + 9 * std::max(1.0, m.mean / 8 + 0.5);
      break;
    case ColumnType::kText:
    case ColumnType::kMemo:
      // One sort code per character (letters, digits, space; accents and punctuation add
      // bytes), the flag, the end-of-text and end-of-extras bytes; descending adds one.
      value = 3 + std::min(m.mean, kMaxKeyCharacters) + (ascending ? 0 : 1);
      break;
    default: value = 9; break;
  }
  return present * value + (1 - present);  // a Null is the flag byte alone
}

// Pages of a B-tree of `entries` entries of `entry` bytes whose pages are `fill` full on
// average: leaves, the levels above them, the root (which never moves, so an index has it
// even when empty).
double TreePages(double entries, double entry, double fill) {
  const double per_leaf = std::max(2.0, std::floor(kIndexRoom / entry) * fill);
  const double per_node = std::max(2.0, std::floor(kIndexRoom / (entry + kChildPointer)) * fill);
  double level = std::ceil(entries / per_leaf);
  double pages = 1;
  while (level > 1) {
    pages += level;
    level = std::ceil(level / per_node);
  }
  return pages;
}

// How full the pages of a real index will be. A primary key led by a number or a date is
// taken to arrive in ascending order: sources hand rows over in that order (a clustered key,
// SQLite's rowid), and an AutoNumber column is numbered as rows come.
double IndexFill(const TableDefinition& table, uint32_t real_number) {
  bool foreign_key_only = true;
  bool primary = false;
  bool unique = false;
  const IndexDefinition* first = nullptr;
  for (const IndexDefinition& index : table.indexes) {
    if (index.real_number != real_number) continue;
    if (!first) first = &index;
    foreign_key_only &= index.index_type == 0x02;
    primary |= index.index_type == 0x01;
    unique |= (index.flags & 0x01) != 0;
  }
  if (!first || foreign_key_only) return 1.0;
  if (!first->columns.empty() && first->columns.front().ascending) {
    for (const ColumnDefinition& c : table.columns) {
      if (c.number != first->columns.front().column_number) continue;
      const bool number = c.fixed() && c.type != ColumnType::kBoolean && c.type != ColumnType::kGuid;
      if (c.auto_number() || (primary && number)) return 1.0;
    }
  }
  return unique ? kUniqueKeyFill : kSharedKeyFill;
}

// ---- The definition ------------------------------------------------------------------------

// The length of the stored definition: as read from a file, else encoded as the engine would.
double DefinitionBytes(const TableDefinition& table) {
  if (table.definition_length > 0) return table.definition_length;
  TableDefinition copy = table;
  if (copy.long_value_maps.empty()) {
    for (const ColumnDefinition& c : copy.columns) {
      if (IsLongValueType(c.type)) copy.long_value_maps.push_back({c.number, 0, 0});
    }
  }
  const DefinitionContent content = DefinitionContentOf(copy);
  auto encoded = EncodeTableDefinition(content);
  return encoded.ok() ? static_cast<double>(encoded->size()) : kPageBytes;
}

double DefinitionPages(double bytes) {
  if (bytes <= kPageBytes) return 1;
  return 1 + std::ceil((bytes - kPageBytes) / (kPageBytes - format::kTdefContinuationHeader));
}

}  // namespace

TableSizeEstimate EstimateTableSize(const TableDefinition& table, const TableVolume& volume) {
  TableSizeEstimate estimate;
  const double rows = static_cast<double>(std::max(0LL, volume.rows));

  // The row as RowEncoder lays it out: column count, fixed area, variable data, the
  // variable-offset table (end offset, one offset per variable column, count), null mask.
  uint16_t column_count = table.max_column_count;
  uint16_t fixed_size = 0;
  uint16_t variable_count = table.variable_column_count;
  for (const ColumnDefinition& c : table.columns) {
    column_count = std::max<uint16_t>(column_count, static_cast<uint16_t>(c.number + 1));
    if (c.fixed()) {
      if (c.type != ColumnType::kBoolean) {
        fixed_size = std::max<uint16_t>(fixed_size, static_cast<uint16_t>(c.fixed_offset + c.length));
      }
    } else {
      variable_count = std::max<uint16_t>(variable_count, static_cast<uint16_t>(c.variable_index + 1));
    }
  }
  double row = 2.0 + fixed_size + (column_count + 7) / 8;
  if (variable_count > 0) row += 4.0 + 2.0 * variable_count;

  double long_value_pages = 0;
  std::vector<double> map_sizes;  // pages listed by each Memo/OLE column's and each index's map
  std::vector<ColumnMeasure> measures;
  for (const ColumnDefinition& c : table.columns) {
    const ColumnMeasure m = MeasureOf(c, volume, rows);
    measures.push_back(m);
    if (c.fixed() || rows == 0) continue;
    const double present = m.values / rows;
    switch (c.type) {
      case ColumnType::kText:
        // c+2 bytes bounds the stored size of any compressible value (shorter ones take 2c).
        row += present * (Compressed(c) ? m.mean + 2 : 2 * m.mean);
        break;
      case ColumnType::kMemo:
      case ColumnType::kOle: {
        const LongValueCost cost = LongValueCostOf(c, m.mean);
        row += present * (kLongValueHeader + cost.inline_bytes);
        const auto pages = static_cast<double>(Pages(m.values * cost.pages));
        long_value_pages += pages;
        map_sizes.push_back(pages);
        break;
      }
      case ColumnType::kNumeric: row += present * 17; break;
      default: row += present * m.mean; break;
    }
  }
  row = std::min(row, static_cast<double>(kMaxRowSize));
  const long long data_pages = Pages(rows / RowsPerPage(row + kOffsetEntry));
  estimate.data_bytes = PageBytes(data_pages);
  estimate.long_value_bytes = PageBytes(static_cast<long long>(long_value_pages));

  // One B-tree per real index, however many logical indexes (foreign keys too) share it.
  std::map<uint32_t, const IndexDefinition*> real;
  for (const IndexDefinition& index : table.indexes) real.emplace(index.real_number, &index);
  long long index_pages = 0;
  for (const auto& [number, index] : real) {
    std::vector<std::pair<size_t, bool>> key_columns;  // position in the table, ascending
    double all_null = 1;  // share of rows with no value in any key column (taken as independent)
    for (const IndexColumn& ic : index->columns) {
      for (size_t i = 0; i < table.columns.size(); ++i) {
        if (table.columns[i].number != ic.column_number) continue;
        key_columns.emplace_back(i, ic.ascending);
        all_null *= rows > 0 ? 1 - measures[i].values / rows : 0;
      }
    }
    // An index that ignores Nulls holds only rows with a value in some key column.
    const bool ignore_nulls = (index->flags & 0x02) != 0;
    const double entries = rows * (ignore_nulls ? 1 - all_null : 1);
    double entry = kRowPointer;
    for (const auto& [i, ascending] : key_columns) {
      double present = rows > 0 ? measures[i].values / rows : 1;
      if (ignore_nulls && all_null < 1) present = std::min(1.0, present / (1 - all_null));
      entry += KeyBytes(table.columns[i], measures[i], present, ascending);
    }
    const double fill = IndexFill(table, number);
    const long long pages = Pages(TreePages(entries, entry, fill));
    index_pages += pages;
    map_sizes.push_back(static_cast<double>(pages));
  }
  estimate.index_bytes = PageBytes(index_pages);

  // The definition, the page of usage-map rows (owned and free pages, a pair per Memo/OLE
  // column, one per index: an index whose row does not fit gets a page of its own), the
  // catalog's rows. A map whose pages spread over more than 512 pages keeps them on bitmap
  // pages, one per 32736 pages of the file, and so does the file's own page map.
  size_t long_value_columns = 0;
  for (const ColumnDefinition& c : table.columns) long_value_columns += IsLongValueType(c.type) ? 1 : 0;
  const double table_rows = 2.0 + 2.0 * static_cast<double>(long_value_columns);
  double map_pages = std::ceil(table_rows / kMapRowsPerPage);
  const double room_left = map_pages * kMapRowsPerPage - table_rows;
  map_pages += std::max(0.0, static_cast<double>(real.size()) - room_left);
  // Pages of the table's own kinds lie interleaved, so a map of more than one page spans
  // about all of them.
  const double spread = static_cast<double>(data_pages + index_pages) + long_value_pages;
  double bitmap_pages = 0;
  if (spread > kInlineMapPages) {
    double spread_maps = data_pages > 1 ? 1 : 0;
    for (double pages : map_sizes) spread_maps += pages > 1 ? 1 : 0;
    bitmap_pages = spread_maps * std::ceil(spread / format::kPagesPerBitmapPage);
  }
  // The file's page map takes bitmap pages beyond about 32000 pages: the table's share.
  if (spread > kGlobalInlinePages) bitmap_pages += std::ceil(spread / format::kPagesPerBitmapPage);
  // The catalog rows share their pages with every other table's: counted in bytes.
  const double catalog_bytes =
      kCatalogBytesPerTable + kCatalogBytesPerColumn * static_cast<double>(table.columns.size());
  estimate.other_bytes = PageBytes(Pages(DefinitionPages(DefinitionBytes(table)) + map_pages + bitmap_pages)) +
                         std::llround(catalog_bytes);
  return estimate;
}

long long EmptyFileBytes() {
  static const long long bytes = [] {
    auto created = Database::Create(std::make_unique<MemoryFile>());
    // Creating in memory fails only when memory does: the skeleton's 16 pages then.
    if (!created.ok()) return 16LL * kPageSize;
    return static_cast<long long>((*created)->page_count()) * kPageSize;
  }();
  return bytes;
}

}  // namespace tabulon::jet
