// Usage maps: bitmaps of pages kept as a row on a data page, either inline (type 0: start page
// + bitmap) or by reference (type 1: pointers to type-0x05 bitmap pages).
#pragma once

#include <cstdint>
#include <vector>

#include "base/status.h"
#include "jet/pager.h"

namespace tabulon::jet::format {

inline constexpr uint8_t kUsageMapInline = 0x00;
inline constexpr uint8_t kUsageMapReference = 0x01;
inline constexpr uint32_t kUsageMapRowSize = 69;
inline constexpr uint32_t kUsageBitmapPageHeader = 4;
inline constexpr uint32_t kPagesPerBitmapPage = (kPageSize - kUsageBitmapPageHeader) * 8;  // 32736

struct UsageMap {
  uint8_t kind = kUsageMapInline;
  uint32_t start_page = 0;             // inline maps
  std::vector<uint32_t> bitmap_pages;  // reference maps: slot i covers [i·32736, (i+1)·32736)
  // Pages whose bit is set, ascending, limited to pages that exist in the file.
  std::vector<uint32_t> pages;
  // Set bits that name pages past the end of the file (the global map marks them free).
  uint64_t bits_beyond_file = 0;
  uint32_t inline_bits = 0;  // pages an inline map has a bit for, from start_page

  // True when the map has a bit for `page` at all.
  bool Covers(uint32_t page) const;
};

// Reads the map stored in the row `row_pointer` ((page << 8) | row); pointer 0 is an empty map.
Result<UsageMap> ReadUsageMap(Pager& pager, uint32_t row_pointer);

// Decodes a map row already in memory; `where` is the row pointer for messages.
Result<UsageMap> DecodeUsageMap(Pager& pager, const uint8_t* row, uint32_t size, uint32_t where);

}  // namespace tabulon::jet::format
