// Schema rowsets: the catalogue of a data source as rows (CATALOGS, TABLES, COLUMNS, VIEWS,
// INDEXES), with
// the column layout OLE DB gives them, so that every provider answers in the same shape. Values
// are text like any other rowset: numbers in decimal, booleans "True" / "False", NULL as NULL.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/provider.h"

namespace tabulon::data {

// Ordinals (1-based) of the schema rowsets' columns.
namespace schema {
// CATALOGS
inline constexpr size_t kCatalogName = 1;
inline constexpr size_t kCatalogDescription = 2;
// TABLES
inline constexpr size_t kTableCatalog = 1;
inline constexpr size_t kTableSchema = 2;
inline constexpr size_t kTableName = 3;
inline constexpr size_t kTableType = 4;
inline constexpr size_t kTableGuid = 5;
inline constexpr size_t kTableDescription = 6;
inline constexpr size_t kTablePropid = 7;
inline constexpr size_t kTableDateCreated = 8;
inline constexpr size_t kTableDateModified = 9;
// COLUMNS (the first three as in TABLES)
inline constexpr size_t kColumnName = 4;
inline constexpr size_t kColumnGuid = 5;
inline constexpr size_t kColumnPropid = 6;
inline constexpr size_t kOrdinalPosition = 7;
inline constexpr size_t kColumnHasDefault = 8;
inline constexpr size_t kColumnDefault = 9;
inline constexpr size_t kColumnFlags = 10;
inline constexpr size_t kIsNullable = 11;
inline constexpr size_t kDataType = 12;
inline constexpr size_t kTypeGuid = 13;
inline constexpr size_t kCharacterMaximumLength = 14;
inline constexpr size_t kCharacterOctetLength = 15;
inline constexpr size_t kNumericPrecision = 16;
inline constexpr size_t kNumericScale = 17;
inline constexpr size_t kDatetimePrecision = 18;
inline constexpr size_t kColumnDescription = 28;
// VIEWS (the first three as in TABLES): the view's query text, NULL when it cannot be given.
inline constexpr size_t kViewDefinition = 4;
// INDEXES (the first three as in TABLES): the first eighteen columns of OLE DB's layout, one row
// per key column of an index, ordered by table, index name and key position. PRIMARY_KEY,
// UNIQUE and CLUSTERED are booleans; TYPE is 1 for a B-tree (2 hash, 4 other); a key column's
// position is 1-based. INDEX_CATALOG, INDEX_SCHEMA and the storage columns between TYPE and
// ORDINAL_POSITION (FILL_FACTOR .. NULL_COLLATION) may be NULL.
inline constexpr size_t kIndexName = 6;
inline constexpr size_t kPrimaryKey = 7;
inline constexpr size_t kUnique = 8;
inline constexpr size_t kClustered = 9;
inline constexpr size_t kIndexType = 10;
inline constexpr size_t kIndexOrdinalPosition = 17;
inline constexpr size_t kIndexColumnName = 18;
}  // namespace schema

using SchemaRow = std::vector<std::optional<std::string>>;

// The columns of a schema rowset (names, ordinals, types as OLE DB defines them).
std::vector<ColumnInfo> SchemaRowsetColumns(SchemaRowsetKind kind);
// Restriction `index` (0-based), or null when absent or unset.
const std::string* SchemaRestriction(const SchemaRestrictions& restrictions, size_t index);
// True when `value` passes restriction `index` (exact match; unrestricted passes).
bool PassesRestriction(const SchemaRestrictions& restrictions, size_t index, const std::optional<std::string>& value);
// "True" / "False".
std::string_view BoolText(bool value);

// INDEXES: a row of `width` columns for key column `ordinal` (1-based) of an index, TYPE 1.
SchemaRow IndexRow(std::string table, std::string index, bool primary, bool unique, size_t ordinal, std::string column);
// Sorts INDEXES rows by table, index name and key position (names without ASCII case).
void SortIndexRows(std::vector<SchemaRow>& rows);

// A rowset over rows held in memory, each row one text (or NULL) per column.
class MemoryRowset : public Rowset {
 public:
  MemoryRowset(std::vector<ColumnInfo> columns, std::vector<SchemaRow> rows)
      : columns_(std::move(columns)), rows_(std::move(rows)) {}

  std::vector<std::string> ErrorRecords() const override { return {}; }
  Hresult GetColumnInfo(std::vector<ColumnInfo>* columns) override;
  Hresult FetchNextRow(RowBuffer& buffer) override;
  Result<std::optional<std::string>> ReadFullValue(size_t ordinal) override;

 private:
  std::vector<ColumnInfo> columns_;
  std::vector<SchemaRow> rows_;
  size_t next_ = 0;  // the current row is next_ - 1
};

}  // namespace tabulon::data
