#include "jet/format/usage_map.h"

#include <string>

#include "base/bytes.h"
#include "jet/format/data_page.h"

namespace tabulon::jet::format {
namespace {

void CollectBits(const uint8_t* bitmap, uint32_t bytes, uint64_t first_page, uint32_t page_count, UsageMap& map) {
  for (uint32_t i = 0; i < bytes; ++i) {
    uint8_t b = bitmap[i];
    while (b != 0) {
      const int bit = __builtin_ctz(b);
      b = static_cast<uint8_t>(b & (b - 1));
      const uint64_t page = first_page + uint64_t{i} * 8 + bit;
      if (page < page_count) {
        map.pages.push_back(static_cast<uint32_t>(page));
      } else {
        ++map.bits_beyond_file;
      }
    }
  }
}

std::string MapAt(uint32_t where) {
  return "usage map at page " + std::to_string(where >> 8) + " row " + std::to_string(where & 0xFF) + ": ";
}

}  // namespace

bool UsageMap::Covers(uint32_t page) const {
  if (kind == kUsageMapInline) {
    return page >= start_page && uint64_t{page} < uint64_t{start_page} + inline_bits;
  }
  const uint32_t slot = page / kPagesPerBitmapPage;
  return slot < bitmap_pages.size() && bitmap_pages[slot] != 0;
}

Result<UsageMap> DecodeUsageMap(Pager& pager, const uint8_t* row, uint32_t size, uint32_t where) {
  if (size < 5) {
    return CorruptError(MapAt(where) + "row of " + std::to_string(size) + " bytes is too short");
  }
  UsageMap map;
  map.kind = row[0];
  if (map.kind == kUsageMapInline) {
    map.start_page = ReadU32(row + 1);
    map.inline_bits = (size - 5) * 8;
    CollectBits(row + 5, size - 5, map.start_page, pager.page_count(), map);
    return map;
  }
  if (map.kind != kUsageMapReference) {
    return CorruptError(MapAt(where) + "unknown map type " + std::to_string(map.kind));
  }
  for (uint32_t slot = 0; 1 + 4 * (slot + 1) <= size; ++slot) {
    const uint32_t bitmap_page = ReadU32(row + 1 + 4 * slot);
    map.bitmap_pages.push_back(bitmap_page);
    if (bitmap_page == 0) continue;
    ASSIGN_OR_RETURN(const uint8_t* page, pager.ReadPage(bitmap_page));
    if (page[0] != kPageUsageBitmap) {
      return CorruptError(PageAt(bitmap_page, 0) + "referenced by the " + MapAt(where) +
                          "expected a usage bitmap page, found type " + std::to_string(page[0]) + " (" +
                          PageTypeName(page[0]) + ")");
    }
    CollectBits(page + kUsageBitmapPageHeader, kPageSize - kUsageBitmapPageHeader, uint64_t{slot} * kPagesPerBitmapPage,
                pager.page_count(), map);
  }
  return map;
}

Result<UsageMap> ReadUsageMap(Pager& pager, uint32_t row_pointer) {
  if (row_pointer == 0) return UsageMap{};  // no map at all: some Access system tables
  const uint32_t page_number = row_pointer >> 8;
  const auto row_number = static_cast<uint16_t>(row_pointer & 0xFF);
  ASSIGN_OR_RETURN(const uint8_t* page, pager.ReadPage(page_number));
  auto view = DataPageView::Parse(page, page_number);
  if (!view.ok()) return view.status().WithContext(MapAt(row_pointer) + "its page");
  if (row_number >= view->row_count()) {
    return CorruptError(MapAt(row_pointer) + "the page holds only " + std::to_string(view->row_count()) + " rows");
  }
  const RowSlot slot = view->Row(row_number);
  if (slot.deleted) return CorruptError(MapAt(row_pointer) + "the row is deleted");
  // Copy the row: reading bitmap pages may evict the page from the pager's cache.
  std::vector<uint8_t> row(page + slot.start, page + slot.end);
  return DecodeUsageMap(pager, row.data(), static_cast<uint32_t>(row.size()), row_pointer);
}

}  // namespace tabulon::jet::format
