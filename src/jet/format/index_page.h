// Index pages (0x03 node, 0x04 leaf): entries back to back from 0x1E0, their ends marked in a
// bitmap, later entries sharing a prefix with the first one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/pager.h"

namespace tabulon::jet::format {

inline constexpr uint32_t kIndexPrevPageOffset = 12;
inline constexpr uint32_t kIndexNextPageOffset = 16;
inline constexpr uint32_t kIndexTailPageOffset = 20;
inline constexpr uint32_t kIndexPrefixOffset = 24;
inline constexpr uint32_t kIndexBitmapOffset = 27;
inline constexpr uint32_t kIndexBitmapSize = 453;
inline constexpr uint32_t kIndexEntriesOffset = 0x1E0;

struct IndexEntry {
  std::string key;           // the key bytes, prefix restored
  uint32_t row_pointer = 0;  // (page << 8) | row of the data row
  uint32_t child_page = 0;   // node pages only
};

struct IndexPage {
  uint8_t type = 0;
  uint16_t free_space = 0;
  uint32_t owner = 0;
  uint32_t prev_page = 0;
  uint32_t next_page = 0;
  uint32_t tail_page = 0;
  uint16_t prefix_length = 0;
  std::vector<IndexEntry> entries;
  bool leaf() const { return type == 0x04; }
};

Result<IndexPage> DecodeIndexPage(const uint8_t* page, uint32_t page_number);

// Every leaf entry of the B-tree under `root`, in tree order, with the pages visited.
// Loops, wrong page types and trees deeper than any real index are corruption.
Result<std::vector<IndexEntry>> ReadIndexEntries(Pager& pager, uint32_t root, std::vector<uint32_t>* pages = nullptr);

}  // namespace tabulon::jet::format
