#include "jet/format/data_page.h"

#include <algorithm>
#include <cstdio>

#include "base/bytes.h"
#include "jet/pager.h"

namespace tabulon::jet::format {

const char* PageTypeName(uint8_t type) {
  switch (type) {
    case kPageHeader: return "header/empty";
    case kPageData: return "data";
    case kPageTableDef: return "table definition";
    case kPageIndexNode: return "index node";
    case kPageIndexLeaf: return "index leaf";
    case kPageUsageBitmap: return "usage bitmap";
    default: return "unknown";
  }
}

std::string PageAt(uint32_t page, uint32_t offset) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "page %u offset 0x%x: ", page, offset);
  return buffer;
}

Result<DataPageView> DataPageView::Parse(const uint8_t* page, uint32_t number) {
  if (page[0] != kPageData) {
    return CorruptError(PageAt(number, 0) + "expected a data page, found page type " + std::to_string(page[0]) + " (" +
                        PageTypeName(page[0]) + ")");
  }
  const uint16_t rows = ReadU16(page + kDataPageRowCountOffset);
  // Each row needs at least its 2-byte offset entry.
  if (kDataPageHeaderSize + 2u * rows > kPageSize) {
    return CorruptError(PageAt(number, kDataPageRowCountOffset) + "row count " + std::to_string(rows) +
                        " does not fit in a page");
  }
  const DataPageView view(page, number, rows);
  for (uint16_t i = 0; i < rows; ++i) {
    const RowSlot slot = view.Row(i);
    // Deleted rows are checked only when something points at them.
    if (!slot.deleted) RETURN_IF_ERROR(view.CheckBounds(slot, i));
  }
  return DataPageView(page, number, rows);
}

Status DataPageView::CheckBounds(const RowSlot& slot, uint16_t index) const {
  const uint32_t table_end = kDataPageHeaderSize + 2u * row_count_;
  if (slot.start < table_end || slot.start > slot.end) {
    return CorruptError(PageAt(page_number_, kDataPageHeaderSize + 2 * index) + "row " + std::to_string(index) +
                        " spans [" + std::to_string(slot.start) + ", " + std::to_string(slot.end) +
                        "), outside the row area [" + std::to_string(table_end) + ", 4096)");
  }
  return Status::Ok();
}

uint32_t DataPageView::owner() const { return ReadU32(page_ + kDataPageOwnerOffset); }
uint16_t DataPageView::free_space() const { return ReadU16(page_ + kDataPageFreeSpaceOffset); }

RowSlot DataPageView::Row(uint16_t index) const {
  RowSlot slot;
  const uint16_t raw = ReadU16(page_ + kDataPageHeaderSize + 2 * index);
  slot.deleted = (raw & kRowDeleted) != 0;
  slot.overflow = (raw & kRowOverflow) != 0;
  slot.start = raw & kRowOffsetMask;
  // A row ends where the row before it in the table starts (rows grow downwards). Deleted
  // rows keep their bytes, so their offsets count too, unless they cannot be an end.
  uint32_t end = kPageSize;
  for (int i = index - 1; i >= 0; --i) {
    const uint16_t prev_raw = ReadU16(page_ + kDataPageHeaderSize + 2 * i);
    const uint32_t prev = prev_raw & kRowOffsetMask;
    if (!(prev_raw & kRowDeleted) || (prev >= slot.start && prev <= kPageSize)) {
      end = std::min<uint32_t>(prev, kPageSize);
      break;
    }
  }
  slot.end = static_cast<uint16_t>(end);
  return slot;
}

}  // namespace tabulon::jet::format
