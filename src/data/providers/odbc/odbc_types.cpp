#include "data/providers/odbc/odbc_types.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>

#include "base/text.h"

namespace tabulon::data {
namespace {

// SQL Server driver specific types.
constexpr std::int16_t kSqlSsVariant = -150;
constexpr std::int16_t kSqlSsUdt = -151;
constexpr std::int16_t kSqlSsXml = -152;
constexpr std::int16_t kSqlSsTime2 = -154;
constexpr std::int16_t kSqlSsTimestampOffset = -155;

enum class Sizing {
  kVariable,  // size = the driver's column size (characters or bytes)
  kFixed,     // size = the OLE DB type's byte size, below
  kNumeric,   // precision and scale from the driver
};

struct TypeRow {
  std::int16_t sql_type;
  DbType db_type;
  std::uint32_t flags;
  Sizing sizing;
  size_t fixed_size;       // kFixed/kNumeric: bytes of the OLE DB type
  std::uint8_t precision;  // kFixed: the type's decimal precision, or kNotApplicable
};

constexpr std::uint32_t kFixedLength = DBCOLUMNFLAGS_ISFIXEDLENGTH;
constexpr std::uint8_t kNa = kNotApplicable;

// Date and time types keep their OLE DB codes; the SQL Server types that the old down-level
// provider saw as text (time with fractions, datetimeoffset, xml) stay text here too.
constexpr TypeRow kTypes[] = {
    {SQL_CHAR, DBTYPE_STR, kFixedLength, Sizing::kVariable, 0, kNa},
    {SQL_VARCHAR, DBTYPE_STR, 0, Sizing::kVariable, 0, kNa},
    {SQL_LONGVARCHAR, DBTYPE_STR, DBCOLUMNFLAGS_ISLONG, Sizing::kVariable, 0, kNa},
    {SQL_WCHAR, DBTYPE_WSTR, kFixedLength, Sizing::kVariable, 0, kNa},
    {SQL_WVARCHAR, DBTYPE_WSTR, 0, Sizing::kVariable, 0, kNa},
    {SQL_WLONGVARCHAR, DBTYPE_WSTR, DBCOLUMNFLAGS_ISLONG, Sizing::kVariable, 0, kNa},
    {SQL_BINARY, DBTYPE_BYTES, kFixedLength, Sizing::kVariable, 0, kNa},
    {SQL_VARBINARY, DBTYPE_BYTES, 0, Sizing::kVariable, 0, kNa},
    {SQL_LONGVARBINARY, DBTYPE_BYTES, DBCOLUMNFLAGS_ISLONG, Sizing::kVariable, 0, kNa},
    {SQL_GUID, DBTYPE_GUID, kFixedLength, Sizing::kFixed, 16, kNa},
    {SQL_BIT, DBTYPE_BOOL, kFixedLength, Sizing::kFixed, 2, kNa},
    {SQL_TINYINT, DBTYPE_UI1, kFixedLength, Sizing::kFixed, 1, 3},
    {SQL_SMALLINT, DBTYPE_I2, kFixedLength, Sizing::kFixed, 2, 5},
    {SQL_INTEGER, DBTYPE_I4, kFixedLength, Sizing::kFixed, 4, 10},
    {SQL_BIGINT, DBTYPE_I8, kFixedLength, Sizing::kFixed, 8, 19},
    {SQL_REAL, DBTYPE_R4, kFixedLength, Sizing::kFixed, 4, 7},
    {SQL_FLOAT, DBTYPE_R8, kFixedLength, Sizing::kFixed, 8, 15},
    {SQL_DOUBLE, DBTYPE_R8, kFixedLength, Sizing::kFixed, 8, 15},
    {SQL_DECIMAL, DBTYPE_NUMERIC, kFixedLength, Sizing::kNumeric, 19, kNa},
    {SQL_NUMERIC, DBTYPE_NUMERIC, kFixedLength, Sizing::kNumeric, 19, kNa},
    {SQL_TYPE_DATE, DBTYPE_DBDATE, kFixedLength, Sizing::kFixed, 6, kNa},
    {SQL_DATE, DBTYPE_DBDATE, kFixedLength, Sizing::kFixed, 6, kNa},
    {SQL_TYPE_TIME, DBTYPE_DBTIME, kFixedLength, Sizing::kFixed, 6, kNa},
    {SQL_TIME, DBTYPE_DBTIME, kFixedLength, Sizing::kFixed, 6, kNa},
    {SQL_TYPE_TIMESTAMP, DBTYPE_DBTIMESTAMP, kFixedLength, Sizing::kFixed, 16, kNa},
    {SQL_TIMESTAMP, DBTYPE_DBTIMESTAMP, kFixedLength, Sizing::kFixed, 16, kNa},
    {kSqlSsTime2, DBTYPE_WSTR, 0, Sizing::kVariable, 0, kNa},
    {kSqlSsTimestampOffset, DBTYPE_WSTR, 0, Sizing::kVariable, 0, kNa},
    {kSqlSsXml, DBTYPE_WSTR, DBCOLUMNFLAGS_ISLONG, Sizing::kVariable, 0, kNa},
    {kSqlSsVariant, DBTYPE_VARIANT, 0, Sizing::kFixed, 16, kNa},
    {kSqlSsUdt, DBTYPE_BYTES, DBCOLUMNFLAGS_ISLONG, Sizing::kVariable, 0, kNa},
};

// Anything else arrives as text.
constexpr TypeRow kUnknownType{0, DBTYPE_STR, 0, Sizing::kVariable, 0, kNa};

constexpr std::uint64_t kLongThreshold = 0x3FFFFFFF;  // sizes past 1 GB mean "unlimited"

std::uint8_t ClampByte(std::int64_t v) { return static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 254)); }

}  // namespace

void MapOdbcColumn(const OdbcColumnMetadata& m, ColumnInfo& column) {
  const TypeRow* row = &kUnknownType;
  for (const TypeRow& t : kTypes) {
    if (t.sql_type == m.sql_type) {
      row = &t;
      break;
    }
  }
  column.type = row->db_type;
  column.flags = row->flags;
  column.precision = kNotApplicable;
  column.scale = kNotApplicable;
  switch (row->sizing) {
    case Sizing::kVariable:
      if (m.column_size == 0 || m.column_size > kLongThreshold) {
        column.flags = (column.flags | DBCOLUMNFLAGS_ISLONG) & ~DBCOLUMNFLAGS_ISFIXEDLENGTH;
        column.size = kLongColumnSize;
      } else {
        column.size = static_cast<size_t>(m.column_size);
      }
      if (column.flags & DBCOLUMNFLAGS_ISLONG) column.size = kLongColumnSize;
      break;
    case Sizing::kFixed:
      column.size = row->fixed_size;
      column.precision = row->precision;
      if (row->db_type == DBTYPE_DBTIMESTAMP) column.scale = ClampByte(m.decimal_digits);
      break;
    case Sizing::kNumeric:
      column.size = row->fixed_size;
      column.precision = ClampByte(static_cast<std::int64_t>(std::min<std::uint64_t>(m.column_size, 254)));
      column.scale = ClampByte(m.decimal_digits);
      if (EqualsIgnoreAsciiCase(m.type_name, "money") || EqualsIgnoreAsciiCase(m.type_name, "smallmoney")) {
        column.type = DBTYPE_CY;
        column.size = 8;
        column.precision = 19;
        column.scale = kNotApplicable;
      }
      break;
  }
  // SQL Server's rowversion arrives as binary(8) named "timestamp": marked, as the SQL Server
  // OLE DB provider marked it, so a copy can keep it as the text its Access column holds.
  if (column.type == DBTYPE_BYTES &&
      (EqualsIgnoreAsciiCase(m.type_name, "timestamp") || EqualsIgnoreAsciiCase(m.type_name, "rowversion"))) {
    column.flags |= DBCOLUMNFLAGS_ISROWVER;
  }
  if (m.nullable == SQL_NULLABLE) {
    column.flags |= DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
  } else if (m.nullable == SQL_NULLABLE_UNKNOWN) {
    column.flags |= DBCOLUMNFLAGS_MAYBENULL;
  }
  if (m.updatable == SQL_ATTR_WRITE) {
    column.flags |= DBCOLUMNFLAGS_WRITE;
  } else if (m.updatable == SQL_ATTR_READWRITE_UNKNOWN) {
    column.flags |= DBCOLUMNFLAGS_WRITEUNKNOWN;
  }
}

}  // namespace tabulon::data
