// Turning a source view's tree (ast.h) into the Access SQL that the engine's Access SQL layer
// (jetsql) stores as a saved query. Names follow the migration's Access names; what Access has
// no form for is refused with "<construct> at line L, column C" (Unsupported).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "viewsql/ast.h"

namespace tabulon::viewsql {

// What a value is, as far as the translator needs to know (text concatenation, date literals).
// kInteger: whole numbers (their division is whole too); kNumber: any other number.
enum class ValueClass { kUnknown, kText, kInteger, kNumber, kDate, kBoolean, kBinary };

// What the translator knows of the source's objects. Every member may be empty: a table then
// keeps the last part of its name, a column its name, and its class is unknown.
struct Catalog {
  // The Access name of the table or view named by `parts` as written (schema parts included).
  std::function<std::string(const std::vector<std::string>& parts)> table_name;
  // The Access name of column `column` of that table (`table` empty: not known).
  std::function<std::string(const std::vector<std::string>& table, std::string_view column)> column_name;
  // The class of the values of column `column` of that table.
  std::function<ValueClass(const std::vector<std::string>& table, std::string_view column)> column_class;
};

// "SELECT ..." in Access SQL (without a trailing ";").
Result<std::string> TranslateSelect(const Select& select, Dialect dialect, const Catalog& catalog);
// "CREATE VIEW `name` [(`c`, ...)] AS SELECT ..." with the view's Access name from `catalog`.
Result<std::string> TranslateView(const ViewDefinition& view, Dialect dialect, const Catalog& catalog);
// An expression in Access SQL (a validation rule from a CHECK constraint); its unqualified
// columns are those of `table` (parts as written) when one is given.
Result<std::string> TranslateExpression(const Expr& expr, Dialect dialect, const Catalog& catalog,
                                        const std::vector<std::string>& table = {});

}  // namespace tabulon::viewsql
