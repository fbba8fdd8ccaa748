#include "source_common/check_rules.h"

#include <map>
#include <optional>
#include <set>

#include "base/text.h"
#include "source_common/access_names.h"
#include "source_common/access_statements.h"
#include "viewsql/parser.h"

namespace tabulon::source_common {
namespace {

using viewsql::Expr;

// Parentheses the source keeps around single values (SQL Server writes "([qty]>(0))") are
// dropped, and so are those around the whole condition.
void DropValueParentheses(Expr& e, int depth = 0) {
  if (depth > 400) return;
  const bool negative_literal =
      e.kind == Expr::Kind::kUnary && e.op == "-" && e.args.size() == 1 && e.args[0]->kind == Expr::Kind::kLiteral;
  if (e.kind == Expr::Kind::kLiteral || e.kind == Expr::Kind::kColumn || negative_literal) e.parenthesized = false;
  for (auto& arg : e.args) DropValueParentheses(*arg, depth + 1);
}

// The lower-case names of the columns `e` names; false when it holds a subquery.
bool ColumnsOf(const Expr& e, std::set<std::string>& columns, int depth = 0) {
  if (depth > 400 || e.subquery) return false;
  if (e.kind == Expr::Kind::kColumn && !e.name.empty()) columns.insert(AsciiLower(e.name.back()));
  for (const auto& arg : e.args) {
    if (!ColumnsOf(*arg, columns, depth + 1)) return false;
  }
  return true;
}

const Expr* FirstColumn(const Expr& e, int depth = 0) {
  if (e.kind == Expr::Kind::kColumn) return &e;
  for (const auto& arg : e.args) {
    if (const Expr* found = depth < 400 ? FirstColumn(*arg, depth + 1) : nullptr) return found;
  }
  return nullptr;
}

bool IsComparison(const Expr& e) {
  static const std::set<std::string> kOps = {"=", "==", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"};
  return e.kind == Expr::Kind::kBinary && kOps.count(e.op) > 0;
}

class CheckWriter {
 public:
  CheckWriter(viewsql::Dialect dialect, const viewsql::Catalog& catalog, std::vector<std::string> table)
      : dialect_(dialect), catalog_(catalog), table_(std::move(table)) {}

  Result<std::string> Text(const Expr& e) const { return viewsql::TranslateExpression(e, dialect_, catalog_, table_); }

  // The field rule of `e`, a condition on the one column it names: nullopt when some part of
  // it does not have the column alone on its left.
  Result<std::optional<std::string>> FieldRule(Expr& e) const {
    std::optional<std::string> none;
    if (e.kind == Expr::Kind::kBinary && (e.op == "and" || e.op == "or")) {
      ASSIGN_OR_RETURN(std::optional<std::string> left, FieldRule(*e.args[0]));
      ASSIGN_OR_RETURN(std::optional<std::string> right, FieldRule(*e.args[1]));
      if (!left || !right) return none;
      return std::optional<std::string>(Wrapped(e, *left + (e.op == "and" ? " And " : " Or ") + *right));
    }
    const bool leaf = IsComparison(e) || e.kind == Expr::Kind::kBetween || e.kind == Expr::Kind::kLike ||
                      e.kind == Expr::Kind::kIsNull || (e.kind == Expr::Kind::kIn && !e.subquery);
    if (!leaf || e.args.empty() || e.args[0]->kind != Expr::Kind::kColumn) return none;
    for (size_t k = 1; k < e.args.size(); ++k) {
      std::set<std::string> others;
      if (!ColumnsOf(*e.args[k], others) || !others.empty()) return none;
    }
    ASSIGN_OR_RETURN(const std::string column, Text(*e.args[0]));
    const bool parenthesized = e.parenthesized;
    e.parenthesized = false;
    Result<std::string> whole = Text(e);
    e.parenthesized = parenthesized;
    if (!whole.ok()) return whole.status();
    if (!whole->starts_with(column + " ")) return none;
    std::string rest = whole->substr(column.size() + 1);
    if (IsComparison(e)) {
      const size_t blank = rest.find(' ');
      if (blank != std::string::npos) rest.erase(blank, 1);  // ">0", as Access shows a field rule
    }
    return std::optional<std::string>(Wrapped(e, rest));
  }

 private:
  static std::string Wrapped(const Expr& e, std::string text) { return e.parenthesized ? "(" + text + ")" : text; }

  viewsql::Dialect dialect_;
  const viewsql::Catalog& catalog_;
  std::vector<std::string> table_;
};

// The rules of one column or of the table, and the names of their constraints.
struct RuleGroup {
  std::vector<std::string> rules;
  std::vector<std::string> names;
  bool unnamed = false;
};

std::string JoinedRules(const RuleGroup& group) {
  if (group.rules.size() == 1) return group.rules.front();
  std::string out;
  for (const std::string& rule : group.rules) out += (out.empty() ? "(" : " And (") + rule + ")";
  return out;
}

// "CHECK constraint ck_qty", "CHECK constraints ck_a, ck_b", or, with an unnamed one among them,
// "CHECK constraint on [col]" / "CHECK constraint of [table]".
std::string RuleText(const RuleGroup& group, const std::string& unnamed) {
  std::string out = group.rules.size() == 1 ? "CHECK constraint " : "CHECK constraints ";
  if (group.unnamed) return out + unnamed;
  for (size_t k = 0; k < group.names.size(); ++k) out += (k ? ", " : "") + group.names[k];
  return out;
}

void AppendRule(std::string& text, const std::string& target, const RuleGroup& group, const std::string& unnamed) {
  std::string rule = target + " SET PROPERTY ValidationRule = ";
  AppendAccessString(rule, JoinedRules(group));
  AppendStatement(text, rule);
  std::string message = target + " SET PROPERTY ValidationText = ";
  AppendAccessString(message, RuleText(group, unnamed));
  AppendStatement(text, message);
}

}  // namespace

Result<Translation> AccessCheckRules(const SourceContext& owner, const SourceTable& table,
                                     const std::vector<SourceCheck>& checks, viewsql::Dialect dialect,
                                     const viewsql::Catalog& catalog) {
  std::vector<std::string> parts;
  if (!table.schema.empty()) parts.push_back(table.schema);
  parts.push_back(table.name);
  const CheckWriter writer(dialect, catalog, parts);
  std::vector<std::string> column_order;  // Access names, in the order their first rule came
  std::map<std::string, RuleGroup> columns;
  RuleGroup whole_table;
  std::vector<TranslationNote> notes;
  for (const SourceCheck& check : checks) {
    const auto left_out = [&](const std::string& why) {
      const std::string what = check.name.empty() ? "(" + check.definition + ")" : check.name;
      notes.push_back(
          {TranslationNote::kLeftOut, "CHECK constraint " + what + " of [" + table.name + "] not kept: " + why});
    };
    if (check.disabled) {
      left_out("it is disabled");
      continue;
    }
    Result<viewsql::ExprPtr> parsed = viewsql::ParseExpression(check.definition, dialect);
    if (!parsed.ok()) {
      left_out(parsed.status().message());
      continue;
    }
    Expr& condition = **parsed;
    DropValueParentheses(condition);
    condition.parenthesized = false;
    std::set<std::string> named;
    const bool plain = ColumnsOf(condition, named);
    RuleGroup* group = &whole_table;
    std::string rule;
    if (plain && named.size() == 1) {
      Result<std::optional<std::string>> field = writer.FieldRule(condition);
      if (field.ok() && field->has_value()) {
        // The column's Access name, as the rule's translation gives it, without the brackets.
        const Expr* column = FirstColumn(condition);
        Result<std::string> name = column ? writer.Text(*column) : InvalidArgumentError("no column");
        if (name.ok() && name->size() >= 2 && name->front() == '[') {
          const std::string access = name->substr(1, name->size() - 2);
          if (columns.find(access) == columns.end()) column_order.push_back(access);
          group = &columns[access];
          rule = **field;
        }
      }
    }
    if (group == &whole_table) {
      Result<std::string> text = writer.Text(condition);
      if (!text.ok()) {
        left_out(text.status().message());
        continue;
      }
      rule = *text;
    }
    group->rules.push_back(rule);
    if (check.name.empty()) {
      group->unnamed = true;
    } else {
      group->names.push_back(check.name);
    }
  }
  const std::string access_table = AccessTableName(owner, table);
  std::string text;
  for (const std::string& column : column_order) {
    AppendRule(text, "ALTER TABLE " + AccessName(access_table) + " ALTER COLUMN " + AccessName(column), columns[column],
               "on [" + column + "]");
  }
  if (!whole_table.rules.empty()) {
    AppendRule(text, "ALTER TABLE " + AccessName(access_table), whole_table, "of [" + access_table + "]");
  }
  if (!text.empty()) text += "\n";
  Translation translation = Translation::Statements(std::move(text));
  translation.notes = std::move(notes);
  return translation;
}

}  // namespace tabulon::source_common
