// Page types and the layout shared by data pages, long-value pages and usage-map pages:
// a 14-byte header, a table of row offsets, rows packed from the end of the page downwards.
#pragma once

#include <cstdint>
#include <string>

#include "base/status.h"

namespace tabulon::jet::format {

enum PageType : uint8_t {
  kPageHeader = 0x00,  // page 0 (also a page that was never written)
  kPageData = 0x01,    // table rows, usage-map rows, long values
  kPageTableDef = 0x02,
  kPageIndexNode = 0x03,
  kPageIndexLeaf = 0x04,
  kPageUsageBitmap = 0x05,
};

const char* PageTypeName(uint8_t type);

inline constexpr uint32_t kDataPageHeaderSize = 14;
inline constexpr uint32_t kDataPageFreeSpaceOffset = 2;
inline constexpr uint32_t kDataPageOwnerOffset = 4;
inline constexpr uint32_t kDataPageRowCountOffset = 12;
inline constexpr uint32_t kEmptyDataPageFreeSpace = 4082;
inline constexpr uint16_t kRowOffsetMask = 0x1FFF;
inline constexpr uint16_t kRowDeleted = 0x8000;
inline constexpr uint16_t kRowOverflow = 0x4000;
inline constexpr uint32_t kLongValuePageOwner = 0x4C41564C;  // "LVAL" read little-endian

// One entry of a page's row table, resolved to byte bounds within the page.
struct RowSlot {
  uint16_t start = 0;
  uint16_t end = 0;  // exclusive
  bool deleted = false;
  bool overflow = false;
  uint16_t size() const { return static_cast<uint16_t>(end - start); }
};

// A checked view of a data-layout page (types 0x01). Construction validates the row table, so
// every RowSlot handed out lies inside the page.
class DataPageView {
 public:
  // `page_number` is for messages only.
  static Result<DataPageView> Parse(const uint8_t* page, uint32_t page_number);

  uint32_t owner() const;
  uint16_t free_space() const;
  uint16_t row_count() const { return row_count_; }
  // Bounds of row `index`. Bounds of live rows were checked by Parse; flagged rows (deleted,
  // or the target of a moved row, which carries the deleted flag) need CheckBounds.
  RowSlot Row(uint16_t index) const;
  Status CheckBounds(const RowSlot& slot, uint16_t index) const;
  const uint8_t* bytes() const { return page_; }
  uint32_t page_number() const { return page_number_; }

 private:
  DataPageView(const uint8_t* page, uint32_t number, uint16_t rows)
      : page_(page), page_number_(number), row_count_(rows) {}
  const uint8_t* page_;
  uint32_t page_number_;
  uint16_t row_count_;
};

// "page 12 offset 0x1a: " prefix for corruption messages.
std::string PageAt(uint32_t page, uint32_t offset);

}  // namespace tabulon::jet::format
