#include "viewsql/parser.h"

namespace tabulon::viewsql {

Result<ViewDefinition> ParseView(std::string_view, Dialect) { return UnsupportedError("not written yet"); }
Result<std::unique_ptr<Select>> ParseSelect(std::string_view, Dialect) { return UnsupportedError("not written yet"); }
Result<ExprPtr> ParseExpression(std::string_view, Dialect) { return UnsupportedError("not written yet"); }
std::vector<ScriptStatement> SplitScript(std::string_view, Dialect) { return {}; }

}  // namespace tabulon::viewsql
