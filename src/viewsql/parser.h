// Reading the SELECT of a source view: Transact-SQL (SQL Server) and SQLite, into the tree of
// ast.h. Errors name the line and column: a syntax error ("syntax error at line 2, column 7:
// expected FROM but found 'WHERE'", InvalidArgument), or a construct Access has no form for
// ("a common table expression (WITH) at line 1, column 1", Unsupported): WITH, window functions
// (OVER), CROSS/OUTER APPLY, OFFSET/FETCH, FOR XML/JSON, CONTAINS/FREETEXT, table-valued
// functions in FROM, variables, EXCEPT/INTERSECT, and the like.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "viewsql/ast.h"

namespace tabulon::viewsql {

// CREATE VIEW [schema.]name [(columns)] [WITH ...] AS select, as SQL Server's sp_helptext or
// SQLite's sqlite_master gives it (comments and a trailing ";" allowed).
Result<ViewDefinition> ParseView(std::string_view text, Dialect dialect);
// A SELECT alone (a CHECK or view body, a query typed by the user).
Result<std::unique_ptr<Select>> ParseSelect(std::string_view text, Dialect dialect);
// An expression alone (a CHECK constraint's condition, a default).
Result<ExprPtr> ParseExpression(std::string_view text, Dialect dialect);

// The name (its last part) of the view a CREATE [OR ALTER] VIEW or ALTER VIEW statement makes, read
// from its head alone (so also for a view whose SELECT cannot be parsed); "" for any other text.
std::string ViewName(std::string_view text, Dialect dialect);

// One statement of a script and where it starts.
struct ScriptStatement {
  std::string text;
  Position at;
};
// The statements of a script: separated by ";" outside quotes and comments and, for
// Transact-SQL, by lines holding only GO. Blank statements are dropped.
std::vector<ScriptStatement> SplitScript(std::string_view text, Dialect dialect);

}  // namespace tabulon::viewsql
