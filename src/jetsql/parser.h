// Parses one Access SQL statement (an optional ';' may end it). Errors name line and column.
#pragma once

#include <string_view>

#include "base/status.h"
#include "jetsql/ast.h"

namespace tabulon::jetsql {

Result<Statement> ParseStatement(std::string_view sql);

// A SELECT, UNIONs included, as a saved query's text or a query in FROM holds it (an optional
// ';' may end it).
Result<jet::ViewDefinition> ParseQuery(std::string_view sql);

// One expression alone (a column, condition or ORDER BY key of a saved query, a validation
// rule); its spans are offsets into `text`.
Result<ExpressionPtr> ParseExpressionText(std::string_view text);

// A validation rule. For a column's rule (`column` given), a comparison, IS, LIKE, BETWEEN or
// IN without a left side compares the column, as Access writes field rules (">0 And <=10").
Result<ExpressionPtr> ParseRuleText(std::string_view text, const std::string* column);

// The engine type of a type word of CREATE TABLE, e.g. "VarChar" with size 50. `args` are the
// numbers in parentheses after the word (none, one or two). Exposed for the tests and for the
// type names other parts of the program emit.
struct ResolvedType {
  jet::ColumnType type = jet::ColumnType::kLong;
  uint16_t size = 0;
  uint8_t scale = 0;
  bool auto_number = false;
};
Result<ResolvedType> ResolveTypeWord(std::string_view word, const std::vector<uint32_t>& args);

}  // namespace tabulon::jetsql
