#include "jet/format/table_def.h"

#include <algorithm>
#include <unordered_set>

#include "base/bytes.h"
#include "base/text.h"
#include "jet/format/data_page.h"

namespace tabulon::jet::format {
namespace {

// Bounds-checked reading of the definition buffer; errors name the first page and offset.
class Cursor {
 public:
  Cursor(const std::vector<uint8_t>& bytes, uint32_t page) : bytes_(bytes), page_(page) {}

  Status Need(uint32_t offset, uint32_t size, const char* what) const {
    if (uint64_t{offset} + size > bytes_.size()) {
      return CorruptError("table definition at page " + std::to_string(page_) + ": " + what + " at offset " +
                          std::to_string(offset) + " (+" + std::to_string(size) + ") runs past the definition's " +
                          std::to_string(bytes_.size()) + " bytes");
    }
    return Status::Ok();
  }
  const uint8_t* At(uint32_t offset) const { return bytes_.data() + offset; }

  // Reads a length-prefixed UTF-16LE name at `offset` and advances it.
  Result<std::string> Name(uint32_t& offset, const char* what) const {
    RETURN_IF_ERROR(Need(offset, 2, what));
    const uint16_t length = ReadU16(At(offset));
    RETURN_IF_ERROR(Need(offset + 2, length, what));
    std::string name = Utf16LeBytesToUtf8(At(offset + 2), length);
    offset += 2u + length;
    return name;
  }

 private:
  const std::vector<uint8_t>& bytes_;
  uint32_t page_;
};

}  // namespace

Result<TableDefinitionBytes> ReadTableDefinitionBytes(Pager& pager, uint32_t first_page) {
  TableDefinitionBytes result;
  ASSIGN_OR_RETURN(const uint8_t* page, pager.ReadPage(first_page));
  if (page[0] != kPageTableDef) {
    return CorruptError(PageAt(first_page, 0) + "expected a table definition page, found type " +
                        std::to_string(page[0]) + " (" + PageTypeName(page[0]) + ")");
  }
  const uint32_t declared = ReadU32(page + kTdefLengthOffset);
  // A definition can never be longer than the pages the file holds.
  const uint64_t limit = uint64_t{pager.page_count()} * (kPageSize - kTdefContinuationHeader) + 8;
  if (declared < kTdefHeaderSize || declared > limit) {
    return CorruptError(PageAt(first_page, kTdefLengthOffset) + "definition length " + std::to_string(declared) +
                        " is impossible");
  }
  result.bytes.reserve(declared);
  result.bytes.insert(result.bytes.end(), page, page + std::min<uint32_t>(declared, kPageSize));
  result.pages.push_back(first_page);
  std::unordered_set<uint32_t> seen{first_page};
  uint32_t next = ReadU32(page + kTdefNextPageOffset);
  uint32_t current = first_page;
  while (result.bytes.size() < declared) {
    if (next == 0) {
      return CorruptError(PageAt(current, kTdefNextPageOffset) + "definition ends after " +
                          std::to_string(result.bytes.size()) + " of " + std::to_string(declared) +
                          " bytes (no continuation page)");
    }
    if (!seen.insert(next).second) {
      return CorruptError(PageAt(current, kTdefNextPageOffset) + "loop in the table definition chain at page " +
                          std::to_string(next));
    }
    ASSIGN_OR_RETURN(page, pager.ReadPage(next));
    if (page[0] != kPageTableDef) {
      return CorruptError(PageAt(next, 0) + "continuation of the table definition at page " +
                          std::to_string(first_page) + " has page type " + std::to_string(page[0]) + " (" +
                          PageTypeName(page[0]) + ")");
    }
    const size_t take = std::min<size_t>(declared - result.bytes.size(), kPageSize - kTdefContinuationHeader);
    result.bytes.insert(result.bytes.end(), page + kTdefContinuationHeader, page + kTdefContinuationHeader + take);
    result.pages.push_back(next);
    current = next;
    next = ReadU32(page + kTdefNextPageOffset);
  }
  return result;
}

Result<TableDefinitionLayout> LayoutTableDefinition(const std::vector<uint8_t>& bytes, uint32_t first_page) {
  Cursor in(bytes, first_page);
  RETURN_IF_ERROR(in.Need(0, kTdefHeaderSize, "header"));
  const uint16_t columns = ReadU16(in.At(kTdefColumnCountOffset));
  const uint32_t logical = ReadU32(in.At(kTdefLogicalIndexCountOffset));
  const uint32_t real = ReadU32(in.At(kTdefRealIndexCountOffset));
  // Jet allows 32 indexes per table; anything far beyond is a damaged count.
  if (logical > 1000 || real > 1000) {
    return CorruptError(PageAt(first_page, kTdefLogicalIndexCountOffset) + "index counts " + std::to_string(logical) +
                        "/" + std::to_string(real) + " are impossible");
  }
  TableDefinitionLayout layout;
  layout.columns = kTdefHeaderSize + real * kTdefRealIndexBlockSize;
  layout.column_names = layout.columns + uint32_t{columns} * kTdefColumnSize;
  RETURN_IF_ERROR(in.Need(layout.columns, uint32_t{columns} * kTdefColumnSize, "columns"));
  uint32_t offset = layout.column_names;
  for (uint16_t i = 0; i < columns; ++i) {
    ASSIGN_OR_RETURN(std::string ignored, in.Name(offset, "column name"));
  }
  layout.real_indexes = offset;
  layout.logical_indexes = offset + real * kTdefRealIndexSize;
  layout.logical_index_names = layout.logical_indexes + logical * kTdefLogicalIndexSize;
  RETURN_IF_ERROR(in.Need(layout.real_indexes, layout.logical_index_names - layout.real_indexes, "index definitions"));
  offset = layout.logical_index_names;
  for (uint32_t i = 0; i < logical; ++i) {
    ASSIGN_OR_RETURN(std::string ignored, in.Name(offset, "index name"));
  }
  layout.long_value_maps = offset;
  // The long-value map list ends with FF FF; older writers may end the buffer without it.
  while (offset + 2 <= bytes.size() && ReadU16(in.At(offset)) != 0xFFFF) {
    RETURN_IF_ERROR(in.Need(offset, kTdefLongValueMapSize, "long-value map reference"));
    offset += kTdefLongValueMapSize;
  }
  layout.end = std::min<uint32_t>(offset + 2, static_cast<uint32_t>(bytes.size()));
  return layout;
}

Result<TableDefinition> ParseTableDefinition(const TableDefinitionBytes& definition) {
  const std::vector<uint8_t>& bytes = definition.bytes;
  const uint32_t first_page = definition.pages.empty() ? 0 : definition.pages.front();
  ASSIGN_OR_RETURN(TableDefinitionLayout layout, LayoutTableDefinition(bytes, first_page));
  Cursor in(bytes, first_page);
  TableDefinition table;
  table.tdef_page = first_page;
  table.definition_pages = definition.pages;
  table.definition_length = static_cast<uint32_t>(bytes.size());
  table.row_count = ReadU32(in.At(kTdefRowCountOffset));
  table.last_auto_number = ReadU32(in.At(kTdefAutoNumberOffset));
  table.system = in.At(kTdefTableTypeOffset)[0] == kTableTypeSystem;
  table.max_column_count = ReadU16(in.At(kTdefMaxColumnsOffset));
  table.variable_column_count = ReadU16(in.At(kTdefVariableColumnsOffset));
  const uint16_t column_count = ReadU16(in.At(kTdefColumnCountOffset));
  const uint32_t logical_count = ReadU32(in.At(kTdefLogicalIndexCountOffset));
  const uint32_t real_count = ReadU32(in.At(kTdefRealIndexCountOffset));
  table.owned_pages_map = ReadU32(in.At(kTdefOwnedMapOffset));
  table.free_pages_map = ReadU32(in.At(kTdefFreeMapOffset));
  table.real_index_count = real_count;
  table.logical_index_offset = layout.logical_indexes;

  auto corrupt = [&](uint32_t offset, const std::string& what) {
    return CorruptError("table definition at page " + std::to_string(first_page) + ", offset " +
                        std::to_string(offset) + ": " + what);
  };

  uint32_t name_offset = layout.column_names;
  std::vector<bool> number_used(65536, false);
  table.columns.reserve(column_count);
  for (uint16_t i = 0; i < column_count; ++i) {
    const uint32_t at = layout.columns + uint32_t{i} * kTdefColumnSize;
    const uint8_t* c = in.At(at);
    ColumnDefinition column;
    column.type = static_cast<ColumnType>(c[0]);
    column.number = ReadU16(c + 5);
    column.variable_index = ReadU16(c + 7);
    column.flags = c[15];
    column.extra_flags = c[16];
    column.fixed_offset = ReadU16(c + 21);
    column.length = ReadU16(c + 23);
    if (column.type == ColumnType::kNumeric) {
      column.precision = c[11];
      column.scale = c[12];
    } else if (column.type == ColumnType::kText || column.type == ColumnType::kMemo) {
      column.collation = ReadU16(c + 11);
    }
    ASSIGN_OR_RETURN(column.name, in.Name(name_offset, "column name"));
    if (column.number >= table.max_column_count) {
      return corrupt(at + 5, "column '" + column.name + "' has number " + std::to_string(column.number) +
                                 ", but the table declares " + std::to_string(table.max_column_count) + " columns");
    }
    if (number_used[column.number]) {
      return corrupt(at + 5, "column number " + std::to_string(column.number) + " used twice");
    }
    number_used[column.number] = true;
    if (!column.fixed() && column.type != ColumnType::kBoolean &&
        column.variable_index >= table.variable_column_count) {
      return corrupt(at + 7, "column '" + column.name + "' has variable slot " + std::to_string(column.variable_index) +
                                 " of " + std::to_string(table.variable_column_count));
    }
    table.columns.push_back(std::move(column));
  }
  std::sort(table.columns.begin(), table.columns.end(),
            [](const ColumnDefinition& a, const ColumnDefinition& b) { return a.number < b.number; });

  // Real indexes: key columns, flags, root page and map; the distinct-key counts come from the
  // 12-byte blocks after the header.
  struct RealIndex {
    std::vector<IndexColumn> columns;
    uint8_t flags = 0;
    uint32_t root = 0;
    uint32_t map = 0;
    uint32_t unique = 0;
  };
  std::vector<RealIndex> reals(real_count);
  for (uint32_t i = 0; i < real_count; ++i) {
    const uint8_t* r = in.At(layout.real_indexes + i * kTdefRealIndexSize);
    for (int slot = 0; slot < 10; ++slot) {
      const uint16_t number = ReadU16(r + 4 + 3 * slot);
      if (number == 0xFFFF) continue;
      reals[i].columns.push_back({number, (r[6 + 3 * slot] & 0x01) != 0});
    }
    reals[i].map = ReadU32(r + 34);
    reals[i].root = ReadU32(r + 38);
    reals[i].flags = r[46];
    reals[i].unique = ReadU32(in.At(kTdefHeaderSize + i * kTdefRealIndexBlockSize + 4));
  }
  uint32_t index_name_offset = layout.logical_index_names;
  for (uint32_t i = 0; i < logical_count; ++i) {
    const uint32_t at = layout.logical_indexes + i * kTdefLogicalIndexSize;
    const uint8_t* l = in.At(at);
    IndexDefinition index;
    index.logical_number = ReadU32(l + 4);
    index.real_number = ReadU32(l + 8);
    index.fk_side = l[12];
    index.fk_other_index = ReadU32(l + 13);
    index.fk_other_table_page = ReadU32(l + 17);
    index.index_type = l[23];
    if (index.index_type == 2) {
      index.cascade_update = (l[21] & 0x01) != 0;
      index.cascade_delete = (l[22] & 0x01) != 0;
      index.cascade_null = (l[22] & 0x02) != 0;
    }
    ASSIGN_OR_RETURN(index.name, in.Name(index_name_offset, "index name"));
    if (index.real_number >= real_count) {
      return corrupt(at + 8, "index '" + index.name + "' refers to physical index " +
                                 std::to_string(index.real_number) + " of " + std::to_string(real_count));
    }
    const RealIndex& real = reals[index.real_number];
    index.columns = real.columns;
    index.flags = real.flags;
    index.root_page = real.root;
    index.usage_map = real.map;
    index.unique_entry_count = real.unique;
    table.indexes.push_back(std::move(index));
  }
  for (uint32_t at = layout.long_value_maps; at + kTdefLongValueMapSize <= layout.end; at += kTdefLongValueMapSize) {
    const uint8_t* m = in.At(at);
    if (ReadU16(m) == 0xFFFF) break;
    table.long_value_maps.push_back({ReadU16(m), ReadU32(m + 2), ReadU32(m + 6)});
  }
  return table;
}

}  // namespace tabulon::jet::format
