// CREATE VIEW: the SELECT is taken apart into the saved-query description, each expression
// kept as written (runs of blanks and line breaks between tokens become one blank). The
// expressions themselves are read by the one expression grammar (expression_parser.cpp).
#include <string>
#include <utility>

#include "jetsql/parser_internal.h"

namespace tabulon::jetsql {

bool IsViewKeyword(std::string_view word) {
  static constexpr std::string_view kWords[] = {
      "between", "in",   "mod",   "xor",  "eqv",   "imp",  "exists", "distinct", "distinctrow", "top",  "percent",
      "asc",     "desc", "outer", "full", "cross", "when", "then",   "else",     "end",         "with", "escape"};
  if (IsReserved(word)) return true;
  for (std::string_view w : kWords) {
    if (EqualsIgnoreAsciiCase(word, w)) return true;
  }
  return false;
}

std::string Parser::TextOf(size_t first, size_t end) const {
  std::string text;
  for (size_t i = first; i < end; ++i) {
    if (i > first && t_[i].offset > t_[i - 1].offset + t_[i - 1].source.size()) text += ' ';
    text += t_[i].source;
  }
  return text;
}

bool Parser::AtViewName() const {
  const Token& t = Peek();
  return t.kind == TokenKind::kQuotedName || (t.kind == TokenKind::kWord && !IsViewKeyword(t.source));
}

// A table or view name, optionally after a schema ("dbo.Orders"): Access has no schemas, so
// only the last part is kept.
Result<std::string> Parser::ViewObjectName(const char* what) {
  if (!AtViewName()) return Error(what);
  std::string name = Peek().text;
  ++p_;
  while (IsSymbol(0, ".") && (Peek(1).kind == TokenKind::kQuotedName ||
                              (Peek(1).kind == TokenKind::kWord && !IsReserved(Peek(1).source)))) {
    name = Peek(1).text;
    p_ += 2;
  }
  return name;
}

Result<CreateView> Parser::ParseCreateView() {
  CreateView view;
  ASSIGN_OR_RETURN(view.name, ViewObjectName("a view name"));
  std::vector<std::pair<std::string, size_t>> names;  // CREATE VIEW v (a, b) AS ...
  if (AcceptSymbol("(")) {
    do {
      const size_t offset = Peek().offset;
      ASSIGN_OR_RETURN(std::string name, Name("a column name"));
      names.emplace_back(std::move(name), offset);
    } while (AcceptSymbol(","));
    RETURN_IF_ERROR(ExpectSymbol(")"));
  }
  RETURN_IF_ERROR(Expect("as"));
  const size_t first = p_;
  const size_t start = Peek().offset;
  view.definition.name = view.name;
  access_names_ = true;
  Status parsed = ParseViewQuery(&view.definition);
  access_names_ = false;
  RETURN_IF_ERROR(parsed);
  const size_t end = p_;
  if (IsWord(0, "union")) {
    return SyntaxError(sql_, Peek().offset, "a view cannot be a UNION query");
  }
  if (IsWord(0, "into")) {
    return SyntaxError(sql_, Peek().offset, "a view cannot be a SELECT ... INTO");
  }
  if (!names.empty()) {
    if (view.definition.select_all || names.size() != view.definition.columns.size()) {
      return SyntaxError(
          sql_, names.front().second,
          std::to_string(names.size()) + " column names for " +
              (view.definition.select_all ? std::string("a SELECT *")
                                          : std::to_string(view.definition.columns.size()) + " columns"));
    }
    for (size_t i = 0; i < names.size(); ++i) view.definition.columns[i].alias = names[i].first;
  }
  const Token& last = t_[end - 1];
  view.text = std::string(sql_.substr(start, last.offset + last.source.size() - start));
  // The same tokens as a query the executor runs, when they are one (used to check the view).
  p_ = first;
  auto simple = ParseSelect();
  if (simple.ok() && p_ == end && names.empty()) view.select = std::move(simple).value();
  p_ = end;
  return view;
}

// SELECT [DISTINCT | DISTINCTROW] [TOP n [PERCENT]] items FROM sources [WHERE ..] [GROUP BY ..]
// [HAVING ..] [ORDER BY ..].
Status Parser::ParseViewQuery(jet::ViewDefinition* view) {
  RETURN_IF_ERROR(Expect("select"));
  if (Accept("distinct")) {
    view->distinct = true;
  } else if (Accept("distinctrow")) {
    view->distinct_row = true;
  } else {
    Accept("all");
  }
  if (Accept("top")) {
    ASSIGN_OR_RETURN(uint32_t top, Count("a whole number after TOP"));
    view->top = std::to_string(top);
    view->top_percent = Accept("percent");
  }
  do {
    if (AcceptSymbol("*")) {
      view->select_all = true;
      continue;
    }
    if (IsWord(0, "case")) {
      return SyntaxError(sql_, Peek().offset, "CASE is not Access SQL (IIf(condition, value, otherwise) is)");
    }
    ASSIGN_OR_RETURN(ExpressionPtr item, ParseExpression());
    jet::ViewDefinition::Column column{TextOf(*item), ""};
    if (Accept("as")) {
      ASSIGN_OR_RETURN(column.alias, Name("an alias"));
    } else if (AtViewName()) {
      column.alias = Peek().text;
      ++p_;
    }
    view->columns.push_back(std::move(column));
  } while (AcceptSymbol(","));
  RETURN_IF_ERROR(Expect("from"));
  do {
    std::vector<std::string> keys;
    RETURN_IF_ERROR(ViewSource(view, &keys));
  } while (AcceptSymbol(","));
  if (Accept("where")) {
    ASSIGN_OR_RETURN(ExpressionPtr where, ParseExpression());
    view->where = TextOf(*where);
  }
  if (Accept("group")) {
    RETURN_IF_ERROR(Expect("by"));
    do {
      ASSIGN_OR_RETURN(ExpressionPtr group, ParseExpression());
      view->group_by.push_back(TextOf(*group));
    } while (AcceptSymbol(","));
  }
  if (Accept("having")) {
    ASSIGN_OR_RETURN(ExpressionPtr having, ParseExpression());
    view->having = TextOf(*having);
  }
  if (Accept("order")) {
    RETURN_IF_ERROR(Expect("by"));
    do {
      ASSIGN_OR_RETURN(ExpressionPtr key, ParseExpression());
      jet::ViewDefinition::Order order{TextOf(*key), false};
      if (Accept("desc")) {
        order.descending = true;
      } else {
        Accept("asc");
      }
      view->order_by.push_back(std::move(order));
    } while (AcceptSymbol(","));
  }
  if (IsWord(0, "with")) {
    return SyntaxError(sql_, Peek().offset, "WITH OWNERACCESS OPTION is not supported");
  }
  return Status::Ok();
}

// One item of the FROM list: a table, or tables joined as Access writes them
// ("(A INNER JOIN B ON ..) LEFT JOIN C ON .."). Tables go to view->tables in the order written;
// each join is recorded after the joins inside its operands, naming one table of each side
// (one its ON condition mentions, when it mentions one). `keys` receives the names or aliases
// of the tables inside.
Status Parser::ViewSource(jet::ViewDefinition* view, std::vector<std::string>* keys) {
  RETURN_IF_ERROR(ViewJoinOperand(view, keys));
  while (true) {
    jet::JoinKind kind = jet::JoinKind::kInner;
    const size_t offset = Peek().offset;
    if (Accept("inner")) {
      kind = jet::JoinKind::kInner;
    } else if (Accept("left")) {
      kind = jet::JoinKind::kLeft;
      Accept("outer");
    } else if (Accept("right")) {
      kind = jet::JoinKind::kRight;
      Accept("outer");
    } else if (IsWord(0, "full") || IsWord(0, "cross")) {
      return SyntaxError(sql_, offset,
                         std::string(AsciiLower(Peek().source)) == "full"
                             ? "Access has no FULL JOIN"
                             : "Access has no CROSS JOIN (list the tables)");
    } else if (!IsWord(0, "join")) {
      return Status::Ok();
    }
    RETURN_IF_ERROR(Expect("join"));
    std::vector<std::string> right;
    RETURN_IF_ERROR(ViewJoinOperand(view, &right));
    RETURN_IF_ERROR(Expect("on"));
    ASSIGN_OR_RETURN(ExpressionPtr condition, ParseExpression());
    // The tables the condition names, by qualifier.
    auto named = [&](const std::vector<std::string>& side, bool last) -> std::string {
      for (size_t i = condition->span.first_token; i + 1 < condition->span.end_token; ++i) {
        const Token& t = t_[i];
        if ((t.kind == TokenKind::kWord || t.kind == TokenKind::kQuotedName) &&
            (t_[i + 1].source == "." || t_[i + 1].source == "!")) {
          for (const std::string& key : side) {
            if (EqualsIgnoreAsciiCase(key, t.text)) return key;
          }
        }
      }
      return last ? side.back() : side.front();
    };
    jet::ViewDefinition::Join join;
    join.left = named(*keys, true);
    join.right = named(right, false);
    join.kind = kind;
    join.condition = TextOf(*condition);
    view->joins.push_back(std::move(join));
    keys->insert(keys->end(), right.begin(), right.end());
  }
}

Status Parser::ViewJoinOperand(jet::ViewDefinition* view, std::vector<std::string>* keys) {
  if (IsSymbol(0, "(")) {
    if (IsWord(1, "select")) {
      return SyntaxError(sql_, Peek(1).offset, "a query in FROM is not supported (save it as a view)");
    }
    const Nesting level(*this);
    RETURN_IF_ERROR(level.Check());
    ++p_;
    RETURN_IF_ERROR(ViewSource(view, keys));
    return ExpectSymbol(")");
  }
  jet::ViewDefinition::Table table;
  ASSIGN_OR_RETURN(table.name, ViewObjectName("a table name"));
  if (Accept("as")) {
    ASSIGN_OR_RETURN(table.alias, Name("an alias"));
  } else if (AtViewName()) {
    table.alias = Peek().text;
    ++p_;
  }
  keys->push_back(table.alias.empty() ? table.name : table.alias);
  view->tables.push_back(std::move(table));
  return Status::Ok();
}

}  // namespace tabulon::jetsql
