// Column metadata as the Jet OLE DB provider reports it (COLUMNS schema rowset).
#pragma once

#include "jet/database.h"

namespace tabulon::jet {

// OLE DB column flag bits (DBCOLUMNFLAGS) the Jet provider combines.
inline constexpr uint32_t kDbColumnMayDefer = 0x02;
inline constexpr uint32_t kDbColumnWriteUnknown = 0x08;
inline constexpr uint32_t kDbColumnFixedLength = 0x10;
inline constexpr uint32_t kDbColumnNullable = 0x20;
inline constexpr uint32_t kDbColumnMayBeNull = 0x40;
inline constexpr uint32_t kDbColumnLong = 0x80;

// The metadata of one column; `properties` is the column's property map or null. AutoNumber
// and Boolean columns are fixed and never Null (flags 24); other fixed-size types 122
// (nullable) or 90 (Required); Text and Binary 106 or 74; Memo and OLE 234 or 202.
ColumnMetadata DescribeColumn(const ColumnDefinition& column, uint32_t ordinal, const format::PropertyMap* properties);

}  // namespace tabulon::jet
