// Turns a Row into the bytes of a Jet 4 data row: column count, fixed area, variable data,
// variable-offset table, null mask. Long values are handed to a sink that stores them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "jet/schema.h"

namespace tabulon::jet {

// Largest row the engine writes (Memo/OLE data beyond their 12-byte headers excluded): what
// other Jet writers accept, so every reader and Access can take the row.
inline constexpr size_t kMaxRowSize = 4060;
// Long values up to this size stay inside the row.
inline constexpr size_t kMaxInlineLongValue = 64;

// Text as stored: the compressed form ("FF FE" + one byte per character) when the column
// allows it and every character is U+0001..U+00FF (3 to 1024 characters), else UTF-16LE.
Result<std::string> EncodeText(std::string_view utf8, bool compress);

// Stores a long value outside the row and returns its 12-byte header.
class LongValueSink {
 public:
  virtual ~LongValueSink() = default;
  virtual Result<std::string> Store(const ColumnDefinition& column, std::string_view data) = 0;
};

class RowEncoder {
 public:
  explicit RowEncoder(const TableDefinition& table);

  // Encodes `row` (one value per column, in the order of table.columns) into `out`.
  // Checks types, lengths and Required columns; names the column in every error.
  Status Encode(const Row& row, LongValueSink& long_values, std::string& out);

 private:
  Status EncodeFixed(const ColumnDefinition& column, const Value& value, uint8_t* at) const;
  Status EncodeVariable(const ColumnDefinition& column, const Value& value, std::string& out) const;
  Status LongValueData(const ColumnDefinition& column, const Value& value, std::string& data) const;

  const TableDefinition& table_;
  uint16_t column_count_ = 0;    // as stored in each row
  uint16_t variable_count_ = 0;  // entries of the variable-offset table
  uint16_t fixed_size_ = 0;
  std::vector<size_t> variable_order_;  // positions in table.columns, by variable index
  std::vector<std::string> fields_;     // scratch, per variable index
};

}  // namespace tabulon::jet
