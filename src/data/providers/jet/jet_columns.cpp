#include "data/providers/jet/jet_columns.h"

#include <algorithm>

#include "base/text.h"
#include "jet/column_metadata.h"
#include "jet/values.h"

namespace tabulon::data {
namespace {

// The precision OLE DB gives a numeric type, kNotApplicable for the others.
std::uint8_t PrecisionOf(const jet::ColumnMetadata& m) {
  switch (m.ole_type) {
    case DBTYPE_UI1: return 3;
    case DBTYPE_I2: return 5;
    case DBTYPE_I4: return 10;
    case DBTYPE_R4: return 7;
    case DBTYPE_R8: return 15;
    case DBTYPE_CY: return 19;
    case DBTYPE_NUMERIC: return m.precision;
    default: return kNotApplicable;
  }
}

std::optional<std::string> Number(std::uint64_t n) { return std::to_string(n); }

bool IsLong(const jet::ColumnMetadata& m) { return (m.flags & DBCOLUMNFLAGS_ISLONG) != 0; }

// A catalog object as a TABLES row type; empty for objects the rowset leaves out.
std::string TableType(const jet::CatalogEntry& e) {
  const auto flags = static_cast<std::uint32_t>(e.flags);
  switch (e.type & 0x7F) {
    case 1:
      if (flags & 0x80000000u) return "SYSTEM TABLE";
      if (flags & 0x00000002u) return "ACCESS TABLE";
      return "TABLE";
    case 4:
    case 6: return "LINK";
    case 5: {
      if (e.name.empty() || e.name[0] == '~') return {};  // Access's hidden form and report queries
      const std::uint32_t kind = flags & 0xF0u;
      // Select, crosstab and union queries return rows; the action queries are procedures.
      return kind == 0 || kind == 16 || kind == 128 ? "VIEW" : std::string();
    }
    default: return {};
  }
}

Result<std::vector<SchemaRow>> TablesRows(jet::Database& db, const SchemaRestrictions& restrictions) {
  ASSIGN_OR_RETURN(std::vector<jet::CatalogEntry> objects, db.ListObjects());
  std::vector<SchemaRow> rows;
  for (const jet::CatalogEntry& e : objects) {
    std::string type = TableType(e);
    if (type.empty() || !PassesRestriction(restrictions, 2, e.name) || !PassesRestriction(restrictions, 3, type)) {
      continue;
    }
    if (SchemaRestriction(restrictions, 0) != nullptr || SchemaRestriction(restrictions, 1) != nullptr) continue;
    SchemaRow row(9);
    row[schema::kTableName - 1] = e.name;
    row[schema::kTableType - 1] = std::move(type);
    rows.push_back(std::move(row));
  }
  std::sort(rows.begin(), rows.end(), [](const SchemaRow& a, const SchemaRow& b) {
    const std::string& ta = *a[schema::kTableType - 1];
    const std::string& tb = *b[schema::kTableType - 1];
    if (ta != tb) return ta < tb;
    return AsciiLower(*a[schema::kTableName - 1]) < AsciiLower(*b[schema::kTableName - 1]);
  });
  return rows;
}

Result<std::vector<SchemaRow>> ColumnsRows(jet::Database& db, const SchemaRestrictions& restrictions) {
  std::vector<SchemaRow> rows;
  if (SchemaRestriction(restrictions, 0) != nullptr || SchemaRestriction(restrictions, 1) != nullptr) return rows;
  std::vector<std::string> tables;
  if (const std::string* table = SchemaRestriction(restrictions, 2)) {
    tables.push_back(*table);
  } else {
    ASSIGN_OR_RETURN(tables, db.ListTables(false));
    std::sort(tables.begin(), tables.end(),
              [](const std::string& a, const std::string& b) { return AsciiLower(a) < AsciiLower(b); });
  }
  const size_t width = SchemaRowsetColumns(SchemaRowsetKind::kColumns).size();
  for (const std::string& table : tables) {
    auto metadata = db.GetColumnMetadata(table);
    if (!metadata.ok()) {
      if (metadata.status().code() == ErrorCode::kNotFound) continue;  // no such table: no rows
      return metadata.status();
    }
    ASSIGN_OR_RETURN(jet::TableDefinition def, db.GetTable(table));
    for (const jet::ColumnMetadata& m : *metadata) {
      if (!PassesRestriction(restrictions, 3, m.name)) continue;
      SchemaRow row(width);
      row[schema::kTableName - 1] = def.name;
      row[schema::kColumnName - 1] = m.name;
      row[schema::kOrdinalPosition - 1] = Number(m.ordinal);
      row[schema::kColumnHasDefault - 1] = std::string(BoolText(m.has_default));
      if (m.has_default) row[schema::kColumnDefault - 1] = m.default_value;
      row[schema::kColumnFlags - 1] = Number(m.flags);
      row[schema::kIsNullable - 1] = std::string(BoolText(m.nullable));
      row[schema::kDataType - 1] = Number(m.ole_type);
      if (m.ole_type == DBTYPE_WSTR || m.ole_type == DBTYPE_BYTES) {
        row[schema::kCharacterMaximumLength - 1] = Number(m.size);
        row[schema::kCharacterOctetLength - 1] = Number(m.ole_type == DBTYPE_WSTR && !IsLong(m) ? m.size * 2 : m.size);
      }
      if (const std::uint8_t precision = PrecisionOf(m); precision != kNotApplicable) {
        row[schema::kNumericPrecision - 1] = Number(precision);
      }
      if (m.ole_type == DBTYPE_NUMERIC) row[schema::kNumericScale - 1] = Number(m.scale);
      if (m.ole_type == DBTYPE_DATE) row[schema::kDatetimePrecision - 1] = Number(0);
      rows.push_back(std::move(row));
    }
  }
  return rows;
}

// One row per view (the objects TABLES lists as "VIEW"), with its query text; a query whose
// rows cannot be read as SQL gets a NULL text, as OLE DB allows.
Result<std::vector<SchemaRow>> ViewsRows(jet::Database& db, const SchemaRestrictions& restrictions) {
  std::vector<SchemaRow> rows;
  if (SchemaRestriction(restrictions, 0) != nullptr || SchemaRestriction(restrictions, 1) != nullptr) return rows;
  ASSIGN_OR_RETURN(std::vector<jet::CatalogEntry> objects, db.ListObjects());
  const size_t width = SchemaRowsetColumns(SchemaRowsetKind::kViews).size();
  for (const jet::CatalogEntry& e : objects) {
    if (TableType(e) != "VIEW" || !PassesRestriction(restrictions, 2, e.name)) continue;
    SchemaRow row(width);
    row[schema::kTableName - 1] = e.name;
    Result<std::string> sql = db.GetQuerySql(e.name);
    if (sql.ok()) row[schema::kViewDefinition - 1] = std::move(*sql);
    rows.push_back(std::move(row));
  }
  std::sort(rows.begin(), rows.end(), [](const SchemaRow& a, const SchemaRow& b) {
    return AsciiLower(*a[schema::kTableName - 1]) < AsciiLower(*b[schema::kTableName - 1]);
  });
  return rows;
}

// One row per key column of each index of the tables. The logical indexes Jet keeps for
// relationships are the relationships' own, not the table's, and are left out.
Result<std::vector<SchemaRow>> IndexesRows(jet::Database& db, const SchemaRestrictions& restrictions) {
  std::vector<SchemaRow> rows;
  if (SchemaRestriction(restrictions, 0) != nullptr || SchemaRestriction(restrictions, 1) != nullptr) return rows;
  std::vector<std::string> tables;
  if (const std::string* table = SchemaRestriction(restrictions, 4)) {
    tables.push_back(*table);
  } else {
    ASSIGN_OR_RETURN(tables, db.ListTables(false));
  }
  for (const std::string& table : tables) {
    Result<jet::TableDefinition> def = db.GetTable(table);
    if (!def.ok()) {
      if (def.status().code() == ErrorCode::kNotFound) continue;  // no such table: no rows
      return def.status();
    }
    for (const jet::IndexDefinition& index : def->indexes) {
      if (index.index_type == 0x02 || !PassesRestriction(restrictions, 2, index.name) ||
          !PassesRestriction(restrictions, 3, std::string("1"))) {
        continue;
      }
      for (size_t k = 0; k < index.columns.size(); ++k) {
        std::string column;
        for (const jet::ColumnDefinition& c : def->columns) {
          if (c.number == index.columns[k].column_number) column = c.name;
        }
        rows.push_back(IndexRow(def->name, index.name, index.index_type == 0x01, (index.flags & 0x01) != 0, k + 1,
                                std::move(column)));
      }
    }
  }
  SortIndexRows(rows);
  return rows;
}

}  // namespace

ColumnInfo JetColumnInfo(const jet::ColumnDefinition& column, size_t ordinal) {
  const jet::ColumnMetadata m = jet::DescribeColumn(column, static_cast<std::uint32_t>(ordinal), nullptr);
  ColumnInfo info;
  info.name = column.name;
  info.ordinal = ordinal;
  info.type = m.ole_type;
  info.flags = m.flags;
  info.precision = PrecisionOf(m);
  if (m.ole_type == DBTYPE_NUMERIC) info.scale = m.scale;
  switch (m.ole_type) {
    case DBTYPE_WSTR:
    case DBTYPE_BYTES: info.size = m.size; break;
    case DBTYPE_BOOL:
    case DBTYPE_I2: info.size = 2; break;
    case DBTYPE_UI1: info.size = 1; break;
    case DBTYPE_I4:
    case DBTYPE_R4: info.size = 4; break;
    case DBTYPE_GUID: info.size = 16; break;
    case DBTYPE_NUMERIC: info.size = 19; break;
    default: info.size = 8; break;
  }
  return info;
}

ColumnInfo JetBookmarkColumn() {
  ColumnInfo info;
  info.ordinal = 0;
  info.type = DBTYPE_BYTES;
  info.size = 4;
  info.flags = DBCOLUMNFLAGS_ISBOOKMARK | DBCOLUMNFLAGS_ISFIXEDLENGTH;
  return info;
}

std::optional<std::string> JetValueText(const jet::Value& value) {
  if (const bool* b = std::get_if<bool>(&value)) return std::string(BoolText(*b));
  if (const jet::Bytes* bytes = std::get_if<jet::Bytes>(&value)) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes->data.size() * 2);
    for (const char c : bytes->data) {
      const auto byte = static_cast<unsigned char>(c);
      hex += kDigits[byte >> 4];
      hex += kDigits[byte & 0xF];
    }
    return hex;
  }
  return jet::FormatValue(value);
}

std::string JetCatalogName(std::string_view path) {
  if (path.size() >= 4 && EqualsIgnoreAsciiCase(path.substr(path.size() - 4), ".mdb")) {
    path.remove_suffix(4);
  }
  return std::string(path);
}

Result<std::vector<SchemaRow>> JetSchemaRows(jet::Database& db, const std::string& path, SchemaRowsetKind kind,
                                             const SchemaRestrictions& restrictions) {
  switch (kind) {
    case SchemaRowsetKind::kCatalogs: {
      std::vector<SchemaRow> rows;
      std::string name = JetCatalogName(path);
      if (PassesRestriction(restrictions, 0, name)) rows.push_back({std::move(name), std::nullopt});
      return rows;
    }
    case SchemaRowsetKind::kTables: return TablesRows(db, restrictions);
    case SchemaRowsetKind::kColumns: return ColumnsRows(db, restrictions);
    case SchemaRowsetKind::kViews: return ViewsRows(db, restrictions);
    case SchemaRowsetKind::kIndexes: return IndexesRows(db, restrictions);
  }
  return InvalidArgumentError("unknown schema rowset");
}

}  // namespace tabulon::data
