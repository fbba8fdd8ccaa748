// The engine's model of tables and values, shared by the reading and the writing side.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tabulon::jet {

// Column type codes as stored in a Jet 4 table definition.
enum class ColumnType : uint8_t {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,   // int16
  kLong = 0x04,      // int32 (AutoNumber when the auto-number flag is set)
  kCurrency = 0x05,  // int64 scaled by 10,000
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,  // double, days since 1899-12-30
  kBinary = 0x09,    // up to 255 bytes
  kText = 0x0A,      // up to 255 characters
  kOle = 0x0B,       // long binary
  kMemo = 0x0C,      // long text
  kUnknown0D = 0x0D,
  kGuid = 0x0F,     // Replication ID
  kNumeric = 0x10,  // Decimal, precision 1..28
  kUnknown11 = 0x11,
};

const char* ColumnTypeName(ColumnType type);
bool IsLongValueType(ColumnType type);  // Memo, OLE

// Column flag bits of the table definition.
inline constexpr uint8_t kColumnFixed = 0x01;
inline constexpr uint8_t kColumnUpdatable = 0x02;
inline constexpr uint8_t kColumnAutoNumber = 0x04;
inline constexpr uint8_t kColumnAutoGuid = 0x40;
// Extra flags (the byte after the flags).
inline constexpr uint8_t kColumnCompressed = 0x01;
inline constexpr uint8_t kColumnHyperlink = 0x80;

struct ColumnDefinition {
  std::string name;  // UTF-8
  ColumnType type = ColumnType::kLong;
  uint16_t number = 0;          // column number: bit position in the null mask
  uint16_t variable_index = 0;  // slot in the row's variable-offset table (variable columns)
  uint16_t fixed_offset = 0;    // offset in the fixed area (fixed columns, not Boolean)
  uint16_t length = 0;          // bytes in the row: Text = 2 × characters, Binary = bytes
  uint8_t flags = kColumnUpdatable;
  uint8_t extra_flags = 0;      // kColumnCompressed: unicode compression allowed
  uint8_t precision = 0;        // Numeric
  uint8_t scale = 0;            // Numeric
  uint16_t collation = 0x0409;  // Text/Memo sort order id (General)
  bool required = false;        // NOT NULL (kept as a column property, not in the flags)
  // Column properties written with the table (LvProp): the DefaultValue expression (Jet SQL
  // text, e.g. "0" or "\"n/a\""; empty: none) and AllowZeroLength of Text/Memo columns.
  std::string default_value;
  std::optional<bool> allow_zero_length;

  bool fixed() const { return (flags & kColumnFixed) != 0; }
  bool auto_number() const { return (flags & kColumnAutoNumber) != 0; }
};

// One column of an index (real index slot).
struct IndexColumn {
  uint16_t column_number = 0;
  bool ascending = true;
};

struct IndexDefinition {
  std::string name;
  uint32_t logical_number = 0;
  uint32_t real_number = 0;
  std::vector<IndexColumn> columns;
  uint8_t flags = 0;       // 0x01 unique, 0x02 ignore nulls, 0x08 required
  uint8_t index_type = 0;  // 0x01 primary key, 0x02 foreign key
  uint32_t root_page = 0;
  uint32_t usage_map = 0;  // row pointer: (page << 8) | row
  // Foreign keys only.
  uint8_t fk_side = 0;
  uint32_t fk_other_index = 0xFFFFFFFF;
  uint32_t fk_other_table_page = 0;
  bool cascade_update = false;
  bool cascade_delete = false;
  bool cascade_null = false;
  uint32_t unique_entry_count = 0;  // distinct keys ever added (real-index block)
};

// The usage maps of one Memo/OLE column (row pointers).
struct LongValueMaps {
  uint16_t column_number = 0;
  uint32_t owned_pages_map = 0;
  uint32_t free_pages_map = 0;
};

struct TableDefinition {
  std::string name;
  uint32_t tdef_page = 0;
  bool system = false;  // table type 'S'
  uint32_t row_count = 0;
  uint32_t last_auto_number = 0;
  std::vector<ColumnDefinition> columns;  // in column-number order
  std::vector<IndexDefinition> indexes;   // logical indexes
  uint32_t owned_pages_map = 0;           // row pointer
  uint32_t free_pages_map = 0;            // row pointer
  std::vector<LongValueMaps> long_value_maps;
  // Layout facts of the stored definition (filled when read from a file).
  uint16_t max_column_count = 0;           // highest column number + 1; the row's column count
  uint16_t variable_column_count = 0;      // entries of a row's variable-offset table
  uint32_t definition_length = 0;          // bytes of the definition across its pages
  uint32_t real_index_count = 0;           // physical indexes the definition holds
  uint32_t logical_index_offset = 0;       // where the logical index records start in the definition
  std::vector<uint32_t> definition_pages;  // the first page and its continuation pages
};

// The position of the column named `name` (compared without ASCII case, as Jet compares
// names) in table.columns, or -1.
int ColumnIndex(const TableDefinition& table, std::string_view name);

// An exact decimal: unscaled 96-bit magnitude (fits Jet's Numeric and Currency) with sign/scale.
struct Decimal {
  bool negative = false;
  uint8_t scale = 0;
  // Magnitude as 128-bit little-endian words (Jet uses at most 96 bits for precision 28).
  std::array<uint32_t, 4> words{};

  std::string ToString() const;  // exact, e.g. "-12.3456"
  static std::optional<Decimal> Parse(std::string_view text, uint8_t scale);
};

// A row value. Strings are UTF-8; Binary/OLE hold raw bytes in a std::string as a byte container.
struct Null {};
struct Bytes {
  std::string data;
};
struct Currency {
  int64_t scaled = 0;  // value × 10,000
};
struct DateTime {
  double days = 0;  // days since 1899-12-30, as stored
};
struct Guid {
  std::array<uint8_t, 16> bytes{};  // as stored (Windows GUID struct order)
};

using Value = std::variant<Null, bool, uint8_t, int16_t, int32_t, Currency, float, double, DateTime, Bytes, std::string,
                           Guid, Decimal>;

using Row = std::vector<Value>;  // in column-number order of TableDefinition::columns

}  // namespace tabulon::jet
