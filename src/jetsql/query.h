// Runs Access SQL queries over an engine database: tables and saved queries in FROM, joins as
// Access nests them, WHERE, GROUP BY with aggregates, HAVING, DISTINCT, TOP (with ties),
// ORDER BY, UNION [ALL], subqueries (IN, EXISTS, scalar, correlated) and queries in FROM, with
// the operators and functions of functions.h. A query is the saved-query description of
// jet::ViewDefinition (its expressions as text), so a stored view runs the same way as a
// SELECT typed by a user.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/status.h"
#include "jet/database.h"
#include "jet/saved_query.h"
#include "jetsql/ast.h"

namespace tabulon::jetsql {

struct StatementResult {
  bool has_rows = false;                       // a query: `columns` and `rows` hold its answer
  std::vector<jet::ColumnDefinition> columns;  // name, type and size of each result column
  std::vector<jet::Row> rows;
  uint64_t rows_affected = 0;  // rows inserted, changed or deleted
};

// A condition over the rows of one table, compiled once and tested per row (DELETE ... WHERE,
// validation rules).
class RowCondition {
 public:
  virtual ~RowCondition() = default;
  // True, false, or nullopt when the condition is Null (unknown).
  virtual Result<std::optional<bool>> Test(const jet::Row& row) = 0;
};

// A value computed from the rows of one table (UPDATE ... SET).
class RowExpression {
 public:
  virtual ~RowExpression() = default;
  virtual Result<jet::Value> Evaluate(const jet::Row& row) = 0;
};

class QueryEngine {
 public:
  explicit QueryEngine(jet::Database& database);
  ~QueryEngine();
  QueryEngine(const QueryEngine&) = delete;
  QueryEngine& operator=(const QueryEngine&) = delete;

  // The rows of the query. Errors name the clause and the expression they come from.
  Result<StatementResult> Run(const jet::ViewDefinition& query);

  // Finds every table, saved query and column the query names and checks its grouping,
  // without reading a row (a view is checked before it is stored).
  Status Check(const jet::ViewDefinition& query);

  // `condition` (an expression of `text`) over the columns of `table`. Subqueries are allowed
  // only when `subqueries` is set (their rows are read once, when first needed).
  Result<std::unique_ptr<RowCondition>> CompileCondition(const jet::TableDefinition& table, const Expression& condition,
                                                         std::string_view text, bool subqueries);

  // The same for a value; `clause` names where it was written in messages.
  Result<std::unique_ptr<RowExpression>> CompileExpression(const jet::TableDefinition& table,
                                                           const Expression& expression, std::string_view text,
                                                           const char* clause);

  // Table definitions are kept between queries; call this when tables change.
  void Forget();

  struct Impl;  // query.cpp

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tabulon::jetsql
