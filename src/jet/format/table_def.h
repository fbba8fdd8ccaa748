// Table definition (TDEF) pages: one logical buffer spread over a chain of type-0x02 pages.
#pragma once

#include <cstdint>
#include <vector>

#include "base/status.h"
#include "jet/pager.h"
#include "jet/schema.h"

namespace tabulon::jet::format {

// Offsets inside the logical definition buffer (the first page's header included).
inline constexpr uint32_t kTdefNextPageOffset = 0x04;
inline constexpr uint32_t kTdefLengthOffset = 0x08;
inline constexpr uint32_t kTdefRowCountOffset = 0x10;
inline constexpr uint32_t kTdefAutoNumberOffset = 0x14;
inline constexpr uint32_t kTdefTableTypeOffset = 0x28;
inline constexpr uint32_t kTdefMaxColumnsOffset = 0x29;
inline constexpr uint32_t kTdefVariableColumnsOffset = 0x2B;
inline constexpr uint32_t kTdefColumnCountOffset = 0x2D;
inline constexpr uint32_t kTdefLogicalIndexCountOffset = 0x2F;
inline constexpr uint32_t kTdefRealIndexCountOffset = 0x33;
inline constexpr uint32_t kTdefOwnedMapOffset = 0x37;
inline constexpr uint32_t kTdefFreeMapOffset = 0x3B;
inline constexpr uint32_t kTdefHeaderSize = 0x3F;
inline constexpr uint32_t kTdefRealIndexBlockSize = 12;
inline constexpr uint32_t kTdefColumnSize = 25;
inline constexpr uint32_t kTdefRealIndexSize = 52;
inline constexpr uint32_t kTdefLogicalIndexSize = 28;
inline constexpr uint32_t kTdefLongValueMapSize = 10;
inline constexpr uint32_t kTdefContinuationHeader = 8;
inline constexpr uint8_t kTableTypeUser = 0x4E;
inline constexpr uint8_t kTableTypeSystem = 0x53;

// The definition buffer of the table whose first TDEF page is `first_page`, with the pages it
// came from. Bounded by the declared length; loops and wrong page types are corruption.
struct TableDefinitionBytes {
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> pages;
};
Result<TableDefinitionBytes> ReadTableDefinitionBytes(Pager& pager, uint32_t first_page);

// Parses a definition buffer. Columns come back in column-number order.
Result<TableDefinition> ParseTableDefinition(const TableDefinitionBytes& definition);

// Where one part of a definition starts, for dumps and checks.
struct TableDefinitionLayout {
  uint32_t real_index_blocks = kTdefHeaderSize;
  uint32_t columns = 0;
  uint32_t column_names = 0;
  uint32_t real_indexes = 0;
  uint32_t logical_indexes = 0;
  uint32_t logical_index_names = 0;
  uint32_t long_value_maps = 0;
  uint32_t end = 0;  // after the terminator
};
Result<TableDefinitionLayout> LayoutTableDefinition(const std::vector<uint8_t>& bytes, uint32_t first_page);

}  // namespace tabulon::jet::format
