// ODBC column metadata to OLE DB type codes and column flags, in one table.
#pragma once

#include <cstdint>
#include <string_view>

#include "data/provider.h"

namespace tabulon::data {

// Column size of a long column (varchar(max), text, blobs): unlimited.
inline constexpr size_t kLongColumnSize = ~size_t{0};

struct OdbcColumnMetadata {
  std::int16_t sql_type = 0;      // SQLDescribeCol data type
  std::uint64_t column_size = 0;  // SQLDescribeCol column size (0 = unlimited for some drivers)
  std::int16_t decimal_digits = 0;
  std::int16_t nullable = 2;   // SQL_NO_NULLS 0, SQL_NULLABLE 1, SQL_NULLABLE_UNKNOWN 2
  std::int64_t updatable = 2;  // SQL_ATTR_READONLY 0, SQL_ATTR_WRITE 1, SQL_ATTR_READWRITE_UNKNOWN 2
  std::string_view type_name;  // SQL_DESC_TYPE_NAME, e.g. "money"
};

// Fills type, flags, size, precision and scale of `column` (name and ordinal are left alone).
void MapOdbcColumn(const OdbcColumnMetadata& metadata, ColumnInfo& column);

}  // namespace tabulon::data
