// Runs Access SQL statements on an open engine database: the statements the migration sends
// (CREATE TABLE, INSERT, keys and indexes, views, DROP, SELECT ... INTO) and the queries a user
// types. One statement per call; a failing statement changes nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/status.h"
#include "jet/database.h"
#include "jetsql/ast.h"
#include "jetsql/query.h"
#include "jetsql/quick_insert.h"

namespace tabulon::jetsql {

class Session {
 public:
  explicit Session(jet::Database& database) : db_(database), engine_(database) {}

  Result<StatementResult> Execute(std::string_view sql);

  // For loaders of whole rows: the definition of table `name` (kept between statements, like
  // the definitions INSERT uses), and the insert of a row of it as INSERT stores one (validation
  // rules checked, then the engine's insert).
  Result<const jet::TableDefinition*> FindTable(std::string_view name) { return Table(name); }
  Status InsertRow(const jet::TableDefinition& table, const jet::Row& row);
  // The same with the row's record encoded ahead (jet::Database::InsertRow's contract).
  Status InsertRow(const jet::TableDefinition& table, const jet::Row& row, const std::string& encoded);

  // Table definitions are kept between statements; call this after changing tables through
  // the engine directly.
  void ForgetTables() {
    tables_.clear();
    rules_.clear();
    last_rules_ = nullptr;
    engine_.Forget();
  }

 private:
  Result<const jet::TableDefinition*> Table(std::string_view name);
  Result<StatementResult> Run(std::string_view sql, CreateTable& statement);
  Result<StatementResult> Run(std::string_view sql, Insert& statement);
  Result<StatementResult> Run(std::string_view sql, Select& statement);
  Result<StatementResult> Run(std::string_view sql, Drop& statement);
  Result<StatementResult> Run(std::string_view sql, Delete& statement);
  Result<StatementResult> Run(std::string_view sql, Update& statement);
  Result<StatementResult> Run(std::string_view sql, AlterTable& statement);
  Result<StatementResult> Run(std::string_view sql, CreateIndex& statement);
  Result<StatementResult> Run(std::string_view sql, CreateView& statement);
  Result<StatementResult> Run(std::string_view sql, CreateQuery& statement);
  Result<StatementResult> Run(std::string_view sql, AlterQuery& statement);
  // A key or relationship on an existing table.
  Status AddConstraint(const std::string& table, const Constraint& constraint);
  Status SetProperty(const jet::TableDefinition& table, const AlterTable& alter);
  static Result<std::string> PropertyData(uint8_t type, const Literal& value);
  Status CheckNoNull(const jet::TableDefinition& table, const std::string& column);
  Result<StatementResult> InsertQuery(const jet::TableDefinition& table, const Insert& insert);

  // A ValidationRule of a table (column empty) or of one of its columns.
  struct Rule {
    std::string column;
    std::string rule;     // as stored
    std::string message;  // ValidationText
    ExpressionPtr expression;
    std::unique_ptr<RowCondition> condition;
  };
  Result<const std::vector<Rule>*> Rules(const jet::TableDefinition& table);
  Status CheckRules(const jet::TableDefinition& table, const jet::Row& row);
  static std::string Where(const jet::TableDefinition& table, const Rule& rule);

  jet::Database& db_;
  std::unordered_map<std::string, jet::TableDefinition> tables_;  // by lower-case name
  std::unordered_map<std::string, std::vector<Rule>> rules_;      // by lower-case table name
  // The rules asked for last, by the table's name as given: a row loader asks once a row.
  std::string last_rules_table_;
  const std::vector<Rule>* last_rules_ = nullptr;
  QueryEngine engine_;
  QuickInsert quick_insert_;
};

// Jet's LIKE: * any run, ? one character, # one digit, [abc] [a-z] [!abc] one of (or none
// of) a set; without regard to case.
bool MatchLike(std::string_view text, std::string_view pattern);

}  // namespace tabulon::jetsql
