// The names Access gets for the objects of one migration. AccessObjectName makes each name one
// Access can hold; here names that would then clash are kept apart: Access has no schemas
// (dbo.Users and audit.Users), compares names without regard to case (Orders and ORDERS), and
// "a.b" becomes what "a_b" already is. The result depends only on the names of one scope (the
// tables and views of the database; the columns of a table), so every statement that names an
// object, in any task, gets the same name.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "source_common/access_statements.h"
#include "source_common/source_context.h"

namespace tabulon::source_common {

// The Access names of the objects of one scope, in the order given: AccessObjectName of each
// name; where names fold to the same one without regard to case, the object whose name needs
// no change (else the first in byte order of its identity) keeps it and each other one is cut to
// 57 characters and ends in "~" and six hex digits of a hash of its identity. `identities` tell
// the objects apart ("schema.name" for tables; the name itself for columns).
std::vector<std::string> UniqueAccessNames(const std::vector<std::string>& names,
                                           const std::vector<std::string>& identities);

class AccessNames {
 public:
  // The tables and views of the source database (the scope of table and view names).
  explicit AccessNames(const std::vector<SourceTable>& objects);

  // The Access name of a table or view; one not listed gets AccessObjectName of its name.
  std::string Object(const SourceTable& object) const;
  // A table known by its name alone (a referenced table): the listed one of that name in
  // `schema`, else the only listed one of that name, else the name without a schema.
  SourceTable Listed(std::string_view name, std::string_view schema) const;

  // Records the columns of `table` in their order (the scope of its column names).
  void SetColumns(const SourceTable& table, const std::vector<std::string>& columns);
  bool HasColumns(const SourceTable& table) const;
  // The Access name of a column; one of a table whose columns are not recorded, or not among
  // them, gets AccessObjectName of its name.
  std::string Column(const SourceTable& table, std::string_view column) const;

 private:
  static std::string Identity(const SourceTable& table);
  // The identity of a table as given or, without a schema, as listed.
  std::string Key(const SourceTable& table) const;

  std::map<std::string, std::string> objects_;  // identity -> Access name
  std::multimap<std::string, SourceTable, std::less<>> listed_by_name_;
  mutable std::mutex mutex_;  // guards columns_: adapters fill it while tasks run
  std::map<std::string, std::map<std::string, std::string, std::less<>>> columns_;
};

// The Access name of a table or view of `owner`'s migration.
std::string AccessTableName(const SourceContext& owner, const SourceTable& table);
// The Access name of a column of `table` in `owner`'s migration.
std::string AccessColumnName(const SourceContext& owner, const SourceTable& table, std::string_view column);

// The columns of a key of `table` under their Access names.
std::vector<KeyColumn> AccessKeyColumns(const SourceContext& owner, const SourceTable& table,
                                        std::vector<KeyColumn> columns);

// The Access names of a table and of its columns (in their order) for its CREATE TABLE: the
// columns are recorded in owner.names, and each rename is appended to `renames`.
struct AccessTableNames {
  std::string table;
  std::vector<std::string> columns;
};
AccessTableNames NameTableForAccess(const SourceContext& owner, const SourceTable& table,
                                    const std::vector<std::string>& columns, std::vector<Rename>& renames);

}  // namespace tabulon::source_common
