#include "data/schema_rowset.h"

#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "base/text.h"

namespace tabulon::data {
namespace {

ColumnInfo Column(const char* name, size_t ordinal, DbType type, size_t size, bool nullable = true) {
  ColumnInfo c;
  c.name = name;
  c.ordinal = ordinal;
  c.type = type;
  c.size = size;
  c.flags = nullable ? DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL : 0;
  if (type != DBTYPE_WSTR) c.flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
  return c;
}

constexpr size_t kNameSize = 128;

}  // namespace

std::vector<ColumnInfo> SchemaRowsetColumns(SchemaRowsetKind kind) {
  switch (kind) {
    case SchemaRowsetKind::kCatalogs:
      return {Column("CATALOG_NAME", 1, DBTYPE_WSTR, kNameSize), Column("DESCRIPTION", 2, DBTYPE_WSTR, 255)};
    case SchemaRowsetKind::kTables:
      return {Column("TABLE_CATALOG", 1, DBTYPE_WSTR, kNameSize), Column("TABLE_SCHEMA", 2, DBTYPE_WSTR, kNameSize),
              Column("TABLE_NAME", 3, DBTYPE_WSTR, kNameSize),    Column("TABLE_TYPE", 4, DBTYPE_WSTR, kNameSize),
              Column("TABLE_GUID", 5, DBTYPE_GUID, 16),           Column("DESCRIPTION", 6, DBTYPE_WSTR, 255),
              Column("TABLE_PROPID", 7, DBTYPE_UI4, 4),           Column("DATE_CREATED", 8, DBTYPE_DATE, 8),
              Column("DATE_MODIFIED", 9, DBTYPE_DATE, 8)};
    case SchemaRowsetKind::kColumns: {
      std::vector<ColumnInfo> columns = {
          Column("TABLE_CATALOG", 1, DBTYPE_WSTR, kNameSize),
          Column("TABLE_SCHEMA", 2, DBTYPE_WSTR, kNameSize),
          Column("TABLE_NAME", 3, DBTYPE_WSTR, kNameSize),
          Column("COLUMN_NAME", 4, DBTYPE_WSTR, kNameSize),
          Column("COLUMN_GUID", 5, DBTYPE_GUID, 16),
          Column("COLUMN_PROPID", 6, DBTYPE_UI4, 4),
          Column("ORDINAL_POSITION", 7, DBTYPE_UI4, 4),
          Column("COLUMN_HASDEFAULT", 8, DBTYPE_BOOL, 2),
          Column("COLUMN_DEFAULT", 9, DBTYPE_WSTR, 255),
          Column("COLUMN_FLAGS", 10, DBTYPE_UI4, 4, false),
          Column("IS_NULLABLE", 11, DBTYPE_BOOL, 2),
          Column("DATA_TYPE", 12, DBTYPE_UI2, 2),
          Column("TYPE_GUID", 13, DBTYPE_GUID, 16),
          Column("CHARACTER_MAXIMUM_LENGTH", 14, DBTYPE_UI4, 4),
          Column("CHARACTER_OCTET_LENGTH", 15, DBTYPE_UI4, 4),
          Column("NUMERIC_PRECISION", 16, DBTYPE_UI2, 2),
          Column("NUMERIC_SCALE", 17, DBTYPE_I2, 2),
          Column("DATETIME_PRECISION", 18, DBTYPE_UI4, 4),
      };
      const char* rest[] = {"CHARACTER_SET_CATALOG", "CHARACTER_SET_SCHEMA", "CHARACTER_SET_NAME", "COLLATION_CATALOG",
                            "COLLATION_SCHEMA",      "COLLATION_NAME",       "DOMAIN_CATALOG",     "DOMAIN_SCHEMA",
                            "DOMAIN_NAME",           "DESCRIPTION"};
      for (const char* name : rest) {
        columns.push_back(Column(name, columns.size() + 1, DBTYPE_WSTR, name == rest[9] ? 255 : kNameSize));
      }
      return columns;
    }
    case SchemaRowsetKind::kViews: {
      std::vector<ColumnInfo> columns = {
          Column("TABLE_CATALOG", 1, DBTYPE_WSTR, kNameSize), Column("TABLE_SCHEMA", 2, DBTYPE_WSTR, kNameSize),
          Column("TABLE_NAME", 3, DBTYPE_WSTR, kNameSize),    Column("VIEW_DEFINITION", 4, DBTYPE_WSTR, 0),
          Column("CHECK_OPTION", 5, DBTYPE_BOOL, 2),          Column("IS_UPDATABLE", 6, DBTYPE_BOOL, 2),
          Column("DESCRIPTION", 7, DBTYPE_WSTR, 255),         Column("DATE_CREATED", 8, DBTYPE_DATE, 8),
          Column("DATE_MODIFIED", 9, DBTYPE_DATE, 8)};
      columns[schema::kViewDefinition - 1].flags |= DBCOLUMNFLAGS_ISLONG;
      return columns;
    }
    case SchemaRowsetKind::kIndexes:
      return {Column("TABLE_CATALOG", 1, DBTYPE_WSTR, kNameSize),
              Column("TABLE_SCHEMA", 2, DBTYPE_WSTR, kNameSize),
              Column("TABLE_NAME", 3, DBTYPE_WSTR, kNameSize),
              Column("INDEX_CATALOG", 4, DBTYPE_WSTR, kNameSize),
              Column("INDEX_SCHEMA", 5, DBTYPE_WSTR, kNameSize),
              Column("INDEX_NAME", 6, DBTYPE_WSTR, kNameSize),
              Column("PRIMARY_KEY", 7, DBTYPE_BOOL, 2),
              Column("UNIQUE", 8, DBTYPE_BOOL, 2),
              Column("CLUSTERED", 9, DBTYPE_BOOL, 2),
              Column("TYPE", 10, DBTYPE_UI2, 2),
              Column("FILL_FACTOR", 11, DBTYPE_I4, 4),
              Column("INITIAL_SIZE", 12, DBTYPE_I4, 4),
              Column("NULLS", 13, DBTYPE_I4, 4),
              Column("SORT_BOOKMARKS", 14, DBTYPE_BOOL, 2),
              Column("AUTO_UPDATE", 15, DBTYPE_BOOL, 2),
              Column("NULL_COLLATION", 16, DBTYPE_I4, 4),
              Column("ORDINAL_POSITION", 17, DBTYPE_UI4, 4),
              Column("COLUMN_NAME", 18, DBTYPE_WSTR, kNameSize)};
  }
  return {};
}

const std::string* SchemaRestriction(const SchemaRestrictions& restrictions, size_t index) {
  if (index >= restrictions.size() || !restrictions[index]) return nullptr;
  return &*restrictions[index];
}

bool PassesRestriction(const SchemaRestrictions& restrictions, size_t index, const std::optional<std::string>& value) {
  const std::string* wanted = SchemaRestriction(restrictions, index);
  return wanted == nullptr || (value && *value == *wanted);
}

std::string_view BoolText(bool value) { return value ? "True" : "False"; }

SchemaRow IndexRow(std::string table, std::string index, bool primary, bool unique, size_t ordinal,
                   std::string column) {
  SchemaRow row(SchemaRowsetColumns(SchemaRowsetKind::kIndexes).size());
  row[schema::kTableName - 1] = std::move(table);
  row[schema::kIndexName - 1] = std::move(index);
  row[schema::kPrimaryKey - 1] = std::string(BoolText(primary));
  row[schema::kUnique - 1] = std::string(BoolText(unique));
  row[schema::kClustered - 1] = std::string(BoolText(false));
  row[schema::kIndexType - 1] = "1";
  row[schema::kIndexOrdinalPosition - 1] = std::to_string(ordinal);
  row[schema::kIndexColumnName - 1] = std::move(column);
  return row;
}

void SortIndexRows(std::vector<SchemaRow>& rows) {
  const auto key = [](const SchemaRow& row) {
    const auto text = [&](size_t ordinal) { return AsciiLower(row[ordinal - 1].value_or("")); };
    return std::tuple(text(schema::kTableName), text(schema::kIndexName),
                      std::strtoul(row[schema::kIndexOrdinalPosition - 1].value_or("0").c_str(), nullptr, 10));
  };
  std::stable_sort(rows.begin(), rows.end(), [&](const SchemaRow& a, const SchemaRow& b) { return key(a) < key(b); });
}

Hresult MemoryRowset::GetColumnInfo(std::vector<ColumnInfo>* columns) {
  *columns = columns_;
  return S_OK;
}

Hresult MemoryRowset::FetchNextRow(RowBuffer& buffer) {
  if (next_ >= rows_.size()) return DB_S_ENDOFROWSET;
  const SchemaRow& row = rows_[next_++];
  for (size_t k = 1; k <= row.size() && k <= buffer.columns(); ++k) {
    if (row[k - 1]) {
      buffer.SetValue(k, *row[k - 1]);
    } else {
      buffer.SetNull(k);
    }
  }
  return S_OK;
}

Result<std::optional<std::string>> MemoryRowset::ReadFullValue(size_t ordinal) {
  if (next_ == 0 || next_ > rows_.size()) return InvalidArgumentError("no current row");
  const SchemaRow& row = rows_[next_ - 1];
  if (ordinal < 1 || ordinal > row.size()) return InvalidArgumentError("column ordinal out of range");
  return row[ordinal - 1];
}

}  // namespace tabulon::data
