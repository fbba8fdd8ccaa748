// Builders for the pages the writing side produces: data-layout pages (rows, long values,
// usage-map rows), usage maps, index B-trees, table definitions and page 0.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/pager.h"
#include "jet/schema.h"

namespace tabulon::jet {

inline constexpr uint32_t kMaxRowsPerPage = 255;
inline constexpr uint32_t kMapRowSize = 69;
inline constexpr uint32_t kInlineMapPages = 512;  // 64 bitmap bytes

// ---- Data-layout pages (type 0x01) --------------------------------------------------------

// Formats `page` as an empty data page with the given owner field.
void InitDataPage(uint8_t* page, uint32_t owner);
// Free bytes of a data page, as stored in its header.
uint16_t DataPageFreeSpace(const uint8_t* page);
uint16_t DataPageRowCount(const uint8_t* page);
// True when a row of `size` bytes (plus its offset entry) fits, counting the bytes of
// deleted rows (AddRowToPage repacks the page to reach them).
bool DataPageFits(const uint8_t* page, size_t size);
// Adds a row (caller checked DataPageFits) and returns its row number: the next one, or the
// first deleted one when the page has used all 255.
uint8_t AddRowToPage(uint8_t* page, const uint8_t* row, size_t size);
// Replaces the bytes of a live row, keeping its row number (the page is repacked). False, and
// the page unchanged, when the row is missing, deleted or moved, or the new bytes do not fit.
bool ReplaceRowOnPage(uint8_t* page, uint8_t row, const uint8_t* bytes, size_t size);
// False when every row of the page is deleted (the page can be given back).
bool DataPageHasLiveRows(const uint8_t* page);
// Marks a row deleted (0xC000 on its offset entry, the form Access writes) and gives its bytes
// back to the free space count. Returns false when the row does not exist or is deleted.
bool DeleteRowOnPage(uint8_t* page, uint8_t row);
// Bounds of a live row, or false when it is missing or deleted.
bool RowBounds(const uint8_t* page, uint8_t row, uint16_t& start, uint16_t& end);

// ---- Allocation ---------------------------------------------------------------------------

// Hands out page numbers (reusing free pages first) and takes freed ones back.
class PageAllocator {
 public:
  virtual ~PageAllocator() = default;
  // A page marked used, zero-filled and dirty in the pager.
  virtual Result<uint32_t> Allocate() = 0;
  virtual void Free(uint32_t page) = 0;
};

// ---- Usage maps ---------------------------------------------------------------------------

// Writes the 69-byte (or larger) map row at `row_pointer` so that it lists exactly `pages`
// (ascending): inline when they fit one 512-page window, otherwise by reference through
// type-0x05 bitmap pages (`bitmap_pages` holds those already owned by the map; new ones are
// allocated and added to it).
Status StoreUsageMap(Pager& pager, PageAllocator& allocator, uint32_t row_pointer, const std::vector<uint32_t>& pages,
                     std::vector<uint32_t>& bitmap_pages);

// ---- Indexes ------------------------------------------------------------------------------

inline constexpr uint32_t kIndexPageEntryBytes = kPageSize - 0x1E0;  // 3616

// Formats `page` as an index page (leaf or node) holding `entries` back to back, stored whole
// (shared prefix length 0). The caller keeps the entries within kIndexPageEntryBytes.
void WriteIndexPage(uint8_t* page, bool leaf, uint32_t owner, uint32_t prev, uint32_t next,
                    const std::vector<std::string>& entries, uint32_t tail = 0);

// Writes a B-tree holding `entries` (key + row pointer, strictly ascending; pass them moved
// to spare a copy) with its top at `root`. `pages` holds the index's pages other than the root: reused first, extra
// ones are allocated, surplus ones freed; on return it lists the pages in use (root excluded).
Status WriteIndexTree(Pager& pager, PageAllocator& allocator, uint32_t owner_tdef, uint32_t root,
                      std::vector<std::string> entries, std::vector<uint32_t>& pages);

// ---- Table definitions --------------------------------------------------------------------

// A real index as stored in a table definition.
struct RealIndexEntry {
  std::vector<IndexColumn> columns;
  uint8_t flags = 0;
  uint32_t usage_map = 0;  // row pointer
  uint32_t root_page = 0;
  uint32_t unique_entries = 0;
};

// A logical index as stored in a table definition.
struct LogicalIndexEntry {
  std::string name;
  uint32_t number = 0;
  uint32_t real_number = 0;
  uint8_t index_type = 0;
  // Foreign-key indexes (index_type 0x02) only.
  uint8_t fk_side = 0;  // 1 primary ("one") table, 2 foreign ("many") table
  uint32_t fk_other_index = 0xFFFFFFFF;
  uint32_t fk_other_table_page = 0;
  bool cascade_update = false;
  bool cascade_delete = false;
  bool cascade_null = false;
};

struct DefinitionContent {
  // Columns, counts, maps (long-value maps included); the order of `columns` is kept.
  const TableDefinition* table = nullptr;
  std::vector<RealIndexEntry> real_indexes;
  std::vector<LogicalIndexEntry> logical_indexes;
};

// The logical definition buffer (first page header included).
// The content that stores `def`: its real indexes in number order (each from its first logical
// index) and every logical index with its relationship facts.
DefinitionContent DefinitionContentOf(const TableDefinition& def);
Result<std::vector<uint8_t>> EncodeTableDefinition(const DefinitionContent& content);

// Splits a definition buffer over `pages` (first page first); `pages` is grown through the
// allocator when the buffer needs more pages and surplus pages are freed.
Status WriteTableDefinitionPages(Pager& pager, PageAllocator& allocator, const std::vector<uint8_t>& definition,
                                 std::vector<uint32_t>& pages);

// ---- Page 0 -------------------------------------------------------------------------------

// Creation date and owner SID travel together (the SIDs are derived from the date in a way
// nobody has decoded), so a new file takes one consistent, known pair.
struct CreationIdentity {
  double creation_date;
  uint16_t system_owner;  // big-endian value of the 2-byte SID of system objects
  uint32_t header_stamp;  // the per-file value at 0x6A
};
const CreationIdentity& DefaultCreationIdentity();

void BuildHeaderPage(uint8_t* page, const CreationIdentity& identity);

}  // namespace tabulon::jet
