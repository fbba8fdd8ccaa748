#include "data/providers/odbc/odbc_schema.h"

#include <sqlext.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "data/providers/odbc/odbc_types.h"

namespace tabulon::data {
namespace {

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

Status DriverError(SQLHSTMT stmt, const char* call) {
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLCHAR message[1024] = {};
  SQLSMALLINT length = 0;
  if (Ok(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, message, sizeof message, &length))) {
    return Status(ErrorCode::kIo, reinterpret_cast<const char*>(message));
  }
  return Status(ErrorCode::kIo, std::string(call) + " failed without a message");
}

// One column of the current row as text, nullopt for NULL.
Result<std::optional<std::string>> ReadText(SQLHSTMT stmt, SQLUSMALLINT column) {
  std::string value;
  char chunk[1024];
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_CHAR, chunk, sizeof chunk, &indicator);
    if (rc == SQL_NO_DATA) break;
    if (!Ok(rc)) return DriverError(stmt, "SQLGetData");
    if (indicator == SQL_NULL_DATA) return std::optional<std::string>();
    const bool more = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof chunk);
    value.append(chunk, more ? sizeof chunk - 1 : static_cast<size_t>(std::max<SQLLEN>(indicator, 0)));
    if (rc == SQL_SUCCESS || !more) break;
  }
  return std::optional<std::string>(std::move(value));
}

// A restriction as a catalogue-function argument: null when unset. Names are search patterns
// there, so their wildcards are escaped to match exactly.
struct Argument {
  std::optional<std::string> text;
  SQLCHAR* data() { return text ? reinterpret_cast<SQLCHAR*>(text->data()) : nullptr; }
  SQLSMALLINT size() const { return text ? static_cast<SQLSMALLINT>(text->size()) : 0; }
};

Argument Plain(const SchemaRestrictions& r, size_t index) {
  const std::string* value = SchemaRestriction(r, index);
  return Argument{value ? std::optional<std::string>(*value) : std::nullopt};
}

Argument Pattern(SQLHDBC dbc, const SchemaRestrictions& r, size_t index) {
  const std::string* value = SchemaRestriction(r, index);
  if (value == nullptr) return Argument{};
  char escape[8] = {};
  SQLSMALLINT length = 0;
  std::string text;
  if (!Ok(SQLGetInfo(dbc, SQL_SEARCH_PATTERN_ESCAPE, escape, sizeof escape, &length)) || escape[0] == 0) {
    return Argument{*value};
  }
  for (const char c : *value) {
    if (c == '_' || c == '%' || c == escape[0]) text += escape[0];
    text += c;
  }
  return Argument{std::move(text)};
}

Result<std::vector<SchemaRow>> ReadRows(SQLHSTMT stmt, SchemaRowsetKind kind, const SchemaRestrictions& restrictions) {
  const size_t width = SchemaRowsetColumns(kind).size();
  std::vector<SchemaRow> rows;
  for (;;) {
    const SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) break;
    if (!Ok(rc)) return DriverError(stmt, "SQLFetch");
    SchemaRow row(width);
    switch (kind) {
      case SchemaRowsetKind::kCatalogs: {
        ASSIGN_OR_RETURN(row[schema::kCatalogName - 1], ReadText(stmt, 1));
        if (!row[0] || !PassesRestriction(restrictions, 0, row[0])) continue;
        break;
      }
      case SchemaRowsetKind::kTables: {
        for (SQLUSMALLINT c = 1; c <= 4; ++c) {
          ASSIGN_OR_RETURN(row[c - 1], ReadText(stmt, c));
        }
        ASSIGN_OR_RETURN(row[schema::kTableDescription - 1], ReadText(stmt, 5));
        break;
      }
      case SchemaRowsetKind::kColumns: {
        // SQLColumns: 1-4 catalog, schema, table, column; 5 DATA_TYPE; 6 TYPE_NAME;
        // 7 COLUMN_SIZE; 9 DECIMAL_DIGITS; 11 NULLABLE; 12 REMARKS; 13 COLUMN_DEF;
        // 16 CHAR_OCTET_LENGTH; 17 ORDINAL_POSITION.
        std::optional<std::string> v[18];
        for (SQLUSMALLINT c = 1; c <= 17; ++c) {
          ASSIGN_OR_RETURN(v[c], ReadText(stmt, c));
        }
        auto number = [&](int c) { return v[c] ? std::strtoll(v[c]->c_str(), nullptr, 10) : 0; };
        ColumnInfo info;
        MapOdbcColumn({static_cast<std::int16_t>(number(5)), static_cast<std::uint64_t>(std::max(0LL, number(7))),
                       static_cast<std::int16_t>(number(9)), static_cast<std::int16_t>(v[11] ? number(11) : 2),
                       SQL_ATTR_READWRITE_UNKNOWN, v[6] ? std::string_view(*v[6]) : std::string_view()},
                      info);
        for (int c = 1; c <= 4; ++c) row[c - 1] = v[c];
        row[schema::kOrdinalPosition - 1] = v[17];
        row[schema::kColumnHasDefault - 1] = std::string(BoolText(v[13].has_value()));
        row[schema::kColumnDefault - 1] = v[13];
        row[schema::kColumnFlags - 1] = std::to_string(info.flags);
        row[schema::kIsNullable - 1] = std::string(BoolText((info.flags & DBCOLUMNFLAGS_ISNULLABLE) != 0));
        row[schema::kDataType - 1] = std::to_string(info.type);
        if (info.type == DBTYPE_WSTR || info.type == DBTYPE_STR || info.type == DBTYPE_BYTES) {
          row[schema::kCharacterMaximumLength - 1] = info.size == kLongColumnSize ? "0" : std::to_string(info.size);
          row[schema::kCharacterOctetLength - 1] = v[16];
        }
        if (info.precision != kNotApplicable) row[schema::kNumericPrecision - 1] = std::to_string(info.precision);
        if (info.scale != kNotApplicable) row[schema::kNumericScale - 1] = std::to_string(info.scale);
        row[schema::kColumnDescription - 1] = v[12];
        break;
      }
      case SchemaRowsetKind::kViews: break;    // not asked for (the session answers E_NOTIMPL)
      case SchemaRowsetKind::kIndexes: break;  // read by ReadIndexRows
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// The rows of SQLStatistics: 1-3 catalog, schema, table; 4 NON_UNIQUE; 6 INDEX_NAME; 7 TYPE;
// 8 ORDINAL_POSITION; 9 COLUMN_NAME. The table's statistics row (TYPE SQL_TABLE_STAT) is no index.
Result<std::vector<SchemaRow>> ReadIndexRows(SQLHSTMT stmt, const SchemaRestrictions& restrictions) {
  std::vector<SchemaRow> rows;
  for (;;) {
    const SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) break;
    if (!Ok(rc)) return DriverError(stmt, "SQLFetch");
    std::optional<std::string> v[10];
    for (SQLUSMALLINT c = 1; c <= 9; ++c) {
      ASSIGN_OR_RETURN(v[c], ReadText(stmt, c));
    }
    const long type = v[7] ? std::strtol(v[7]->c_str(), nullptr, 10) : SQL_TABLE_STAT;
    if (type == SQL_TABLE_STAT || !v[6]) continue;
    const std::string ole_type = type == SQL_INDEX_HASHED ? "2" : type == SQL_INDEX_OTHER ? "4" : "1";
    if (!PassesRestriction(restrictions, 2, v[6]) || !PassesRestriction(restrictions, 3, ole_type)) continue;
    const bool unique = v[4] && std::strtol(v[4]->c_str(), nullptr, 10) == SQL_FALSE;
    const size_t ordinal = v[8] ? std::strtoul(v[8]->c_str(), nullptr, 10) : 0;
    SchemaRow row = IndexRow(v[3].value_or(""), *v[6], false, unique, ordinal, {});
    row[schema::kTableCatalog - 1] = v[1];
    row[schema::kTableSchema - 1] = v[2];
    row[schema::kClustered - 1] = std::string(BoolText(type == SQL_INDEX_CLUSTERED));
    row[schema::kIndexType - 1] = ole_type;
    row[schema::kIndexColumnName - 1] = v[9];
    rows.push_back(std::move(row));
  }
  return rows;
}

// The name SQLPrimaryKeys gives the table's primary key (column 6, PK_NAME); empty when the
// driver names none or cannot tell.
std::string PrimaryKeyName(SQLHSTMT stmt, Argument& catalog, Argument& schema, Argument& table) {
  std::string name;
  if (!Ok(SQLPrimaryKeys(stmt, catalog.data(), catalog.size(), schema.data(), schema.size(), table.data(),
                         table.size()))) {
    return name;
  }
  if (Ok(SQLFetch(stmt))) {
    Result<std::optional<std::string>> text = ReadText(stmt, 6);
    if (text.ok() && *text) name = **text;
  }
  SQLCloseCursor(stmt);
  return name;
}

// INDEXES through SQLStatistics, which needs the table's name; the primary key is recognised by
// the name SQLPrimaryKeys gives it.
Result<std::vector<SchemaRow>> ReadOdbcIndexes(SQLHSTMT stmt, const SchemaRestrictions& restrictions) {
  if (SchemaRestriction(restrictions, 4) == nullptr) {
    return UnsupportedError("the indexes of an ODBC data source are listed one table at a time");
  }
  // SQLStatistics and SQLPrimaryKeys take names as they are, not as search patterns.
  Argument catalog = Plain(restrictions, 0);
  Argument schema = Plain(restrictions, 1);
  Argument table = Plain(restrictions, 4);
  if (!Ok(SQLStatistics(stmt, catalog.data(), catalog.size(), schema.data(), schema.size(), table.data(), table.size(),
                        SQL_INDEX_ALL, SQL_QUICK))) {
    return DriverError(stmt, "SQLStatistics");
  }
  Result<std::vector<SchemaRow>> rows = ReadIndexRows(stmt, restrictions);
  SQLCloseCursor(stmt);
  if (!rows.ok() || rows->empty()) return rows;
  const std::string primary = PrimaryKeyName(stmt, catalog, schema, table);
  for (SchemaRow& row : *rows) {
    if (!primary.empty() && row[schema::kIndexName - 1] == primary) row[schema::kPrimaryKey - 1] = "True";
  }
  SortIndexRows(*rows);
  return rows;
}

}  // namespace

Result<std::vector<SchemaRow>> ReadOdbcSchemaRows(SQLHDBC dbc, SQLHSTMT stmt, SchemaRowsetKind kind,
                                                  const SchemaRestrictions& restrictions) {
  SQLRETURN rc = SQL_ERROR;
  switch (kind) {
    case SchemaRowsetKind::kCatalogs: {
      // The catalogue list: catalog "%" with empty (not null) schema and table names.
      SQLCHAR all[] = "%";
      SQLCHAR empty[] = "";
      rc = SQLTables(stmt, all, SQL_NTS, empty, 0, empty, 0, nullptr, 0);
      break;
    }
    case SchemaRowsetKind::kTables: {
      Argument catalog = Plain(restrictions, 0);
      Argument schema = Pattern(dbc, restrictions, 1);
      Argument table = Pattern(dbc, restrictions, 2);
      Argument type = Plain(restrictions, 3);
      rc = SQLTables(stmt, catalog.data(), catalog.size(), schema.data(), schema.size(), table.data(), table.size(),
                     type.data(), type.size());
      break;
    }
    case SchemaRowsetKind::kColumns: {
      Argument catalog = Plain(restrictions, 0);
      Argument schema = Pattern(dbc, restrictions, 1);
      Argument table = Pattern(dbc, restrictions, 2);
      Argument column = Pattern(dbc, restrictions, 3);
      rc = SQLColumns(stmt, catalog.data(), catalog.size(), schema.data(), schema.size(), table.data(), table.size(),
                      column.data(), column.size());
      break;
    }
    case SchemaRowsetKind::kViews: return UnsupportedError("ODBC has no catalogue call for the texts of views");
    case SchemaRowsetKind::kIndexes: return ReadOdbcIndexes(stmt, restrictions);
  }
  if (!Ok(rc)) return DriverError(stmt, kind == SchemaRowsetKind::kColumns ? "SQLColumns" : "SQLTables");
  Result<std::vector<SchemaRow>> rows = ReadRows(stmt, kind, restrictions);
  SQLCloseCursor(stmt);
  return rows;
}

}  // namespace tabulon::data
