// Page allocation of the writing side: usage maps kept in memory (MapState), pages with room for
// a row, pages given back to the file, and the usage maps and global page map stored on commit.
#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "jet/format/data_page.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"
#include "jet/database_write.h"

namespace tabulon::jet {
namespace {

constexpr uint32_t kMaxGlobalInlineRow = 4082 - 4 - kMapRowSize;  // page 1 also holds row 1

}  // namespace

// ---- MapState -----------------------------------------------------------------------------

void MapState::Add(uint32_t page) {
  if (pages.empty() || page > pages.back()) {
    pages.push_back(page);
  } else {
    auto it = std::lower_bound(pages.begin(), pages.end(), page);
    if (it != pages.end() && *it == page) return;
    pages.insert(it, page);
  }
  dirty = true;
}

void MapState::Remove(uint32_t page) {
  auto it = std::lower_bound(pages.begin(), pages.end(), page);
  if (it != pages.end() && *it == page) {
    pages.erase(it);
    dirty = true;
  }
}

void MapState::Clear() {
  if (!pages.empty()) dirty = true;
  pages.clear();
}

Status LoadMap(Pager& pager, uint32_t row_pointer, MapState& map) {
  map.row_pointer = row_pointer;
  ASSIGN_OR_RETURN(format::UsageMap m, format::ReadUsageMap(pager, row_pointer));
  map.pages = std::move(m.pages);
  std::sort(map.pages.begin(), map.pages.end());
  map.bitmap_pages = std::move(m.bitmap_pages);
  return Status::Ok();
}

// ---- WriteState: pages ----------------------------------------------------------------------

Result<uint8_t*> Database::WriteState::PageWithRoom(uint32_t& current, MapState& free_map, uint32_t owner,
                                                    size_t size) {
  auto usable = [&](uint32_t number) -> Result<uint8_t*> {
    ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(number));
    if (page[0] == format::kPageData && ReadU32(page + 4) == owner && DataPageFits(page, size)) {
      return page;
    }
    return nullptr;
  };
  if (current != 0) {
    ASSIGN_OR_RETURN(uint8_t * page, usable(current));
    if (page) return page;
  }
  // Pages that gained room through deletes. One that cannot take this row leaves the map, so
  // a long run of inserts tries each such page once.
  while (!free_map.pages.empty()) {
    const uint32_t candidate = free_map.pages.front();
    if (candidate != current) {
      ASSIGN_OR_RETURN(uint8_t * page, usable(candidate));
      if (page) {
        current = candidate;
        return page;
      }
    }
    free_map.Remove(candidate);
  }
  current = 0;
  return nullptr;
}

Status Database::WriteState::NoteRoom(TableState& table, uint32_t number) {
  ASSIGN_OR_RETURN(const uint8_t* page, pager.ReadPage(number));
  if (DataPageHasLiveRows(page)) {
    table.free.Add(number);
    return Status::Ok();
  }
  // An empty data page goes back to the file for any use.
  table.owned.Remove(number);
  table.free.Remove(number);
  if (table.current_page == number) table.current_page = 0;
  Free(number);
  return Status::Ok();
}

Status Database::WriteState::StoreMaps(TableState& table) {
  auto store = [&](MapState& map) -> Status {
    if (!map.dirty) return Status::Ok();
    RETURN_IF_ERROR(StoreUsageMap(pager, *this, map.row_pointer, map.pages, map.bitmap_pages));
    map.dirty = false;
    return Status::Ok();
  };
  RETURN_IF_ERROR(store(table.owned));
  RETURN_IF_ERROR(store(table.free));
  for (MapState& m : table.long_value_owned) RETURN_IF_ERROR(store(m));
  for (MapState& m : table.long_value_free) RETURN_IF_ERROR(store(m));
  if (table.header_dirty) {
    ASSIGN_OR_RETURN(uint8_t * tdef, pager.MutablePage(table.def.tdef_page));
    WriteU32(tdef + format::kTdefRowCountOffset, table.def.row_count);
    WriteU32(tdef + format::kTdefAutoNumberOffset, table.def.last_auto_number);
    table.header_dirty = false;
  }
  return Status::Ok();
}

Status Database::WriteState::StoreGlobalMap() {
  if (!global_dirty) return Status::Ok();
  // A Jet file keeps its length; pages given back are only marked free for reuse.
  uint32_t count = pager.page_count();
  const uint32_t bitmap_bytes = std::max<uint32_t>(64, ((count + 7) / 8 + 31) / 32 * 32);
  ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(1));
  uint16_t start = 0;
  uint16_t end = 0;
  if (!RowBounds(page, 0, start, end)) {
    return CorruptError(format::PageAt(1, 0) + "the global page map row is missing");
  }
  const uint32_t row_size = 5 + bitmap_bytes;
  if (row_size <= kMaxGlobalInlineRow) {
    for (uint32_t& p : global_bitmap_pages) {
      if (p != 0) free_pages.insert(p);
      p = 0;
    }
    // Rebuild page 1 with a row 0 large enough for every page of the file.
    InitDataPage(page, 1);
    std::string row(row_size, '\0');
    auto* bits = reinterpret_cast<uint8_t*>(row.data()) + 5;
    for (uint32_t p = 0; p < bitmap_bytes * 8; ++p) {
      if (p >= count || free_pages.count(p) != 0) bits[p / 8] |= static_cast<uint8_t>(1u << (p % 8));
    }
    AddRowToPage(page, reinterpret_cast<const uint8_t*>(row.data()), row.size());
    const std::string second(kMapRowSize, '\0');
    AddRowToPage(page, reinterpret_cast<const uint8_t*>(second.data()), second.size());
    global_dirty = false;
    return Status::Ok();
  }
  // A large file: row 0 points to bitmap pages, one per 32736 pages. Allocate them first (they
  // are in use themselves), then fill in every bit.
  InitDataPage(page, 1);
  std::string row(kMapRowSize, '\0');
  row[0] = static_cast<char>(format::kUsageMapReference);
  const uint32_t slots = (kMapRowSize - 1) / 4;
  global_bitmap_pages.resize(slots, 0);
  for (uint32_t slot = 0; slot < slots; ++slot) {
    if (uint64_t{slot} * format::kPagesPerBitmapPage < pager.page_count() + 8 && global_bitmap_pages[slot] == 0) {
      ASSIGN_OR_RETURN(global_bitmap_pages[slot], Allocate());
    }
  }
  count = pager.page_count();
  AddRowToPage(page, reinterpret_cast<const uint8_t*>(row.data()), row.size());
  const std::string second(kMapRowSize, '\0');
  AddRowToPage(page, reinterpret_cast<const uint8_t*>(second.data()), second.size());
  uint16_t row_start = 0;
  uint16_t row_end = 0;
  RowBounds(page, 0, row_start, row_end);
  for (uint32_t slot = 0; slot < slots; ++slot) {
    WriteU32(page + row_start + 1 + 4 * slot, global_bitmap_pages[slot]);
  }
  for (uint32_t slot = 0; slot < slots; ++slot) {
    if (global_bitmap_pages[slot] == 0) continue;
    ASSIGN_OR_RETURN(uint8_t * bitmap, pager.MutablePage(global_bitmap_pages[slot]));
    std::memset(bitmap, 0, kPageSize);
    bitmap[0] = format::kPageUsageBitmap;
    bitmap[1] = 0x01;
    const uint64_t first = uint64_t{slot} * format::kPagesPerBitmapPage;
    for (uint32_t bit = 0; bit < format::kPagesPerBitmapPage; ++bit) {
      const uint64_t p = first + bit;
      if (p >= count || free_pages.count(static_cast<uint32_t>(p)) != 0) {
        bitmap[format::kUsageBitmapPageHeader + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
      }
    }
  }
  global_dirty = false;
  return Status::Ok();
}

}  // namespace tabulon::jet
