#include "jet/page_writer.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "base/text.h"
#include "jet/format/data_page.h"
#include "jet/format/page0.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"

namespace tabulon::jet {
namespace {

using format::kDataPageHeaderSize;
using format::kEmptyDataPageFreeSpace;
using format::kPagesPerBitmapPage;

constexpr uint16_t kRowDeletedMark = 0xC000;  // deleted + overflow bits: every reader skips it
constexpr uint32_t kIndexEntriesStart = 0x1E0;
constexpr uint32_t kIndexBitmapStart = 27;
constexpr uint32_t kIndexMaxEntryBytes = kPageSize - kIndexEntriesStart;  // 3616
constexpr uint32_t kDefinitionMagic = 1625;
constexpr uint32_t kRealIndexMagic = 1923;

uint16_t RowOffsetEntry(const uint8_t* page, uint32_t row) { return ReadU16(page + kDataPageHeaderSize + 2 * row); }

}  // namespace

// ---- Data-layout pages --------------------------------------------------------------------

void InitDataPage(uint8_t* page, uint32_t owner) {
  std::memset(page, 0, kPageSize);
  page[0] = format::kPageData;
  page[1] = 0x01;
  WriteU16(page + 2, kEmptyDataPageFreeSpace);
  WriteU32(page + 4, owner);
}

uint16_t DataPageFreeSpace(const uint8_t* page) { return ReadU16(page + 2); }
uint16_t DataPageRowCount(const uint8_t* page) { return ReadU16(page + 12); }

namespace {

bool IsDeletedEntry(uint16_t entry) { return (entry & kRowDeletedMark) == kRowDeletedMark; }

// Bytes between the row table and the lowest row: what an append can use without repacking.
uint32_t ContiguousSpace(const uint8_t* page) {
  const uint16_t count = DataPageRowCount(page);
  const uint32_t lowest = count == 0 ? kPageSize : (RowOffsetEntry(page, count - 1u) & format::kRowOffsetMask);
  const uint32_t table_end = kDataPageHeaderSize + 2u * count;
  return lowest > table_end ? lowest - table_end : 0;
}

// The first deleted row number, or `count` when there is none.
uint16_t FirstDeletedRow(const uint8_t* page) {
  const uint16_t count = DataPageRowCount(page);
  for (uint16_t i = 0; i < count; ++i) {
    if (IsDeletedEntry(RowOffsetEntry(page, i))) return i;
  }
  return count;
}

// The free bytes a repack would leave (offset table of the current rows counted), or -1 when
// the row table is unsound: a row must lie within the page below the previous one, so
// repacking cannot lose a byte or run into the offset table.
int32_t RepackedFreeSpace(const uint8_t* page) {
  const uint16_t count = DataPageRowCount(page);
  if (count > kMaxRowsPerPage) return -1;
  const uint32_t table_end = kDataPageHeaderSize + 2u * count;
  uint32_t end = kPageSize;
  uint32_t kept = 0;
  for (uint16_t i = 0; i < count; ++i) {
    const uint16_t entry = RowOffsetEntry(page, i);
    const uint32_t start = entry & format::kRowOffsetMask;
    if (start > end || start < table_end) return -1;
    if (!IsDeletedEntry(entry)) kept += end - start;
    end = start;
  }
  return static_cast<int32_t>(kPageSize - table_end - kept);
}

// Rewrites a page with its rows packed against the end again, in row-number order (a reader
// takes a row's end from the start of the row before it), so the bytes of deleted rows become
// usable. Deleted rows keep their number with no bytes; row numbers never move because row
// pointers elsewhere name them. `row` goes to row number `slot` (a deleted one, or the next).
void RepackPage(uint8_t* page, uint16_t slot, const uint8_t* row, size_t size) {
  uint8_t old[kPageSize];
  std::memcpy(old, page, kPageSize);
  const uint16_t count = DataPageRowCount(old);
  const uint16_t new_count = std::max<uint16_t>(count, static_cast<uint16_t>(slot + 1));
  uint32_t position = kPageSize;
  uint32_t used = 0;
  uint32_t previous_start = kPageSize;
  for (uint16_t i = 0; i < new_count; ++i) {
    const uint16_t entry = i < count ? RowOffsetEntry(old, i) : 0;
    const uint32_t start = entry & format::kRowOffsetMask;
    const uint32_t length = i < count ? previous_start - start : 0;
    if (i < count) previous_start = start;
    uint16_t flags = static_cast<uint16_t>(entry & ~format::kRowOffsetMask);
    const uint8_t* bytes = old + start;
    size_t keep = length;
    if (i == slot) {
      bytes = row;
      keep = size;
      flags = 0;
    } else if (IsDeletedEntry(entry)) {
      keep = 0;
    }
    position -= static_cast<uint32_t>(keep);
    std::memcpy(page + position, bytes, keep);
    used += static_cast<uint32_t>(keep);
    WriteU16(page + kDataPageHeaderSize + 2 * i, static_cast<uint16_t>(position | flags));
  }
  const uint32_t table_end = kDataPageHeaderSize + 2u * new_count;
  std::memset(page + table_end, 0, position - table_end);
  WriteU16(page + 12, new_count);
  WriteU16(page + 2, static_cast<uint16_t>(kPageSize - table_end - used));
}

}  // namespace

bool DataPageFits(const uint8_t* page, size_t size) {
  const uint16_t count = DataPageRowCount(page);
  const bool new_slot = count < kMaxRowsPerPage;
  if (!new_slot && FirstDeletedRow(page) == count) return false;
  const size_t needed = size + (new_slot ? 2 : 0);
  if (needed > DataPageFreeSpace(page)) return false;
  // Appending is always safe; anything else repacks the page, which must be sound and have
  // the room its header claims.
  if (new_slot && needed <= ContiguousSpace(page)) return true;
  const int32_t room = RepackedFreeSpace(page);
  return room >= 0 && needed <= static_cast<size_t>(room);
}

bool DataPageHasLiveRows(const uint8_t* page) {
  const uint16_t count = DataPageRowCount(page);
  for (uint16_t i = 0; i < count; ++i) {
    if (!IsDeletedEntry(RowOffsetEntry(page, i))) return true;
  }
  return false;
}

uint8_t AddRowToPage(uint8_t* page, const uint8_t* row, size_t size) {
  const uint16_t count = DataPageRowCount(page);
  if (count >= kMaxRowsPerPage || size + 2 > ContiguousSpace(page)) {
    const uint16_t slot = count >= kMaxRowsPerPage ? FirstDeletedRow(page) : count;
    RepackPage(page, slot, row, size);
    return static_cast<uint8_t>(slot);
  }
  const uint16_t lowest = count == 0 ? kPageSize : (RowOffsetEntry(page, count - 1u) & format::kRowOffsetMask);
  const auto start = static_cast<uint16_t>(lowest - size);
  std::memcpy(page + start, row, size);
  WriteU16(page + kDataPageHeaderSize + 2 * count, start);
  WriteU16(page + 12, static_cast<uint16_t>(count + 1));
  WriteU16(page + 2, static_cast<uint16_t>(DataPageFreeSpace(page) - size - 2));
  return static_cast<uint8_t>(count);
}

bool ReplaceRowOnPage(uint8_t* page, uint8_t row, const uint8_t* bytes, size_t size) {
  uint16_t start = 0;
  uint16_t end = 0;
  if (!RowBounds(page, row, start, end)) return false;
  const int32_t room = RepackedFreeSpace(page);
  if (room < 0 || size > static_cast<size_t>(room) + (end - start)) return false;
  RepackPage(page, row, bytes, size);
  return true;
}

bool RowBounds(const uint8_t* page, uint8_t row, uint16_t& start, uint16_t& end) {
  if (row >= DataPageRowCount(page)) return false;
  const uint16_t entry = RowOffsetEntry(page, row);
  if ((entry & kRowDeletedMark) != 0) return false;
  start = entry & format::kRowOffsetMask;
  // A row ends where the previous live or deleted row starts.
  end = row == 0 ? kPageSize : (RowOffsetEntry(page, row - 1u) & format::kRowOffsetMask);
  return start <= end && end <= kPageSize && start >= kDataPageHeaderSize;
}

bool DeleteRowOnPage(uint8_t* page, uint8_t row) {
  uint16_t start = 0;
  uint16_t end = 0;
  if (!RowBounds(page, row, start, end)) return false;
  WriteU16(page + kDataPageHeaderSize + 2 * row, static_cast<uint16_t>(start | kRowDeletedMark));
  // The bytes stay in place (row numbers of later rows must not move) but no longer count
  // as used, the way Access accounts for deleted rows.
  WriteU16(page + 2, static_cast<uint16_t>(DataPageFreeSpace(page) + (end - start)));
  return true;
}

// ---- Usage maps ---------------------------------------------------------------------------

Status StoreUsageMap(Pager& pager, PageAllocator& allocator, uint32_t row_pointer, const std::vector<uint32_t>& pages,
                     std::vector<uint32_t>& bitmap_pages) {
  const uint32_t map_page = row_pointer >> 8;
  const auto map_row = static_cast<uint8_t>(row_pointer & 0xFF);
  uint16_t start = 0;
  uint16_t end = 0;
  {
    ASSIGN_OR_RETURN(const uint8_t* page, pager.ReadPage(map_page));
    if (!RowBounds(page, map_row, start, end) || end - start < static_cast<int>(kMapRowSize)) {
      return CorruptError(format::PageAt(map_page, start) + "usage map row " + std::to_string(map_row) +
                          " is missing or too short");
    }
  }
  const uint32_t size = end - start;
  const uint32_t inline_capacity = (size - 5) * 8;
  const uint32_t lowest = pages.empty() ? 0 : pages.front();
  const uint32_t highest = pages.empty() ? 0 : pages.back();
  const uint32_t window = highest < inline_capacity ? 0 : (lowest & ~7u);
  if (pages.empty() || highest - window < inline_capacity) {
    // Bitmap pages of an earlier reference form are no longer needed.
    for (uint32_t& p : bitmap_pages) {
      if (p != 0) allocator.Free(p);
      p = 0;
    }
    ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(map_page));
    uint8_t* row = page + start;
    std::memset(row, 0, size);
    row[0] = format::kUsageMapInline;
    WriteU32(row + 1, window);
    for (uint32_t p : pages) {
      const uint32_t bit = p - window;
      row[5 + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
    }
    return Status::Ok();
  }
  const uint32_t slots = (size - 1) / 4;
  if (highest / kPagesPerBitmapPage >= slots) {
    return LimitError("page " + std::to_string(highest) + " is beyond what a usage map can hold");
  }
  bitmap_pages.resize(slots, 0);
  // Fill each needed bitmap page, allocating the missing ones.
  std::vector<bool> needed(slots, false);
  for (uint32_t p : pages) needed[p / kPagesPerBitmapPage] = true;
  for (uint32_t slot = 0; slot < slots; ++slot) {
    if (needed[slot] && bitmap_pages[slot] == 0) {
      ASSIGN_OR_RETURN(bitmap_pages[slot], allocator.Allocate());
    }
    if (bitmap_pages[slot] == 0) continue;
    ASSIGN_OR_RETURN(uint8_t * bitmap, pager.MutablePage(bitmap_pages[slot]));
    std::memset(bitmap, 0, kPageSize);
    bitmap[0] = format::kPageUsageBitmap;
    bitmap[1] = 0x01;
  }
  for (uint32_t p : pages) {
    ASSIGN_OR_RETURN(uint8_t * bitmap, pager.MutablePage(bitmap_pages[p / kPagesPerBitmapPage]));
    const uint32_t bit = p % kPagesPerBitmapPage;
    bitmap[format::kUsageBitmapPageHeader + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
  }
  ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(map_page));
  uint8_t* row = page + start;
  std::memset(row, 0, size);
  row[0] = format::kUsageMapReference;
  for (uint32_t slot = 0; slot < slots; ++slot) WriteU32(row + 1 + 4 * slot, bitmap_pages[slot]);
  return Status::Ok();
}

// ---- Indexes ------------------------------------------------------------------------------

namespace {

using EntryGroup = std::vector<std::string>;

std::vector<EntryGroup> PackEntries(std::vector<std::string> entries) {
  std::vector<EntryGroup> groups(1);
  uint32_t used = 0;
  for (std::string& e : entries) {
    if (used + e.size() > kIndexMaxEntryBytes && !groups.back().empty()) {
      groups.emplace_back();
      used = 0;
    }
    used += static_cast<uint32_t>(e.size());
    groups.back().push_back(std::move(e));
  }
  return groups;
}

}  // namespace

void WriteIndexPage(uint8_t* page, bool leaf, uint32_t owner, uint32_t prev, uint32_t next,
                    const std::vector<std::string>& entries, uint32_t tail) {
  std::memset(page, 0, kPageSize);
  page[0] = leaf ? format::kPageIndexLeaf : format::kPageIndexNode;
  page[1] = 0x01;
  WriteU32(page + 4, owner);
  WriteU32(page + 12, prev);
  WriteU32(page + 16, next);
  WriteU32(page + 20, tail);
  uint32_t at = 0;
  for (const std::string& e : entries) {
    std::memcpy(page + kIndexEntriesStart + at, e.data(), e.size());
    at += static_cast<uint32_t>(e.size());
    // Each entry's end is marked in the bitmap (bit k: an entry ends at 0x1E0 + k).
    page[kIndexBitmapStart + at / 8] |= static_cast<uint8_t>(1u << (at % 8));
  }
  WriteU16(page + 2, static_cast<uint16_t>(kIndexMaxEntryBytes - at));
}

Status WriteIndexTree(Pager& pager, PageAllocator& allocator, uint32_t owner_tdef, uint32_t root,
                      std::vector<std::string> entries, std::vector<uint32_t>& pages) {
  struct Level {
    std::vector<EntryGroup> groups;
    std::vector<uint32_t> page_numbers;
    std::vector<size_t> parent;  // index of the parent group in the next level
  };
  std::vector<Level> levels;
  std::vector<uint32_t> pool = pages;
  std::reverse(pool.begin(), pool.end());
  std::vector<uint32_t> used;
  auto take_page = [&]() -> Result<uint32_t> {
    if (!pool.empty()) {
      const uint32_t p = pool.back();
      pool.pop_back();
      used.push_back(p);
      return p;
    }
    ASSIGN_OR_RETURN(uint32_t p, allocator.Allocate());
    used.push_back(p);
    return p;
  };

  levels.push_back({PackEntries(std::move(entries)), {}, {}});
  for (;;) {
    Level& level = levels.back();
    if (level.groups.size() == 1) {
      level.page_numbers.push_back(root);
      break;
    }
    for (size_t g = 0; g < level.groups.size(); ++g) {
      ASSIGN_OR_RETURN(uint32_t p, take_page());
      level.page_numbers.push_back(p);
    }
    // A node entry repeats its child's last entry (key + row pointer) and names the child.
    const bool child_is_leaf = levels.size() == 1;
    std::vector<std::string> up;
    up.reserve(level.groups.size());
    for (size_t g = 0; g < level.groups.size(); ++g) {
      std::string e = level.groups[g].back();
      if (!child_is_leaf) e.resize(e.size() - 4);
      const uint32_t child = level.page_numbers[g];
      for (int shift = 24; shift >= 0; shift -= 8) e.push_back(static_cast<char>(child >> shift));
      up.push_back(std::move(e));
    }
    Level next{PackEntries(std::move(up)), {}, {}};
    for (size_t g = 0; g < next.groups.size(); ++g) {
      level.parent.insert(level.parent.end(), next.groups[g].size(), g);
    }
    levels.push_back(std::move(next));
  }

  for (size_t l = 0; l < levels.size(); ++l) {
    const Level& level = levels[l];
    const bool leaf = l == 0;
    for (size_t g = 0; g < level.groups.size(); ++g) {
      // Leaves are chained across the level; node pages only among siblings of one parent.
      auto linked = [&](size_t other) {
        return leaf || level.parent.empty() || level.parent[other] == level.parent[g];
      };
      const uint32_t prev = g > 0 && linked(g - 1) ? level.page_numbers[g - 1] : 0;
      const uint32_t next = g + 1 < level.groups.size() && linked(g + 1) ? level.page_numbers[g + 1] : 0;
      ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(level.page_numbers[g]));
      WriteIndexPage(page, leaf, owner_tdef, prev, next, level.groups[g]);
    }
  }
  for (uint32_t p : pool) allocator.Free(p);
  std::sort(used.begin(), used.end());
  pages = std::move(used);
  return Status::Ok();
}

// ---- Table definitions --------------------------------------------------------------------

DefinitionContent DefinitionContentOf(const TableDefinition& def) {
  DefinitionContent content;
  content.table = &def;
  for (uint32_t n = 0;; ++n) {
    const auto first = std::find_if(def.indexes.begin(), def.indexes.end(),
                                    [n](const IndexDefinition& index) { return index.real_number == n; });
    if (first == def.indexes.end()) break;
    content.real_indexes.push_back(
        {first->columns, first->flags, first->usage_map, first->root_page, first->unique_entry_count});
  }
  for (const IndexDefinition& index : def.indexes) {
    LogicalIndexEntry l;
    l.name = index.name;
    l.number = index.logical_number;
    l.real_number = index.real_number;
    l.index_type = index.index_type;
    l.fk_side = index.fk_side;
    l.fk_other_index = index.fk_other_index;
    l.fk_other_table_page = index.fk_other_table_page;
    l.cascade_update = index.cascade_update;
    l.cascade_delete = index.cascade_delete;
    l.cascade_null = index.cascade_null;
    content.logical_indexes.push_back(std::move(l));
  }
  return content;
}

Result<std::vector<uint8_t>> EncodeTableDefinition(const DefinitionContent& content) {
  const TableDefinition& t = *content.table;
  std::vector<uint8_t> out(format::kTdefHeaderSize, 0);
  auto put16 = [&](uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  auto put_name = [&](const std::string& name) -> Status {
    ASSIGN_OR_RETURN(std::u16string utf16, Utf8ToUtf16(name));
    put16(static_cast<uint16_t>(utf16.size() * 2));
    for (char16_t c : utf16) put16(static_cast<uint16_t>(c));
    return Status::Ok();
  };

  uint16_t max_column = 0;
  uint16_t variable_columns = 0;
  for (const ColumnDefinition& c : t.columns) {
    max_column = std::max<uint16_t>(max_column, static_cast<uint16_t>(c.number + 1));
    if (!c.fixed()) ++variable_columns;
  }
  uint8_t* h = out.data();
  h[0] = format::kPageTableDef;
  h[1] = 0x01;
  WriteU32(h + 0x0C, kDefinitionMagic);
  WriteU32(h + format::kTdefRowCountOffset, t.row_count);
  WriteU32(h + format::kTdefAutoNumberOffset, t.last_auto_number);
  h[0x18] = 0x01;
  h[format::kTdefTableTypeOffset] = t.system ? format::kTableTypeSystem : format::kTableTypeUser;
  WriteU16(h + format::kTdefMaxColumnsOffset, max_column);
  WriteU16(h + format::kTdefVariableColumnsOffset, variable_columns);
  WriteU16(h + format::kTdefColumnCountOffset, static_cast<uint16_t>(t.columns.size()));
  WriteU32(h + format::kTdefLogicalIndexCountOffset, static_cast<uint32_t>(content.logical_indexes.size()));
  WriteU32(h + format::kTdefRealIndexCountOffset, static_cast<uint32_t>(content.real_indexes.size()));
  WriteU32(h + format::kTdefOwnedMapOffset, t.owned_pages_map);
  WriteU32(h + format::kTdefFreeMapOffset, t.free_pages_map);

  for (const RealIndexEntry& r : content.real_indexes) {
    put32(0);
    put32(r.unique_entries);
    put32(0);
  }
  // Jet lists the descriptors of its own tables, and every table's logical indexes, sorted by
  // name; user columns stay in column-number order.
  auto by_name = [](const std::string& a, const std::string& b) { return AsciiLower(a) < AsciiLower(b); };
  std::vector<const ColumnDefinition*> columns;
  for (const ColumnDefinition& c : t.columns) columns.push_back(&c);
  if (t.system) {
    std::stable_sort(columns.begin(), columns.end(), [&](auto* a, auto* b) { return by_name(a->name, b->name); });
  }
  std::vector<const LogicalIndexEntry*> logical;
  for (const LogicalIndexEntry& l : content.logical_indexes) logical.push_back(&l);
  std::stable_sort(logical.begin(), logical.end(), [&](auto* a, auto* b) { return by_name(a->name, b->name); });

  for (const ColumnDefinition* column : columns) {
    const ColumnDefinition& c = *column;
    // Fixed columns carry the number of variable columns before them, as Jet writes.
    uint16_t variable_before = 0;
    for (const ColumnDefinition& other : t.columns) {
      if (!other.fixed() && other.number < c.number) ++variable_before;
    }
    out.push_back(static_cast<uint8_t>(c.type));
    put32(kDefinitionMagic);
    put16(c.number);
    put16(c.fixed() ? variable_before : c.variable_index);
    put16(t.system ? 0 : c.number);
    if (c.type == ColumnType::kNumeric) {
      out.push_back(c.precision);
      out.push_back(c.scale);
      put16(0);
    } else {
      put16(c.collation == 0 ? 0x0409 : c.collation);
      put16(0);
    }
    out.push_back(c.flags);
    out.push_back(c.extra_flags);
    put32(0);
    put16(c.fixed() ? c.fixed_offset : 0);
    put16(c.length);
  }
  for (const ColumnDefinition* c : columns) RETURN_IF_ERROR(put_name(c->name));
  for (const RealIndexEntry& r : content.real_indexes) {
    put32(kRealIndexMagic);
    for (size_t slot = 0; slot < 10; ++slot) {
      if (slot < r.columns.size()) {
        put16(r.columns[slot].column_number);
        out.push_back(r.columns[slot].ascending ? 0x01 : 0x00);
      } else {
        put16(0xFFFF);
        out.push_back(0);
      }
    }
    put32(r.usage_map);
    put32(r.root_page);
    put32(0);
    out.push_back(r.flags);
    put32(0);
    out.push_back(0);
  }
  for (const LogicalIndexEntry* index : logical) {
    const LogicalIndexEntry& l = *index;
    put32(kDefinitionMagic);
    put32(l.number);
    put32(l.real_number);
    if (l.index_type == 0x02) {
      out.push_back(l.fk_side);
      put32(l.fk_other_index);
      put32(l.fk_other_table_page);
      out.push_back(l.cascade_update ? 0x01 : 0x00);
      out.push_back(static_cast<uint8_t>((l.cascade_delete ? 0x01 : 0x00) | (l.cascade_null ? 0x02 : 0x00)));
    } else {
      out.push_back(0);
      put32(0xFFFFFFFF);
      put32(0);
      out.push_back(0x04);  // the value Jet and Access keep here for indexes that are not FKs
      out.push_back(0x04);
    }
    out.push_back(l.index_type);
    put32(0);
  }
  for (const LogicalIndexEntry* l : logical) RETURN_IF_ERROR(put_name(l->name));
  for (const ColumnDefinition* c : columns) {
    for (const LongValueMaps& m : t.long_value_maps) {
      if (m.column_number != c->number) continue;
      put16(m.column_number);
      put32(m.owned_pages_map);
      put32(m.free_pages_map);
    }
  }
  put16(0xFFFF);
  WriteU32(out.data() + format::kTdefLengthOffset, static_cast<uint32_t>(out.size()));
  return out;
}

Status WriteTableDefinitionPages(Pager& pager, PageAllocator& allocator, const std::vector<uint8_t>& definition,
                                 std::vector<uint32_t>& pages) {
  constexpr uint32_t kBody = kPageSize - format::kTdefContinuationHeader;
  const size_t size = definition.size();
  const size_t needed = size <= kPageSize ? 1 : 1 + (size - kPageSize + kBody - 1) / kBody;
  while (pages.size() < needed) {
    ASSIGN_OR_RETURN(uint32_t p, allocator.Allocate());
    pages.push_back(p);
  }
  while (pages.size() > needed) {
    allocator.Free(pages.back());
    pages.pop_back();
  }
  size_t at = 0;
  for (size_t i = 0; i < pages.size(); ++i) {
    ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(pages[i]));
    std::memset(page, 0, kPageSize);
    size_t used;
    if (i == 0) {
      used = std::min<size_t>(size, kPageSize);
      std::memcpy(page, definition.data(), used);
      WriteU16(page + 2, static_cast<uint16_t>(needed == 1 ? kPageSize - size - 8 : 0));
    } else {
      page[0] = format::kPageTableDef;
      page[1] = 0x01;
      used = std::min<size_t>(size - at, kBody);
      std::memcpy(page + format::kTdefContinuationHeader, definition.data() + at, used);
      WriteU16(page + 2, static_cast<uint16_t>(kBody - used - 8));
    }
    at += used;
    WriteU32(page + format::kTdefNextPageOffset, i + 1 < pages.size() ? pages[i + 1] : 0);
  }
  return Status::Ok();
}

// ---- Page 0 -------------------------------------------------------------------------------

const CreationIdentity& DefaultCreationIdentity() {
  // A known-consistent (date, owner) pair taken from a database the Jet engine created.
  static const CreationIdentity identity = [] {
    const uint8_t date[8] = {0x3E, 0x85, 0xD3, 0x3B, 0x3E, 0xAB, 0xE4, 0x40};
    return CreationIdentity{ReadF64(date), 0x6589, 0x261C};
  }();
  return identity;
}

void BuildHeaderPage(uint8_t* page, const CreationIdentity& identity) {
  std::memset(page, 0, kPageSize);
  page[1] = 0x01;
  std::memcpy(page + 4, format::kEngineName, sizeof(format::kEngineName) - 1);
  page[format::kHeaderVersionOffset] = format::kVersionJet4;
  static const uint8_t kFixed18[24] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                                       0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
  std::memcpy(page + 0x18, kFixed18, sizeof kFixed18);
  WriteU16(page + format::kHeaderCodePageOffset, 1252);
  WriteU32(page + format::kHeaderDatabaseKeyOffset, 0);
  const auto password = format::EmptyPasswordField(identity.creation_date);
  std::memcpy(page + format::kHeaderPasswordOffset, password.data(), password.size());
  WriteU32(page + 0x6A, identity.header_stamp);
  WriteU16(page + format::kHeaderSortOrderOffset, 0x0409);
  page[format::kHeaderSortVersionOffset] = 0;
  WriteF64(page + format::kHeaderCreationDateOffset, identity.creation_date);
  format::ApplyHeaderMask(page);
  static const uint8_t kVersionTag[8] = {0x54, 0x06, 0x00, 0x00, 0x34, 0x2E, 0x30, 0x00};
  std::memcpy(page + 0x98, kVersionTag, sizeof kVersionTag);
  // 256 two-byte entries seen in every freshly created file.
  page[0xE00] = 0x01;
  page[0xE01] = 0x01;
  for (uint32_t i = 1; i < 256; ++i) page[0xE00 + 2 * i + 1] = 0x01;
}

}  // namespace tabulon::jet
