// Long values (Memo, OLE): a 12-byte header in the row, the data inline, in one row of a
// long-value page, or in a chain of such rows.
#pragma once

#include <cstdint>
#include <string>

#include "base/status.h"
#include "jet/pager.h"

namespace tabulon::jet::format {

inline constexpr uint32_t kLongValueHeaderSize = 12;
inline constexpr uint32_t kLongValueLengthMask = 0x3FFFFFFF;
inline constexpr uint32_t kLongValueInline = 0x80000000;
inline constexpr uint32_t kLongValueSingle = 0x40000000;
inline constexpr uint32_t kLongValueKindMask = 0xC0000000;
inline constexpr uint32_t kLongValueMaxInline = 64;
inline constexpr uint32_t kLongValueMaxSingle = 4076;
inline constexpr uint32_t kLongValueChunkPointerSize = 4;

struct LongValueHeader {
  uint32_t kind = 0;       // kLongValueInline, kLongValueSingle or 0 (chain)
  uint32_t length = 0;     // total data bytes
  uint32_t first_row = 0;  // row pointer of the first long-value row
};

Result<LongValueHeader> DecodeLongValueHeader(const uint8_t* field, size_t size);

// Visits the (page, row) of every long-value row a value uses, for checks and dumps.
struct LongValueChunk {
  uint32_t row_pointer = 0;
  uint32_t data_bytes = 0;
};

// Appends the value's data bytes to `out` (cleared first). `chunks`, when given, receives the
// rows followed. A declared length beyond what the rows hold, a loop, or a row pointer to a
// page that is not a data page is corruption; nothing larger than the file is allocated.
Status ReadLongValueData(Pager& pager, const uint8_t* field, size_t size, std::string& out,
                         std::vector<LongValueChunk>* chunks = nullptr);

}  // namespace tabulon::jet::format
