// Rows of a table as stored on data pages, and the text encodings of Text and Memo values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/schema.h"

namespace tabulon::jet::format {

inline constexpr uint8_t kTextCompressedMark0 = 0xFF;
inline constexpr uint8_t kTextCompressedMark1 = 0xFE;

// Decodes a stored Text/Memo value (UTF-16LE, or FF FE + compressed segments) into UTF-8,
// replacing the contents of `out`.
void DecodeText(const uint8_t* data, size_t size, std::string& out);

// Reads the data of a Memo/OLE field (12-byte header + inline data) into `out`.
class LongValueSource {
 public:
  virtual ~LongValueSource() = default;
  virtual Status Read(const uint8_t* field, size_t size, std::string& out) = 0;
};

// Decodes rows of one table. Built once per scan, so decoding a row touches no definition data
// beyond a flat column list.
class RowDecoder {
 public:
  explicit RowDecoder(const TableDefinition& table);

  // Decodes `size` bytes at `row` into `out` (one value per column, column-number order).
  // Long values are read through `long_values`; without one they come back as Bytes holding
  // the field as stored. `where` is the row pointer, for messages.
  Status Decode(const uint8_t* row, uint32_t size, uint32_t where, LongValueSource* long_values, Row& out) const;

 private:
  struct Column {
    ColumnType type;
    uint16_t number;
    bool fixed;
    uint16_t fixed_offset;
    uint16_t variable_index;
    uint16_t fixed_size;  // bytes in the fixed area (Text and Binary may be fixed too)
    uint8_t scale;
    const std::string* name;
  };
  std::vector<Column> columns_;
  bool has_variable_ = false;
  mutable std::string scratch_;  // raw Memo data, reused from row to row
};

// Size of a fixed value of `type` in the row (0 for Boolean, which lives in the null mask).
uint32_t FixedSize(ColumnType type);

}  // namespace tabulon::jet::format
