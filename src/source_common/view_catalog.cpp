#include "source_common/view_catalog.h"

#include <map>
#include <memory>
#include <string>

#include "base/text.h"
#include "data/provider.h"
#include "source_common/access_names.h"
#include "source_common/target_columns.h"

namespace tabulon::source_common {
namespace {

viewsql::ValueClass ClassOfType(unsigned long type) {
  using viewsql::ValueClass;
  switch (type) {
    case data::DBTYPE_WSTR:
    case data::DBTYPE_STR:
    case data::DBTYPE_BSTR: return ValueClass::kText;
    case data::DBTYPE_I1:
    case data::DBTYPE_I2:
    case data::DBTYPE_I4:
    case data::DBTYPE_UI1:
    case data::DBTYPE_UI2:
    case data::DBTYPE_UI4: return ValueClass::kInteger;
    case data::DBTYPE_R4:
    case data::DBTYPE_R8:
    case data::DBTYPE_CY:
    case data::DBTYPE_DECIMAL:
    case data::DBTYPE_NUMERIC:
    case data::DBTYPE_I8:
    case data::DBTYPE_UI8: return ValueClass::kNumber;
    case data::DBTYPE_DATE:
    case data::DBTYPE_DBDATE:
    case data::DBTYPE_DBTIME:
    case data::DBTYPE_DBTIMESTAMP: return ValueClass::kDate;
    case data::DBTYPE_BOOL: return ValueClass::kBoolean;
    case data::DBTYPE_BYTES: return ValueClass::kBinary;
    default: return ValueClass::kUnknown;
  }
}

// The classes of the columns of the target's tables, read once per table.
struct TargetClasses {
  data::Session* target = nullptr;
  std::map<std::string, std::map<std::string, viewsql::ValueClass>> tables;  // lower-case names

  const std::map<std::string, viewsql::ValueClass>& Of(const std::string& table) {
    const std::string key = AsciiLower(table);
    if (auto found = tables.find(key); found != tables.end()) return found->second;
    std::map<std::string, viewsql::ValueClass>& columns = tables[key];
    for (const TargetColumn& c : ReadTargetColumns(target, table)) columns[AsciiLower(c.name)] = ClassOfType(c.type);
    return columns;
  }
};

}  // namespace

viewsql::Catalog MigrationCatalog(const SourceContext& owner, std::string_view default_schema,
                                  std::function<Status(const SourceTable&)> record_columns) {
  auto table_of = [&owner, schema = std::string(default_schema)](const std::vector<std::string>& parts) {
    const std::string name = parts.empty() ? std::string() : parts.back();
    const std::string in = parts.size() >= 2 ? parts[parts.size() - 2] : schema;
    return owner.names ? owner.names->Listed(name, in) : SourceTable(in, name);
  };
  auto classes = std::make_shared<TargetClasses>();
  classes->target = owner.target ? owner.target->session.get() : nullptr;
  viewsql::Catalog catalog;
  catalog.table_name = [&owner, table_of](const std::vector<std::string>& parts) {
    return AccessTableName(owner, table_of(parts));
  };
  catalog.column_name = [&owner, table_of, record_columns](const std::vector<std::string>& table,
                                                           std::string_view column) {
    if (table.empty()) return AccessObjectName(column);
    const SourceTable t = table_of(table);
    if (record_columns) (void)record_columns(t);  // names as written when they cannot be read
    return AccessColumnName(owner, t, column);
  };
  catalog.column_class = [&owner, table_of, classes, column_name = catalog.column_name](
                             const std::vector<std::string>& table, std::string_view column) {
    const auto& columns = classes->Of(AccessTableName(owner, table_of(table)));
    const auto found = columns.find(AsciiLower(column_name(table, column)));
    return found == columns.end() ? viewsql::ValueClass::kUnknown : found->second;
  };
  return catalog;
}

}  // namespace tabulon::source_common
