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
  size_t last_end = 0;  // of the last token taken
  for (size_t i = first; i < end; ++i) {
    if (i < dropped_.size() && dropped_[i]) continue;
    if (!text.empty() && t_[i].offset > last_end) text += ' ';
    text += t_[i].source;
    last_end = t_[i].offset + t_[i].source.size();
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
    // The schema and its dot are left out of any text kept (a query in FROM, a union operand).
    if (dropped_.size() < p_ + 2) dropped_.resize(t_.size());
    dropped_[p_ - 1] = dropped_[p_] = true;
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
  const size_t start = Peek().offset;
  view.definition.name = view.name;
  access_names_ = true;
  Status parsed = ParseViewBody(&view.definition);
  access_names_ = false;
  RETURN_IF_ERROR(parsed);
  const size_t end = p_;
  if (!names.empty() && !view.definition.union_first.empty()) {
    return SyntaxError(sql_, names.front().second,
                       "a UNION view takes its column names from its first SELECT (name them there)");
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
  return view;
}

// One SELECT, or SELECTs joined by UNION [ALL], each optionally in parentheses. An ORDER BY
// after the last SELECT orders the whole union. Access keeps a union as the text of the two
// operands of its last UNION (each without its parentheses; the first may hold UNIONs itself).
Status Parser::ParseViewBody(jet::ViewDefinition* view) {
  struct Operand {
    size_t outer_first = 0, first = 0, end = 0, outer_end = 0;  // tokens, with and without parentheses
    jet::ViewDefinition query;
  };
  std::vector<Operand> operands;
  bool all = false;
  while (true) {
    Operand& operand = operands.emplace_back();
    operand.query.name = view->name;
    operand.outer_first = p_;
    const bool parenthesised = IsSymbol(0, "(");
    const Nesting level(*this);
    if (parenthesised) {
      RETURN_IF_ERROR(level.Check());
      ++p_;
    }
    operand.first = p_;
    RETURN_IF_ERROR(ParseViewQuery(&operand.query));
    operand.end = p_;
    if (parenthesised) RETURN_IF_ERROR(ExpectSymbol(")"));
    operand.outer_end = p_;
    if (!parenthesised && !operand.query.order_by.empty()) {
      // The ORDER BY of the last SELECT orders the union; elsewhere it is out of place.
      if (IsWord(0, "union"))
        return SyntaxError(sql_, t_[order_at_].offset, "ORDER BY belongs after the last SELECT of a UNION");
      if (operands.size() > 1) {
        view->order_by = std::move(operand.query.order_by);
        operand.end = operand.outer_end = order_at_;
      }
    }
    if (operands.size() == 1 && !parenthesised && !IsWord(0, "union")) {
      *view = std::move(operand.query);
      return Status::Ok();
    }
    if (!Accept("union")) break;
    all = Accept("all");
  }
  if (operands.size() < 2) return Error("UNION");
  if (Accept("order")) {
    RETURN_IF_ERROR(Expect("by"));
    RETURN_IF_ERROR(ViewOrderBy(&view->order_by));
  }
  const Operand& last = operands.back();
  const Operand& before = operands[operands.size() - 2];
  view->union_first = operands.size() == 2 ? TextOf(operands[0].first, operands[0].end)
                                           : TextOf(operands[0].outer_first, before.outer_end);
  view->union_second = TextOf(last.first, last.end);
  view->union_all = all;
  for (const Operand& operand : operands) {
    for (const jet::ViewDefinition::Table& t : operand.query.tables) {
      if (!t.query) view->inner_tables.push_back(t.name);
    }
    view->inner_tables.insert(view->inner_tables.end(), operand.query.inner_tables.begin(),
                              operand.query.inner_tables.end());
  }
  return Status::Ok();
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
  if (into_ && IsWord(0, "into")) {
    ++p_;
    ASSIGN_OR_RETURN(*into_, Name("the new table's name"));
  }
  into_ = nullptr;
  // A query that is run may leave out FROM (SELECT Now()); a saved query names its tables.
  if (!access_names_ && !IsWord(0, "from") &&
      (Peek().kind == TokenKind::kEnd || IsSymbol(0, ";") || IsSymbol(0, ")") || IsWord(0, "union"))) {
    return Status::Ok();
  }
  RETURN_IF_ERROR(Expect("from"));
  // "a CROSS JOIN b" is Access's "a, b".
  auto next_item = [&] {
    if (IsWord(0, "cross") && IsWord(1, "join")) {
      p_ += 2;
      return true;
    }
    return AcceptSymbol(",");
  };
  do {
    std::vector<std::string> keys;
    RETURN_IF_ERROR(ViewSource(view, &keys));
  } while (next_item());
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
  if (IsWord(0, "order")) {
    order_at_ = p_++;
    RETURN_IF_ERROR(Expect("by"));
    RETURN_IF_ERROR(ViewOrderBy(&view->order_by));
  }
  if (IsWord(0, "with")) {
    return SyntaxError(sql_, Peek().offset, "WITH OWNERACCESS OPTION is not supported");
  }
  return Status::Ok();
}

Status Parser::ViewOrderBy(std::vector<jet::ViewDefinition::Order>* order_by) {
  do {
    ASSIGN_OR_RETURN(ExpressionPtr key, ParseExpression());
    jet::ViewDefinition::Order order{TextOf(*key), false};
    if (Accept("desc")) {
      order.descending = true;
    } else {
      Accept("asc");
    }
    order_by->push_back(std::move(order));
  } while (AcceptSymbol(","));
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
    } else if (IsWord(0, "full")) {
      return SyntaxError(sql_, offset, "Access has no FULL JOIN");
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
    const Nesting level(*this);
    RETURN_IF_ERROR(level.Check());
    ++p_;
    if (IsWord(0, "select")) return ViewQuerySource(view, keys);
    RETURN_IF_ERROR(ViewSource(view, keys));
    if (IsWord(0, "cross")) {
      return SyntaxError(sql_, Peek().offset, "Access has no CROSS JOIN inside parentheses (list the tables)");
    }
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

// A query in FROM, after its opening parenthesis: "(SELECT ...) [AS] alias". Access keeps its
// text where a table's name goes, so the alias is required.
Status Parser::ViewQuerySource(jet::ViewDefinition* view, std::vector<std::string>* keys) {
  jet::ViewDefinition inner;
  inner.name = view->name;
  const size_t first = p_;
  RETURN_IF_ERROR(ParseViewQuery(&inner));
  jet::ViewDefinition::Table table{TextOf(first, p_), "", true};
  if (IsWord(0, "union")) {
    return SyntaxError(sql_, Peek().offset, "a UNION in FROM is not supported (save it as a view)");
  }
  RETURN_IF_ERROR(ExpectSymbol(")"));
  if (Accept("as")) {
    ASSIGN_OR_RETURN(table.alias, Name("an alias"));
  } else if (AtViewName()) {
    table.alias = Peek().text;
    ++p_;
  } else {
    return SyntaxError(sql_, Peek().offset, "a query in FROM needs an alias (AS name)");
  }
  for (const jet::ViewDefinition::Table& t : inner.tables) {
    if (!t.query) view->inner_tables.push_back(t.name);
  }
  view->inner_tables.insert(view->inner_tables.end(), inner.inner_tables.begin(), inner.inner_tables.end());
  keys->push_back(table.alias);
  view->tables.push_back(std::move(table));
  return Status::Ok();
}

}  // namespace tabulon::jetsql
