// CHECK constraints: SQLite keeps them only in the text of a table's CREATE TABLE, read here with
// the view translator's lexer and turned into Access validation rules (source_common/check_rules.h).
#include "base/text.h"
#include "data/error_text.h"
#include "data/statement.h"
#include "source_common/check_rules.h"
#include "source_common/view_catalog.h"
#include "source_common/view_order.h"
#include "source_sqlite/translate.h"
#include "viewsql/lexer.h"

namespace tabulon::source_sqlite {

using namespace data;
using viewsql::Token;
using viewsql::TokenKind;

namespace {

bool IsSymbol(const Token& t, std::string_view symbol) { return t.kind == TokenKind::kSymbol && t.text == symbol; }

// The CREATE text of `name` of kind `type` from sqlite_master: nullopt when there is none.
Result<std::optional<std::string>> MasterText(Session* source, std::string_view type, std::string_view name) {
  TextRowset rows;
  const std::string sql =
      "select sql from sqlite_master where type = " + SqliteString(type) + " and name = " + SqliteString(name);
  if (OpenTextRowset(source, sql, &rows, {.full_values = true}) != S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  if (!rows.has_rowset()) return std::optional<std::string>();
  ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
  if (!fetched) return std::optional<std::string>();
  return ReadFullValue(rows, 1);
}

}  // namespace

std::vector<source_common::SourceCheck> CheckClauses(std::string_view create_table) {
  std::vector<source_common::SourceCheck> checks;
  Result<std::vector<Token>> tokens = viewsql::Tokenize(create_table, viewsql::Dialect::kSqlite);
  if (!tokens.ok()) return checks;
  const std::vector<Token>& t = *tokens;
  size_t k = 0;
  while (k < t.size() && !IsSymbol(t[k], "(")) ++k;
  // The items of the column list, "CONSTRAINT name" just before a CHECK naming it.
  int depth = 0;
  std::string name;
  size_t named_at = 0;
  for (; k < t.size() && t[k].kind != TokenKind::kEnd; ++k) {
    if (IsSymbol(t[k], "(")) ++depth;
    if (IsSymbol(t[k], ")") && --depth == 0) break;
    if (depth != 1) continue;
    if (t[k].kind == TokenKind::kWord && t[k].upper == "CONSTRAINT" && k + 1 < t.size()) {
      name = t[k + 1].text;
      named_at = ++k;
      continue;
    }
    if (t[k].kind != TokenKind::kWord || t[k].upper != "CHECK" || k + 1 >= t.size() || !IsSymbol(t[k + 1], "(")) {
      continue;
    }
    const size_t open = k + 1;
    size_t close = open;
    for (int inner = 0; close < t.size() && t[close].kind != TokenKind::kEnd; ++close) {
      if (IsSymbol(t[close], "(")) ++inner;
      if (IsSymbol(t[close], ")") && --inner == 0) break;
    }
    if (close >= t.size() || t[close].kind == TokenKind::kEnd) break;
    const auto offset = [&](const Token& token) { return static_cast<size_t>(token.raw.data() - create_table.data()); };
    const size_t from = offset(t[open]) + 1;
    checks.push_back(
        {named_at + 1 == k ? name : std::string(), std::string(create_table.substr(from, offset(t[close]) - from))});
    k = close;
  }
  return checks;
}

Result<Translation> TranslateCheckConstraints(const SourceContext& owner, Session* source,
                                              std::string_view /*database*/, const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  if (!source_common::TargetIsJet(owner)) return Translation::Nothing();  // SET PROPERTY is the engine's own
  ASSIGN_OR_RETURN(const std::optional<std::string> text, MasterText(source, "table", table.name));
  const std::vector<source_common::SourceCheck> checks =
      text ? CheckClauses(*text) : std::vector<source_common::SourceCheck>();
  if (checks.empty()) return Translation::Nothing();
  RETURN_IF_ERROR(RecordColumnNames(owner, source, table));
  return source_common::AccessCheckRules(owner, table, checks, viewsql::Dialect::kSqlite,
                                         source_common::MigrationCatalog(owner, "", [&](const SourceTable& t) {
                                           return RecordColumnNames(owner, source, t);
                                         }));
}

Result<std::vector<size_t>> ViewsRead(const SourceContext& /*owner*/, Session* source, std::string_view /*database*/,
                                      const std::vector<SourceTable>& views, size_t view) {
  if (source == nullptr || view >= views.size()) return InvalidArgumentError("No Connection!");
  ASSIGN_OR_RETURN(const std::optional<std::string> text, MasterText(source, "view", views[view].name));
  if (!text) return std::vector<size_t>{};
  return source_common::ViewsReadBy(*text, viewsql::Dialect::kSqlite, views, view);
}

}  // namespace tabulon::source_sqlite
