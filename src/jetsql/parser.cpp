#include "jetsql/parser.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "base/text.h"
#include "jetsql/lexer.h"

namespace tabulon::jetsql {
namespace {

using jet::ColumnType;

// Words that end a select item, a table reference or a default expression, so they are never
// taken as aliases.
constexpr std::array<std::string_view, 24> kReserved = {
    "select", "from", "where", "order", "by",   "into",  "and",   "or",     "not",   "like",   "is",      "null",
    "as",     "on",   "join",  "inner", "left", "right", "group", "having", "union", "values", "default", "constraint"};

bool IsReserved(std::string_view word) {
  for (std::string_view r : kReserved) {
    if (EqualsIgnoreAsciiCase(word, r)) return true;
  }
  return false;
}

class Parser {
 public:
  Parser(std::string_view sql, std::vector<Token> tokens) : sql_(sql), t_(std::move(tokens)) {}

  Result<Statement> ParseAll();

 private:
  const Token& Peek(size_t ahead = 0) const { return t_[std::min(p_ + ahead, t_.size() - 1)]; }
  bool IsWord(size_t ahead, std::string_view keyword) const {
    const Token& t = Peek(ahead);
    return t.kind == TokenKind::kWord && EqualsIgnoreAsciiCase(t.source, keyword);
  }
  bool IsSymbol(size_t ahead, std::string_view symbol) const {
    const Token& t = Peek(ahead);
    return t.kind == TokenKind::kSymbol && t.source == symbol;
  }
  bool Accept(std::string_view keyword) {
    if (!IsWord(0, keyword)) return false;
    ++p_;
    return true;
  }
  bool AcceptSymbol(std::string_view symbol) {
    if (!IsSymbol(0, symbol)) return false;
    ++p_;
    return true;
  }
  Status Error(const std::string& expected) const {
    const Token& t = Peek();
    const std::string found =
        t.kind == TokenKind::kEnd ? "the end of the statement" : "'" + std::string(t.source.substr(0, 40)) + "'";
    return SyntaxError(sql_, t.offset, "expected " + expected + " but found " + found);
  }
  Status Expect(std::string_view keyword) {
    if (Accept(keyword)) return Status::Ok();
    std::string upper(keyword);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return Error(upper);
  }
  Status ExpectSymbol(std::string_view symbol) {
    if (AcceptSymbol(symbol)) return Status::Ok();
    return Error("'" + std::string(symbol) + "'");
  }
  // A name: a bare word that is not reserved, or a quoted name.
  Result<std::string> Name(const char* what) {
    const Token& t = Peek();
    if (t.kind == TokenKind::kQuotedName || (t.kind == TokenKind::kWord && !IsReserved(t.source))) {
      ++p_;
      return t.text;
    }
    return Error(what);
  }
  bool AtName() const {
    const Token& t = Peek();
    return t.kind == TokenKind::kQuotedName || (t.kind == TokenKind::kWord && !IsReserved(t.source));
  }
  Result<uint32_t> Count(const char* what) {
    const Token& t = Peek();
    uint32_t value = 0;
    if (t.kind == TokenKind::kNumber) {
      auto [end, ec] = std::from_chars(t.source.data(), t.source.data() + t.source.size(), value);
      if (ec == std::errc() && end == t.source.data() + t.source.size()) {
        ++p_;
        return value;
      }
    }
    return Error(what);
  }

  Result<CreateTable> ParseCreateTable();
  Result<ColumnSpec> ParseColumn(std::vector<Constraint>& constraints);
  Result<std::string> ParseDefault();
  Result<Constraint> ParseConstraintBody(std::string name, size_t offset);
  Result<std::vector<KeyColumn>> ParseKeyColumns();
  Status ParseReferentialActions(Constraint& c);
  Result<AlterTable> ParseAlterTable();
  Result<CreateIndex> ParseCreateIndex(bool unique);
  Result<Drop> ParseDrop();
  Result<Insert> ParseInsert();
  Result<Delete> ParseDelete();
  Result<Literal> ParseLiteral();
  bool AtLiteral() const;
  Result<Select> ParseSelect();
  Result<ColumnRef> ParseColumnRef();
  Result<ExpressionPtr> ParseOr();
  Result<ExpressionPtr> ParseAnd();
  Result<ExpressionPtr> ParseNot();
  Result<ExpressionPtr> ParsePredicate();
  Result<ExpressionPtr> ParseOperand();
  Result<CreateView> ParseCreateView();
  // CREATE VIEW's SELECT as a saved-query description.
  std::string TextOf(size_t first, size_t end) const;
  bool AtViewName() const;
  Result<std::string> ViewObjectName(const char* what);
  Status ParseViewQuery(jet::ViewDefinition* view);
  Status ViewSource(jet::ViewDefinition* view, std::vector<std::string>* keys);
  Status ViewJoinOperand(jet::ViewDefinition* view, std::vector<std::string>* keys);
  Status ViewExpression();
  Status ViewConjunction();
  Status ViewNegation();
  Status ViewArithmetic();
  Status ViewOperand();
  Status ViewSubquery();

  std::string_view sql_;
  std::vector<Token> t_;
  size_t p_ = 0;
};

// Widens the result of one statement's parser to a Statement.
template <typename T>
Result<Statement> Widen(Result<T> parsed) {
  if (!parsed.ok()) return parsed.status();
  return Statement(std::move(parsed).value());
}

Result<Statement> Parser::ParseAll() {
  Result<Statement> result = InvalidArgumentError("empty statement");
  if (Accept("create")) {
    if (Accept("table")) {
      result = Widen(ParseCreateTable());
    } else if (Accept("unique")) {
      RETURN_IF_ERROR(Expect("index"));
      result = Widen(ParseCreateIndex(true));
    } else if (Accept("index")) {
      result = Widen(ParseCreateIndex(false));
    } else if (Accept("view")) {
      result = Widen(ParseCreateView());
    } else {
      return Error("TABLE, INDEX, UNIQUE INDEX or VIEW after CREATE");
    }
  } else if (Accept("alter")) {
    RETURN_IF_ERROR(Expect("table"));
    result = Widen(ParseAlterTable());
  } else if (Accept("drop")) {
    result = Widen(ParseDrop());
  } else if (Accept("insert")) {
    result = Widen(ParseInsert());
  } else if (Accept("delete")) {
    result = Widen(ParseDelete());
  } else if (IsWord(0, "select")) {
    result = Widen(ParseSelect());
  } else {
    return Error("CREATE, ALTER, DROP, INSERT, DELETE or SELECT");
  }
  if (!result.ok()) return result;
  AcceptSymbol(";");
  if (Peek().kind != TokenKind::kEnd) {
    return SyntaxError(sql_, Peek().offset,
                       "unexpected '" + std::string(Peek().source.substr(0, 40)) + "' after the end of the statement");
  }
  return result;
}

// ------------------------------------------------------------------------------------------
// CREATE TABLE

Result<CreateTable> Parser::ParseCreateTable() {
  CreateTable create;
  ASSIGN_OR_RETURN(create.table, Name("a table name"));
  RETURN_IF_ERROR(ExpectSymbol("("));
  do {
    const size_t offset = Peek().offset;
    if (Accept("constraint")) {
      ASSIGN_OR_RETURN(std::string name, Name("a constraint name"));
      ASSIGN_OR_RETURN(Constraint c, ParseConstraintBody(std::move(name), offset));
      create.constraints.push_back(std::move(c));
    } else if (IsWord(0, "primary") || IsWord(0, "unique") || IsWord(0, "foreign")) {
      ASSIGN_OR_RETURN(Constraint c, ParseConstraintBody({}, offset));
      create.constraints.push_back(std::move(c));
    } else {
      ASSIGN_OR_RETURN(ColumnSpec column, ParseColumn(create.constraints));
      create.columns.push_back(std::move(column));
    }
  } while (AcceptSymbol(","));
  RETURN_IF_ERROR(ExpectSymbol(")"));
  if (create.columns.empty()) {
    return SyntaxError(sql_, Peek().offset, "a table needs at least one column");
  }
  return create;
}

Result<ColumnSpec> Parser::ParseColumn(std::vector<Constraint>& constraints) {
  ColumnSpec column;
  column.offset = Peek().offset;
  ASSIGN_OR_RETURN(column.name, Name("a column name or a constraint"));
  const Token& type_token = Peek();
  if (type_token.kind != TokenKind::kWord) return Error("a type for column '" + column.name + "'");
  ++p_;
  std::vector<uint32_t> args;
  if (AcceptSymbol("(")) {
    do {
      ASSIGN_OR_RETURN(uint32_t arg, Count("a whole number"));
      args.push_back(arg);
    } while (AcceptSymbol(","));
    RETURN_IF_ERROR(ExpectSymbol(")"));
  }
  auto resolved = ResolveTypeWord(type_token.source, args);
  if (!resolved.ok()) {
    return Status(resolved.status().code(), "column '" + column.name + "' at " +
                                                DescribePosition(sql_, type_token.offset) + ": " +
                                                resolved.status().message());
  }
  column.type = resolved->type;
  column.size = resolved->size;
  column.scale = resolved->scale;
  column.auto_number = resolved->auto_number;
  while (true) {
    const size_t offset = Peek().offset;
    if (Accept("not")) {
      RETURN_IF_ERROR(Expect("null"));
      column.not_null = true;
    } else if (Accept("null")) {
      column.not_null = false;
    } else if (Accept("default")) {
      if (column.default_value) return SyntaxError(sql_, offset, "a second DEFAULT");
      ASSIGN_OR_RETURN(std::string value, ParseDefault());
      column.default_value = std::move(value);
    } else if (IsWord(0, "constraint") || IsWord(0, "primary") || IsWord(0, "unique") || IsWord(0, "references")) {
      std::string name;
      if (Accept("constraint")) {
        ASSIGN_OR_RETURN(name, Name("a constraint name"));
      }
      Constraint c;
      if (Accept("references")) {
        c.kind = Constraint::Kind::kForeignKey;
        c.name = std::move(name);
        c.offset = offset;
        ASSIGN_OR_RETURN(c.referenced_table, Name("the referenced table"));
        if (AcceptSymbol("(")) {
          ASSIGN_OR_RETURN(std::string ref, Name("a column name"));
          c.referenced_columns.push_back(std::move(ref));
          RETURN_IF_ERROR(ExpectSymbol(")"));
        }
        RETURN_IF_ERROR(ParseReferentialActions(c));
      } else {
        if (Accept("primary")) {
          RETURN_IF_ERROR(Expect("key"));
          c.kind = Constraint::Kind::kPrimaryKey;
          column.not_null = true;
        } else if (Accept("unique")) {
          c.kind = Constraint::Kind::kUnique;
        } else {
          return Error("PRIMARY KEY, UNIQUE or REFERENCES");
        }
        c.name = std::move(name);
        c.offset = offset;
      }
      c.columns.push_back({column.name, true});
      constraints.push_back(std::move(c));
    } else {
      break;
    }
  }
  return column;
}

// The default expression as written: tokens up to a ',' or ')' outside parentheses, or up to
// NULL / NOT NULL / a constraint.
Result<std::string> Parser::ParseDefault() {
  const size_t start = Peek().offset;
  size_t end = start;
  int depth = 0;
  while (true) {
    const Token& t = Peek();
    if (t.kind == TokenKind::kEnd) break;
    if (depth == 0 && (IsSymbol(0, ",") || IsSymbol(0, ")"))) break;
    if (depth == 0 && end != start &&
        (IsWord(0, "not") || IsWord(0, "null") || IsWord(0, "constraint") || IsWord(0, "primary") ||
         IsWord(0, "unique") || IsWord(0, "references"))) {
      break;
    }
    if (IsSymbol(0, "(")) ++depth;
    if (IsSymbol(0, ")")) --depth;
    end = t.offset + t.source.size();
    ++p_;
  }
  if (end == start) return Error("a default value");
  return std::string(sql_.substr(start, end - start));
}

Result<std::vector<KeyColumn>> Parser::ParseKeyColumns() {
  std::vector<KeyColumn> columns;
  RETURN_IF_ERROR(ExpectSymbol("("));
  do {
    KeyColumn k;
    ASSIGN_OR_RETURN(k.name, Name("a column name"));
    if (Accept("desc")) {
      k.ascending = false;
    } else {
      Accept("asc");
    }
    columns.push_back(std::move(k));
  } while (AcceptSymbol(","));
  RETURN_IF_ERROR(ExpectSymbol(")"));
  return columns;
}

Status Parser::ParseReferentialActions(Constraint& c) {
  while (Accept("on")) {
    bool* target = nullptr;
    if (Accept("update")) {
      target = &c.cascade_update;
    } else if (Accept("delete")) {
      target = &c.cascade_delete;
    } else {
      return Error("UPDATE or DELETE after ON");
    }
    if (Accept("cascade")) {
      *target = true;
    } else if (Accept("no")) {
      RETURN_IF_ERROR(Expect("action"));
      *target = false;
    } else {
      return Error("CASCADE or NO ACTION");
    }
  }
  return Status::Ok();
}

Result<Constraint> Parser::ParseConstraintBody(std::string name, size_t offset) {
  Constraint c;
  c.name = std::move(name);
  c.offset = offset;
  if (Accept("primary")) {
    RETURN_IF_ERROR(Expect("key"));
    c.kind = Constraint::Kind::kPrimaryKey;
  } else if (Accept("unique")) {
    c.kind = Constraint::Kind::kUnique;
  } else if (Accept("foreign")) {
    RETURN_IF_ERROR(Expect("key"));
    c.kind = Constraint::Kind::kForeignKey;
  } else {
    return Error("PRIMARY KEY, UNIQUE or FOREIGN KEY");
  }
  ASSIGN_OR_RETURN(c.columns, ParseKeyColumns());
  if (c.kind == Constraint::Kind::kForeignKey) {
    RETURN_IF_ERROR(Expect("references"));
    ASSIGN_OR_RETURN(c.referenced_table, Name("the referenced table"));
    if (IsSymbol(0, "(")) {
      ASSIGN_OR_RETURN(std::vector<KeyColumn> refs, ParseKeyColumns());
      for (KeyColumn& k : refs) c.referenced_columns.push_back(std::move(k.name));
      if (c.referenced_columns.size() != c.columns.size()) {
        return SyntaxError(sql_, offset,
                           "the foreign key has " + std::to_string(c.columns.size()) + " columns but references " +
                               std::to_string(c.referenced_columns.size()));
      }
    }
    RETURN_IF_ERROR(ParseReferentialActions(c));
  }
  return c;
}

// ------------------------------------------------------------------------------------------
// ALTER TABLE, CREATE INDEX, DROP

Result<AlterTable> Parser::ParseAlterTable() {
  AlterTable alter;
  ASSIGN_OR_RETURN(alter.table, Name("a table name"));
  const size_t offset = Peek().offset;
  if (Accept("add")) {
    if (Accept("constraint")) {
      ASSIGN_OR_RETURN(std::string name, Name("a constraint name"));
      ASSIGN_OR_RETURN(alter.constraint, ParseConstraintBody(std::move(name), offset));
    } else if (IsWord(0, "primary") || IsWord(0, "unique") || IsWord(0, "foreign")) {
      ASSIGN_OR_RETURN(alter.constraint, ParseConstraintBody({}, offset));
    } else {
      Accept("column");
      alter.action = AlterTable::Action::kAddColumn;
      std::vector<Constraint> inline_constraints;
      ASSIGN_OR_RETURN(alter.column, ParseColumn(inline_constraints));
      if (!inline_constraints.empty()) {
        return SyntaxError(sql_, inline_constraints.front().offset, "add the column first, then its constraint");
      }
    }
  } else if (Accept("drop")) {
    if (Accept("constraint")) {
      alter.action = AlterTable::Action::kDropConstraint;
    } else {
      Accept("column");
      alter.action = AlterTable::Action::kDropColumn;
    }
    ASSIGN_OR_RETURN(alter.name, Name("a name"));
  } else if (Accept("rename")) {
    RETURN_IF_ERROR(Expect("to"));
    alter.action = AlterTable::Action::kRename;
    ASSIGN_OR_RETURN(alter.name, Name("the new table name"));
  } else {
    return Error("ADD, DROP or RENAME");
  }
  return alter;
}

Result<CreateIndex> Parser::ParseCreateIndex(bool unique) {
  CreateIndex index;
  index.unique = unique;
  ASSIGN_OR_RETURN(index.name, Name("an index name"));
  RETURN_IF_ERROR(Expect("on"));
  ASSIGN_OR_RETURN(index.table, Name("a table name"));
  ASSIGN_OR_RETURN(index.columns, ParseKeyColumns());
  if (Accept("with")) {
    do {
      if (Accept("primary")) {
        index.primary = true;
      } else if (Accept("disallow")) {
        RETURN_IF_ERROR(Expect("null"));
        index.disallow_null = true;
      } else if (Accept("ignore")) {
        RETURN_IF_ERROR(Expect("null"));
        index.ignore_null = true;
      } else {
        return Error("PRIMARY, DISALLOW NULL or IGNORE NULL");
      }
    } while ((IsWord(0, "primary") || IsWord(0, "disallow") || IsWord(0, "ignore")));
  }
  return index;
}

Result<Drop> Parser::ParseDrop() {
  Drop drop;
  if (Accept("table")) {
    drop.kind = Drop::Kind::kTable;
  } else if (Accept("view")) {
    drop.kind = Drop::Kind::kView;
  } else if (Accept("index")) {
    drop.kind = Drop::Kind::kIndex;
  } else {
    return Error("TABLE, VIEW or INDEX after DROP");
  }
  ASSIGN_OR_RETURN(drop.name, Name("a name"));
  if (drop.kind == Drop::Kind::kIndex) {
    RETURN_IF_ERROR(Expect("on"));
    ASSIGN_OR_RETURN(drop.table, Name("a table name"));
  }
  return drop;
}

Result<Delete> Parser::ParseDelete() {
  Delete remove;
  AcceptSymbol("*");
  RETURN_IF_ERROR(Expect("from"));
  ASSIGN_OR_RETURN(remove.table, Name("a table name"));
  if (IsWord(0, "where")) return SyntaxError(sql_, Peek().offset, "DELETE ... WHERE is not supported");
  return remove;
}

// ------------------------------------------------------------------------------------------
// INSERT and literals

bool Parser::AtLiteral() const {
  const Token& t = Peek();
  switch (t.kind) {
    case TokenKind::kString:
    case TokenKind::kNumber:
    case TokenKind::kDate:
    case TokenKind::kBinary: return true;
    case TokenKind::kSymbol: return (t.source == "-" || t.source == "+") && Peek(1).kind == TokenKind::kNumber;
    case TokenKind::kWord: return IsWord(0, "null") || IsWord(0, "true") || IsWord(0, "false");
    default: return false;
  }
}

Result<Literal> Parser::ParseLiteral() {
  Literal literal;
  const Token& t = Peek();
  literal.offset = t.offset;
  switch (t.kind) {
    case TokenKind::kString: literal.kind = Literal::Kind::kString; break;
    case TokenKind::kNumber: literal.kind = Literal::Kind::kNumber; break;
    case TokenKind::kDate: literal.kind = Literal::Kind::kDate; break;
    case TokenKind::kBinary: literal.kind = Literal::Kind::kBinary; break;
    case TokenKind::kSymbol:
      if ((t.source == "-" || t.source == "+") && Peek(1).kind == TokenKind::kNumber) {
        literal.kind = Literal::Kind::kNumber;
        literal.text = t.source == "-" ? "-" : "";
        literal.text += Peek(1).text;
        p_ += 2;
        return literal;
      }
      return Error("a value");
    case TokenKind::kWord:
      if (IsWord(0, "null")) {
        literal.kind = Literal::Kind::kNull;
      } else if (IsWord(0, "true") || IsWord(0, "false")) {
        literal.kind = Literal::Kind::kBoolean;
        literal.boolean = IsWord(0, "true");
      } else {
        return Error("a value");
      }
      ++p_;
      return literal;
    default: return Error("a value");
  }
  literal.text = t.text;
  ++p_;
  return literal;
}

Result<Insert> Parser::ParseInsert() {
  Insert insert;
  RETURN_IF_ERROR(Expect("into"));
  ASSIGN_OR_RETURN(insert.table, Name("a table name"));
  if (AcceptSymbol("(")) {
    do {
      ASSIGN_OR_RETURN(std::string column, Name("a column name"));
      insert.columns.push_back(std::move(column));
    } while (AcceptSymbol(","));
    RETURN_IF_ERROR(ExpectSymbol(")"));
  }
  if (IsWord(0, "select")) {
    return SyntaxError(sql_, Peek().offset, "INSERT INTO ... SELECT is not supported");
  }
  RETURN_IF_ERROR(Expect("values"));
  RETURN_IF_ERROR(ExpectSymbol("("));
  insert.values.reserve(insert.columns.empty() ? 8 : insert.columns.size());
  do {
    ASSIGN_OR_RETURN(Literal value, ParseLiteral());
    insert.values.push_back(std::move(value));
  } while (AcceptSymbol(","));
  RETURN_IF_ERROR(ExpectSymbol(")"));
  if (!insert.columns.empty() && insert.columns.size() != insert.values.size()) {
    return SyntaxError(
        sql_, insert.values.front().offset,
        std::to_string(insert.columns.size()) + " columns but " + std::to_string(insert.values.size()) + " values");
  }
  return insert;
}

// ------------------------------------------------------------------------------------------
// SELECT and search conditions

Result<ColumnRef> Parser::ParseColumnRef() {
  ColumnRef ref;
  ASSIGN_OR_RETURN(ref.name, Name("a column name"));
  if (AcceptSymbol(".") || AcceptSymbol("!")) {
    ref.qualifier = std::move(ref.name);
    ASSIGN_OR_RETURN(ref.name, Name("a column name"));
  }
  return ref;
}

Result<Select> Parser::ParseSelect() {
  Select select;
  RETURN_IF_ERROR(Expect("select"));
  if (Accept("top")) {
    ASSIGN_OR_RETURN(uint32_t top, Count("a row count after TOP"));
    select.top = top;
  }
  if (IsWord(0, "distinct")) return SyntaxError(sql_, Peek().offset, "DISTINCT is not supported");
  do {
    SelectItem item;
    item.offset = Peek().offset;
    if (AcceptSymbol("*")) {
      item.kind = SelectItem::Kind::kAllColumns;
    } else if (IsWord(0, "count") && IsSymbol(1, "(")) {
      p_ += 2;
      item.kind = SelectItem::Kind::kCount;
      if (!AcceptSymbol("*")) {
        ASSIGN_OR_RETURN(ColumnRef ref, ParseColumnRef());
        item.qualifier = std::move(ref.qualifier);
        item.name = std::move(ref.name);
      }
      RETURN_IF_ERROR(ExpectSymbol(")"));
    } else {
      ASSIGN_OR_RETURN(item.name, Name("a column, '*' or COUNT(*)"));
      if (AcceptSymbol(".") || AcceptSymbol("!")) {
        item.qualifier = std::move(item.name);
        item.name.clear();
        if (AcceptSymbol("*")) {
          item.kind = SelectItem::Kind::kAllColumns;
        } else {
          ASSIGN_OR_RETURN(item.name, Name("a column name or '*'"));
        }
      }
    }
    if (item.kind != SelectItem::Kind::kAllColumns) {
      if (Accept("as")) {
        ASSIGN_OR_RETURN(item.alias, Name("an alias"));
      } else if (AtName()) {
        ASSIGN_OR_RETURN(item.alias, Name("an alias"));
      }
    }
    select.items.push_back(std::move(item));
  } while (AcceptSymbol(","));
  if (Accept("into")) {
    ASSIGN_OR_RETURN(select.into, Name("the new table's name"));
  }
  RETURN_IF_ERROR(Expect("from"));
  do {
    TableRef table;
    table.offset = Peek().offset;
    ASSIGN_OR_RETURN(table.name, Name("a table name"));
    if (Accept("as")) {
      ASSIGN_OR_RETURN(table.alias, Name("an alias"));
    } else if (AtName()) {
      ASSIGN_OR_RETURN(table.alias, Name("an alias"));
    }
    select.from.push_back(std::move(table));
  } while (AcceptSymbol(","));
  if (IsWord(0, "join") || IsWord(0, "inner") || IsWord(0, "left") || IsWord(0, "right")) {
    return SyntaxError(sql_, Peek().offset, "JOIN is not supported; list the tables after FROM and join them in WHERE");
  }
  if (Accept("where")) {
    const size_t start = Peek().offset;
    ASSIGN_OR_RETURN(select.where, ParseOr());
    const Token& last = t_[p_ - 1];
    select.where_text = std::string(sql_.substr(start, last.offset + last.source.size() - start));
  }
  if (IsWord(0, "group") || IsWord(0, "having") || IsWord(0, "union")) {
    return SyntaxError(sql_, Peek().offset, "'" + std::string(Peek().source) + "' is not supported");
  }
  if (Accept("order")) {
    RETURN_IF_ERROR(Expect("by"));
    do {
      OrderItem order;
      order.offset = Peek().offset;
      if (Peek().kind == TokenKind::kNumber) {
        ASSIGN_OR_RETURN(uint32_t position, Count("a column position"));
        order.position = position;
      } else {
        ASSIGN_OR_RETURN(order.column, ParseColumnRef());
      }
      if (Accept("desc")) {
        order.ascending = false;
      } else {
        Accept("asc");
      }
      select.order_by.push_back(std::move(order));
    } while (AcceptSymbol(","));
  }
  return select;
}

Result<ExpressionPtr> Parser::ParseOr() {
  ASSIGN_OR_RETURN(ExpressionPtr left, ParseAnd());
  while (IsWord(0, "or")) {
    auto node = std::make_unique<Expression>();
    node->offset = Peek().offset;
    ++p_;
    node->kind = Expression::Kind::kOr;
    node->left = std::move(left);
    ASSIGN_OR_RETURN(node->right, ParseAnd());
    left = std::move(node);
  }
  return left;
}

Result<ExpressionPtr> Parser::ParseAnd() {
  ASSIGN_OR_RETURN(ExpressionPtr left, ParseNot());
  while (IsWord(0, "and")) {
    auto node = std::make_unique<Expression>();
    node->offset = Peek().offset;
    ++p_;
    node->kind = Expression::Kind::kAnd;
    node->left = std::move(left);
    ASSIGN_OR_RETURN(node->right, ParseNot());
    left = std::move(node);
  }
  return left;
}

Result<ExpressionPtr> Parser::ParseNot() {
  if (IsWord(0, "not")) {
    auto node = std::make_unique<Expression>();
    node->offset = Peek().offset;
    ++p_;
    node->kind = Expression::Kind::kNot;
    ASSIGN_OR_RETURN(node->left, ParseNot());
    return node;
  }
  return ParsePredicate();
}

Result<ExpressionPtr> Parser::ParseOperand() {
  auto node = std::make_unique<Expression>();
  node->offset = Peek().offset;
  if (AtLiteral()) {
    node->kind = Expression::Kind::kLiteral;
    ASSIGN_OR_RETURN(node->literal, ParseLiteral());
  } else {
    node->kind = Expression::Kind::kColumn;
    ASSIGN_OR_RETURN(node->column, ParseColumnRef());
  }
  return node;
}

Result<ExpressionPtr> Parser::ParsePredicate() {
  ExpressionPtr left;
  if (AcceptSymbol("(")) {
    ASSIGN_OR_RETURN(left, ParseOr());
    RETURN_IF_ERROR(ExpectSymbol(")"));
  } else {
    ASSIGN_OR_RETURN(left, ParseOperand());
  }
  const Token& t = Peek();
  auto node = std::make_unique<Expression>();
  node->offset = t.offset;
  if (t.kind == TokenKind::kSymbol && (t.source == "=" || t.source == "<>" || t.source == "<" || t.source == ">" ||
                                       t.source == "<=" || t.source == ">=")) {
    node->kind = Expression::Kind::kCompare;
    node->op = std::string(t.source);
    ++p_;
  } else if (IsWord(0, "like") || (IsWord(0, "not") && IsWord(1, "like"))) {
    node->kind = Expression::Kind::kLike;
    node->negated = Accept("not");
    ++p_;
  } else if (Accept("is")) {
    node->kind = Expression::Kind::kIsNull;
    node->negated = Accept("not");
    RETURN_IF_ERROR(Expect("null"));
    node->left = std::move(left);
    return node;
  } else {
    return left;  // a lone operand: a Yes/No column or a constant
  }
  node->left = std::move(left);
  ASSIGN_OR_RETURN(node->right, ParseOperand());
  return node;
}

// ------------------------------------------------------------------------------------------
// CREATE VIEW: the SELECT is taken apart into the saved-query description, each expression
// kept as written (runs of blanks and line breaks between tokens become one blank).

// Words that end an expression or a select item in a view, besides the reserved ones: they
// never start an operand and are never taken as an alias.
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
  RETURN_IF_ERROR(ParseViewQuery(&view.definition));
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
    const size_t first = p_;
    RETURN_IF_ERROR(ViewExpression());
    jet::ViewDefinition::Column column{TextOf(first, p_), ""};
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
    const size_t first = p_;
    RETURN_IF_ERROR(ViewExpression());
    view->where = TextOf(first, p_);
  }
  if (Accept("group")) {
    RETURN_IF_ERROR(Expect("by"));
    do {
      const size_t first = p_;
      RETURN_IF_ERROR(ViewExpression());
      view->group_by.push_back(TextOf(first, p_));
    } while (AcceptSymbol(","));
  }
  if (Accept("having")) {
    const size_t first = p_;
    RETURN_IF_ERROR(ViewExpression());
    view->having = TextOf(first, p_);
  }
  if (Accept("order")) {
    RETURN_IF_ERROR(Expect("by"));
    do {
      const size_t first = p_;
      RETURN_IF_ERROR(ViewExpression());
      jet::ViewDefinition::Order order{TextOf(first, p_), false};
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
    const size_t first = p_;
    RETURN_IF_ERROR(ViewExpression());
    // The tables the condition names, by qualifier.
    auto named = [&](const std::vector<std::string>& side, bool last) -> std::string {
      for (size_t i = first; i + 1 < p_; ++i) {
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
    join.condition = TextOf(first, p_);
    view->joins.push_back(std::move(join));
    keys->insert(keys->end(), right.begin(), right.end());
  }
}

Status Parser::ViewJoinOperand(jet::ViewDefinition* view, std::vector<std::string>* keys) {
  if (IsSymbol(0, "(")) {
    if (IsWord(1, "select")) {
      return SyntaxError(sql_, Peek(1).offset, "a query in FROM is not supported (save it as a view)");
    }
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

// Expressions are checked for their form only; their text is what the view keeps.
Status Parser::ViewExpression() {
  RETURN_IF_ERROR(ViewConjunction());
  while (Accept("or") || Accept("xor") || Accept("eqv") || Accept("imp")) {
    RETURN_IF_ERROR(ViewConjunction());
  }
  return Status::Ok();
}

Status Parser::ViewConjunction() {
  RETURN_IF_ERROR(ViewNegation());
  while (Accept("and")) RETURN_IF_ERROR(ViewNegation());
  return Status::Ok();
}

Status Parser::ViewNegation() {
  if (Accept("not")) return ViewNegation();
  RETURN_IF_ERROR(ViewArithmetic());
  while (true) {
    const Token& t = Peek();
    if (t.kind == TokenKind::kSymbol && (t.source == "=" || t.source == "<>" || t.source == "<" || t.source == ">" ||
                                         t.source == "<=" || t.source == ">=")) {
      ++p_;
      RETURN_IF_ERROR(ViewArithmetic());
      continue;
    }
    if (Accept("is")) {
      Accept("not");
      RETURN_IF_ERROR(Expect("null"));
      continue;
    }
    const bool negated = IsWord(0, "not") && (IsWord(1, "like") || IsWord(1, "between") || IsWord(1, "in"));
    if (negated) ++p_;
    if (Accept("like")) {
      RETURN_IF_ERROR(ViewArithmetic());
    } else if (Accept("between")) {
      RETURN_IF_ERROR(ViewArithmetic());
      RETURN_IF_ERROR(Expect("and"));
      RETURN_IF_ERROR(ViewArithmetic());
    } else if (Accept("in")) {
      RETURN_IF_ERROR(ExpectSymbol("("));
      if (IsWord(0, "select")) {
        RETURN_IF_ERROR(ViewSubquery());
      } else {
        do {
          RETURN_IF_ERROR(ViewExpression());
        } while (AcceptSymbol(","));
      }
      RETURN_IF_ERROR(ExpectSymbol(")"));
    } else {
      return Status::Ok();
    }
  }
}

Status Parser::ViewArithmetic() {
  RETURN_IF_ERROR(ViewOperand());
  while (true) {
    const Token& t = Peek();
    const bool op =
        (t.kind == TokenKind::kSymbol && (t.source == "&" || t.source == "+" || t.source == "-" || t.source == "*" ||
                                          t.source == "/" || t.source == "\\" || t.source == "^")) ||
        IsWord(0, "mod");
    if (!op) return Status::Ok();
    ++p_;
    RETURN_IF_ERROR(ViewOperand());
  }
}

Status Parser::ViewOperand() {
  while (AcceptSymbol("-") || AcceptSymbol("+")) {
  }
  const Token& t = Peek();
  switch (t.kind) {
    case TokenKind::kString:
    case TokenKind::kNumber:
    case TokenKind::kDate:
    case TokenKind::kBinary: ++p_; return Status::Ok();
    case TokenKind::kSymbol:
      if (AcceptSymbol("(")) {
        if (IsWord(0, "select")) {
          RETURN_IF_ERROR(ViewSubquery());
        } else {
          RETURN_IF_ERROR(ViewExpression());
        }
        return ExpectSymbol(")");
      }
      return Error("an expression");
    case TokenKind::kWord:
      if (IsWord(0, "null") || IsWord(0, "true") || IsWord(0, "false")) {
        ++p_;
        return Status::Ok();
      }
      if (IsWord(0, "case")) {
        return SyntaxError(sql_, t.offset, "CASE is not Access SQL (IIf(condition, value, otherwise) is)");
      }
      if (IsWord(0, "exists") && IsSymbol(1, "(")) {
        p_ += 2;
        RETURN_IF_ERROR(ViewSubquery());
        return ExpectSymbol(")");
      }
      if (IsSymbol(1, "(") && !IsWord(0, "select")) {  // a function: Left(..), Count(*), ...
        p_ += 2;
        if (AcceptSymbol(")")) return Status::Ok();
        if (!AcceptSymbol("*")) {
          Accept("distinct");
          do {
            RETURN_IF_ERROR(ViewExpression());
          } while (AcceptSymbol(","));
        }
        return ExpectSymbol(")");
      }
      break;
    default: break;
  }
  if (!AtViewName()) return Error("an expression");
  ++p_;
  // Qualified names: table.column, table!column, schema.table.column, table.*.
  while (IsSymbol(0, ".") || IsSymbol(0, "!")) {
    ++p_;
    if (AcceptSymbol("*")) return Status::Ok();
    if (!AtViewName() && Peek().kind != TokenKind::kWord) return Error("a column name");
    ++p_;
  }
  return Status::Ok();
}

// A SELECT inside an expression (IN (SELECT ..), EXISTS (SELECT ..)): checked, kept as text.
Status Parser::ViewSubquery() {
  jet::ViewDefinition inner;
  return ParseViewQuery(&inner);
}

struct TypeWord {
  std::string_view word;
  ColumnType type;
  enum Args { kNone, kLength, kPrecision, kAutoNumber } args;
};

constexpr TypeWord kTypeWords[] = {
    {"bit", ColumnType::kBoolean, TypeWord::kNone},
    {"yesno", ColumnType::kBoolean, TypeWord::kNone},
    {"logical", ColumnType::kBoolean, TypeWord::kNone},
    {"logical1", ColumnType::kBoolean, TypeWord::kNone},
    {"boolean", ColumnType::kBoolean, TypeWord::kNone},
    {"guid", ColumnType::kGuid, TypeWord::kNone},
    {"uniqueidentifier", ColumnType::kGuid, TypeWord::kNone},
    {"byte", ColumnType::kByte, TypeWord::kNone},
    {"tinyint", ColumnType::kByte, TypeWord::kNone},
    {"integer1", ColumnType::kByte, TypeWord::kNone},
    {"short", ColumnType::kInteger, TypeWord::kNone},
    {"smallint", ColumnType::kInteger, TypeWord::kNone},
    {"integer2", ColumnType::kInteger, TypeWord::kNone},
    {"long", ColumnType::kLong, TypeWord::kNone},
    {"int", ColumnType::kLong, TypeWord::kNone},
    {"integer", ColumnType::kLong, TypeWord::kNone},
    {"integer4", ColumnType::kLong, TypeWord::kNone},
    {"counter", ColumnType::kLong, TypeWord::kAutoNumber},
    {"autoincrement", ColumnType::kLong, TypeWord::kAutoNumber},
    {"single", ColumnType::kSingle, TypeWord::kNone},
    {"real", ColumnType::kSingle, TypeWord::kNone},
    {"float4", ColumnType::kSingle, TypeWord::kNone},
    {"ieeesingle", ColumnType::kSingle, TypeWord::kNone},
    {"double", ColumnType::kDouble, TypeWord::kNone},
    {"float", ColumnType::kDouble, TypeWord::kNone},
    {"float8", ColumnType::kDouble, TypeWord::kNone},
    {"ieeedouble", ColumnType::kDouble, TypeWord::kNone},
    {"number", ColumnType::kDouble, TypeWord::kNone},
    {"currency", ColumnType::kCurrency, TypeWord::kNone},
    {"money", ColumnType::kCurrency, TypeWord::kNone},
    {"datetime", ColumnType::kDateTime, TypeWord::kNone},
    {"date", ColumnType::kDateTime, TypeWord::kNone},
    {"time", ColumnType::kDateTime, TypeWord::kNone},
    {"timestamp", ColumnType::kDateTime, TypeWord::kNone},
    // NUMERIC alone is a Double (the name Access gives Double columns); with a precision it
    // is a Decimal.
    {"numeric", ColumnType::kNumeric, TypeWord::kPrecision},
    {"decimal", ColumnType::kNumeric, TypeWord::kPrecision},
    {"dec", ColumnType::kNumeric, TypeWord::kPrecision},
    {"text", ColumnType::kText, TypeWord::kLength},
    {"varchar", ColumnType::kText, TypeWord::kLength},
    {"char", ColumnType::kText, TypeWord::kLength},
    {"character", ColumnType::kText, TypeWord::kLength},
    {"string", ColumnType::kText, TypeWord::kLength},
    {"alphanumeric", ColumnType::kText, TypeWord::kLength},
    {"nvarchar", ColumnType::kText, TypeWord::kLength},
    {"nchar", ColumnType::kText, TypeWord::kLength},
    {"longtext", ColumnType::kMemo, TypeWord::kNone},
    {"memo", ColumnType::kMemo, TypeWord::kNone},
    {"note", ColumnType::kMemo, TypeWord::kNone},
    {"longchar", ColumnType::kMemo, TypeWord::kNone},
    {"ntext", ColumnType::kMemo, TypeWord::kNone},
    {"binary", ColumnType::kBinary, TypeWord::kLength},
    {"varbinary", ColumnType::kBinary, TypeWord::kLength},
    {"longbinary", ColumnType::kOle, TypeWord::kNone},
    {"oleobject", ColumnType::kOle, TypeWord::kNone},
    {"general", ColumnType::kOle, TypeWord::kNone},
    {"image", ColumnType::kOle, TypeWord::kNone},
};

}  // namespace

Result<ResolvedType> ResolveTypeWord(std::string_view word, const std::vector<uint32_t>& args) {
  if (EqualsIgnoreAsciiCase(word, "userdefine")) {
    return UnsupportedError("type USERDEFINE has no Access equivalent (the source column's type is unknown)");
  }
  const TypeWord* found = nullptr;
  for (const TypeWord& w : kTypeWords) {
    if (EqualsIgnoreAsciiCase(word, w.word)) {
      found = &w;
      break;
    }
  }
  if (!found) return InvalidArgumentError("unknown type '" + std::string(word) + "'");
  ResolvedType r;
  r.type = found->type;
  const std::string name(word);
  switch (found->args) {
    case TypeWord::kNone:
      if (!args.empty()) return InvalidArgumentError("type " + name + " takes no size");
      break;
    case TypeWord::kAutoNumber:
      r.auto_number = true;
      // COUNTER(seed, increment): only the default numbering can be written.
      if (!args.empty() && !(args.size() == 2 && args[0] == 1 && args[1] == 1)) {
        return UnsupportedError("type " + name + " takes no start value or step other than (1, 1)");
      }
      break;
    case TypeWord::kLength: {
      if (args.size() > 1) return InvalidArgumentError("type " + name + " takes one size");
      const uint32_t limit = r.type == ColumnType::kText ? 255 : 510;
      if (!args.empty() && (args[0] < 1 || args[0] > limit)) {
        return InvalidArgumentError(
            "type " + name + " holds 1 to " + std::to_string(limit) +
            (r.type == ColumnType::kText ? " characters (use LONGTEXT for more)" : " bytes (use LONGBINARY for more)"));
      }
      r.size = static_cast<uint16_t>(args.empty() ? 255 : args[0]);
      break;
    }
    case TypeWord::kPrecision:
      if (args.empty()) {
        if (EqualsIgnoreAsciiCase(word, "numeric")) r.type = ColumnType::kDouble;
        r.size = r.type == ColumnType::kNumeric ? 18 : 0;
        break;
      }
      if (args.size() > 2) return InvalidArgumentError("type " + name + " takes (precision, scale)");
      if (args[0] < 1 || args[0] > 28) {
        return InvalidArgumentError("type " + name + " needs a precision of 1 to 28");
      }
      if (args.size() == 2 && args[1] > args[0]) {
        return InvalidArgumentError("type " + name + " needs a scale of 0 to the precision");
      }
      r.size = static_cast<uint16_t>(args[0]);
      r.scale = static_cast<uint8_t>(args.size() == 2 ? args[1] : 0);
      break;
  }
  return r;
}

Result<Statement> ParseStatement(std::string_view sql) {
  ASSIGN_OR_RETURN(std::vector<Token> tokens, Tokenize(sql));
  Parser parser(sql, std::move(tokens));
  return parser.ParseAll();
}

}  // namespace tabulon::jetsql
