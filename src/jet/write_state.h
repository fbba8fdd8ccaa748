// Internal to the writing side: the in-memory state a writable Database keeps between write
// operations (page allocation, usage maps, catalog rows, per-table insertion points). It is
// loaded from the file on the first write and dropped after a failed one, so it never
// disagrees with the file for longer than one transaction.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/index_writer.h"
#include "jet/page_writer.h"
#include "jet/row_encoder.h"

namespace tabulon::jet {

inline constexpr uint32_t kCatalogTdefPage = 2;
inline constexpr int32_t kRootContainerId = 0x0F000000;
inline constexpr int32_t kTablesContainerId = 0x0F000001;
inline constexpr int32_t kDatabasesContainerId = 0x0F000002;
inline constexpr int32_t kRelationshipsContainerId = 0x0F000003;
inline constexpr int32_t kDatabaseObjectId = 0x10000000;
inline constexpr uint32_t kLongValueOwner = 0x4C41564C;  // "LVAL"

// The pages listed by one usage map, kept in memory and written back on commit.
struct MapState {
  uint32_t row_pointer = 0;
  std::vector<uint32_t> pages;         // ascending
  std::vector<uint32_t> bitmap_pages;  // reference maps: bitmap page per slot (0 = none)
  bool dirty = false;

  void Add(uint32_t page);
  void Remove(uint32_t page);
  void Clear();
};

struct TableState {
  TableDefinition def;
  std::unique_ptr<RowEncoder> encoder;
  MapState owned;                          // data pages
  MapState free;                           // data pages with room: the insertion page
  std::vector<MapState> long_value_owned;  // parallel to def.long_value_maps
  std::vector<MapState> long_value_free;
  std::vector<uint32_t> long_value_page;  // current LVAL page per long-value column (0 none)
  uint32_t current_page = 0;              // data page rows go to next (0 none)
  bool header_dirty = false;
  TableIndexes indexes;  // user-index maintenance (index_writer.h)
};

struct AceRow {
  int32_t object_id = 0;
  std::string sid;
  RowPointer row = 0;
};

// The system tables of a new database, as Jet defines them.
std::vector<TableDefinition> SystemTableDefinitions();
// Their real and logical indexes (by table, same order as SystemTableDefinitions()).
struct SystemIndexes {
  std::vector<RealIndexEntry> real;
  std::vector<LogicalIndexEntry> logical;
};
std::vector<SystemIndexes> SystemTableIndexes();

// Writes pages 0..13 of a new database (header, page map, the four system table definitions,
// their usage-map rows and empty index roots) into an empty pager.
Status WriteSkeletonPages(Pager& pager, const CreationIdentity& identity);

}  // namespace tabulon::jet
