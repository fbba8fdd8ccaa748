// The statements of Access SQL: CREATE TABLE, ALTER TABLE, CREATE INDEX, DROP, INSERT, DELETE,
// UPDATE and SELECT. Expressions are read by expression_parser.cpp, CREATE VIEW by view_parser.cpp,
// CREATE QUERY and ALTER QUERY by saved_query_parser.cpp and type words by type_words.cpp.
#include "jetsql/parser.h"

#include "jet/object_properties.h"

#include <array>

#include "jetsql/parser_internal.h"

namespace tabulon::jetsql {
namespace {

constexpr std::array<std::string_view, 24> kReserved = {
    "select", "from", "where", "order", "by",   "into",  "and",   "or",     "not",   "like",   "is",      "null",
    "as",     "on",   "join",  "inner", "left", "right", "group", "having", "union", "values", "default", "constraint"};

}  // namespace

bool IsReserved(std::string_view word) {
  for (std::string_view r : kReserved) {
    if (EqualsIgnoreAsciiCase(word, r)) return true;
  }
  return false;
}

namespace {

// Widens the result of one statement's parser to a Statement.
template <typename T>
Result<Statement> Widen(Result<T> parsed) {
  if (!parsed.ok()) return parsed.status();
  return Statement(std::move(parsed).value());
}

}  // namespace

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
    } else if (Accept("query")) {
      result = Widen(ParseCreateQuery());
    } else {
      return Error("TABLE, INDEX, UNIQUE INDEX, VIEW or QUERY after CREATE");
    }
  } else if (Accept("alter")) {
    if (Accept("query")) {
      result = Widen(ParseAlterQuery());
    } else {
      RETURN_IF_ERROR(Expect("table"));
      result = Widen(ParseAlterTable());
    }
  } else if (Accept("drop")) {
    result = Widen(ParseDrop());
  } else if (Accept("insert")) {
    result = Widen(ParseInsert());
  } else if (Accept("delete")) {
    result = Widen(ParseDelete());
  } else if (Accept("update")) {
    result = Widen(ParseUpdate());
  } else if (IsWord(0, "select")) {
    result = Widen(ParseSelect());
  } else {
    return Error("CREATE, ALTER, DROP, INSERT, DELETE, UPDATE or SELECT");
  }
  if (!result.ok()) return result;
  AcceptSymbol(";");
  RETURN_IF_ERROR(ExpectEnd());
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
    const bool on_delete = target == &c.cascade_delete;
    if (Accept("cascade")) {
      *target = true;
      if (on_delete) c.delete_sets_null = false;
    } else if (Accept("no")) {
      RETURN_IF_ERROR(Expect("action"));
      *target = false;
      if (on_delete) c.delete_sets_null = false;
    } else if (on_delete && Accept("set")) {
      // Access empties the referring columns (its "cascade to Null"); it has no such rule on update.
      RETURN_IF_ERROR(Expect("null"));
      *target = false;
      c.delete_sets_null = true;
    } else {
      return Error(on_delete ? "CASCADE, SET NULL or NO ACTION" : "CASCADE or NO ACTION");
    }
  }
  // NOT ENFORCED (our extension) ends the constraint; NOT NULL after a column's REFERENCES stays
  // the column's.
  if (IsWord(0, "not") && IsWord(1, "enforced")) {
    if (c.cascade_update || c.cascade_delete || c.delete_sets_null) {
      return SyntaxError(sql_, Peek().offset,
                         "NOT ENFORCED cannot go with ON UPDATE CASCADE, ON DELETE CASCADE or ON DELETE SET NULL: "
                         "Access keeps no rules on a relationship it does not enforce");
    }
    p_ += 2;
    c.enforced = false;
  }
  // ONE TO ONE and LEFT JOIN / RIGHT JOIN (our extension): how the relationship is shown and
  // joined by default; they change no check.
  for (;;) {
    if (IsWord(0, "one") && IsWord(1, "to") && IsWord(2, "one")) {
      p_ += 3;
      c.one_to_one = true;
    } else if ((IsWord(0, "left") || IsWord(0, "right")) && IsWord(1, "join")) {
      c.join = IsWord(0, "left") ? jet::JoinKind::kLeft : jet::JoinKind::kRight;
      p_ += 2;
    } else {
      break;
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
  } else if (IsWord(0, "clear") && IsWord(1, "properties")) {
    p_ += 2;
    alter.action = AlterTable::Action::kClearProperties;
  } else if (IsWord(0, "set") || IsWord(0, "alter")) {
    // SET PROPERTY (our extension): one property of the table, or of a column after ALTER COLUMN.
    if (Accept("alter")) {
      Accept("column");
      ASSIGN_OR_RETURN(alter.name, Name("a column name"));
      // COUNTER [(next, 1)] (AUTOINCREMENT alike): the column becomes an AutoNumber, and the
      // table's next number is set.
      // WITH COMPRESSION (WITH COMP) allows Unicode compression of a Text or Memo column's
      // values, WITHOUT COMPRESSION (our extension) forbids it.
      if (IsWord(0, "with") || IsWord(0, "without")) {
        alter.action = AlterTable::Action::kSetCompression;
        alter.compression = Accept("with");
        if (!alter.compression) Accept("without");
        if (!Accept("compression") && !Accept("comp")) return Error("COMPRESSION");
        return alter;
      }
      if (Accept("counter") || Accept("autoincrement")) {
        alter.action = AlterTable::Action::kSetAutoNumber;
        if (AcceptSymbol("(")) {
          const size_t seed_token = p_;
          ASSIGN_OR_RETURN(Literal seed, ParseLiteral());
          uint32_t next = 0;
          const char* end = seed.text.data() + seed.text.size();
          const auto [stop, error] = std::from_chars(seed.text.data(), end, next);
          if (seed.kind != Literal::Kind::kNumber || error != std::errc() || stop != end || next < 1 ||
              next > 2147483647u) {
            p_ = seed_token;
            return Error("the next number, a whole number from 1 to 2147483647");
          }
          alter.next_number = next;
          RETURN_IF_ERROR(ExpectSymbol(","));
          const size_t step_token = p_;
          ASSIGN_OR_RETURN(Literal step, ParseLiteral());
          if (step.kind != Literal::Kind::kNumber || step.text != "1") {
            p_ = step_token;
            return Error("1 (AutoNumbers go up by one)");
          }
          RETURN_IF_ERROR(ExpectSymbol(")"));
        }
        return alter;
      }
    }
    RETURN_IF_ERROR(Expect("set"));
    RETURN_IF_ERROR(Expect("property"));
    alter.action = AlterTable::Action::kSetProperty;
    ASSIGN_OR_RETURN(alter.property, Name("a property name"));
    RETURN_IF_ERROR(ExpectSymbol("="));
    const size_t value_token = p_;
    ASSIGN_OR_RETURN(alter.value, ParseLiteral());
    // AS <type> [DDL] (our extension): the value in any property type, with the DDL flag.
    if (Accept("as")) {
      const size_t type_token = p_;
      const std::optional<uint8_t> type = (Peek().kind == TokenKind::kWord || Peek().kind == TokenKind::kNumber)
                                              ? jet::PropertyTypeCode(Peek().text)
                                              : std::nullopt;
      if (!type)
        return Error(
            "a property type: Boolean, Byte, Integer, Long, Currency, Single, Double, DateTime, "
            "Binary, Text, Memo or GUID");
      ++p_;
      alter.property_type = type;
      alter.property_ddl = Accept("ddl");
      if (alter.value.kind == Literal::Kind::kNull) {
        p_ = type_token;
        return SyntaxError(sql_, alter.value.offset, "a property has a value: NULL cannot be stored");
      }
      return alter;
    }
    const bool whole = alter.value.kind == Literal::Kind::kNumber &&
                       alter.value.text.find_first_not_of("-0123456789") == std::string::npos;
    int32_t number = 0;
    const char* end = alter.value.text.data() + alter.value.text.size();
    const auto [stop, error] = std::from_chars(alter.value.text.data(), end, number);
    if (alter.value.kind != Literal::Kind::kString && alter.value.kind != Literal::Kind::kBoolean &&
        (!whole || error != std::errc() || stop != end)) {
      p_ = value_token;
      return Error("a string, a whole number from -2147483648 to 2147483647, TRUE or FALSE");
    }
  } else {
    return Error("ADD, DROP, RENAME, SET PROPERTY or ALTER COLUMN");
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
  // DELETE [*] FROM t, or DELETE t.* FROM t as the Access query designer writes it.
  if (!AcceptSymbol("*") && !IsWord(0, "from") && (IsSymbol(1, ".") || IsSymbol(1, "!")) && IsSymbol(2, "*")) {
    p_ += 3;
  }
  RETURN_IF_ERROR(Expect("from"));
  ASSIGN_OR_RETURN(remove.table, Name("a table name"));
  if (Accept("where")) {
    ASSIGN_OR_RETURN(remove.where, ParseExpression());
  }
  return remove;
}

Result<Update> Parser::ParseUpdate() {
  Update update;
  ASSIGN_OR_RETURN(update.table, Name("a table name"));
  if (Accept("as") || (AtName() && !IsWord(0, "set"))) {
    ASSIGN_OR_RETURN(update.alias, Name("an alias"));
  }
  RETURN_IF_ERROR(Expect("set"));
  do {
    Update::Assignment assignment;
    assignment.offset = Peek().offset;
    ASSIGN_OR_RETURN(assignment.column.name, Name("a column name"));
    if (AcceptSymbol(".") || AcceptSymbol("!")) {
      assignment.column.qualifier = std::move(assignment.column.name);
      ASSIGN_OR_RETURN(assignment.column.name, Name("a column name"));
    }
    RETURN_IF_ERROR(ExpectSymbol("="));
    ASSIGN_OR_RETURN(assignment.value, ParseExpression());
    update.assignments.push_back(std::move(assignment));
  } while (AcceptSymbol(","));
  if (Accept("where")) {
    ASSIGN_OR_RETURN(update.where, ParseExpression());
  }
  return update;
}

// ------------------------------------------------------------------------------------------
// INSERT

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
  if (IsWord(0, "select") || (IsSymbol(0, "(") && IsWord(1, "select"))) {
    insert.query = std::make_unique<jet::ViewDefinition>();
    RETURN_IF_ERROR(ParseViewBody(insert.query.get()));
    return insert;
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
// SELECT (read as a saved query describes it)

Result<Select> Parser::ParseSelect() {
  Select select;
  into_ = &select.into;
  Status parsed = ParseViewBody(&select.query);
  into_ = nullptr;
  RETURN_IF_ERROR(parsed);
  return select;
}

Result<Statement> ParseStatement(std::string_view sql) {
  ASSIGN_OR_RETURN(std::vector<Token> tokens, Tokenize(sql));
  Parser parser(sql, std::move(tokens));
  return parser.ParseAll();
}

}  // namespace tabulon::jetsql

namespace tabulon::jetsql {

Result<jet::ViewDefinition> ParseQuery(std::string_view sql) {
  ASSIGN_OR_RETURN(std::vector<Token> tokens, Tokenize(sql));
  Parser parser(sql, std::move(tokens));
  return parser.ParseQueryText();
}

Result<ExpressionPtr> ParseExpressionText(std::string_view text) {
  ASSIGN_OR_RETURN(std::vector<Token> tokens, Tokenize(text));
  Parser parser(text, std::move(tokens));
  return parser.ParseExpressionAlone();
}

Result<ExpressionPtr> ParseRuleText(std::string_view text, const std::string* column) {
  ASSIGN_OR_RETURN(std::vector<Token> tokens, Tokenize(text));
  Parser parser(text, std::move(tokens));
  parser.implicit_column_ = column;
  return parser.ParseExpressionAlone();
}

Result<jet::ViewDefinition> Parser::ParseQueryText() {
  jet::ViewDefinition query;
  RETURN_IF_ERROR(ParseViewBody(&query));
  AcceptSymbol(";");
  RETURN_IF_ERROR(ExpectEnd());
  return query;
}

Result<ExpressionPtr> Parser::ParseExpressionAlone() {
  ASSIGN_OR_RETURN(ExpressionPtr e, ParseExpression());
  RETURN_IF_ERROR(ExpectEnd());
  return e;
}

Status Parser::ExpectEnd() const {
  if (Peek().kind == TokenKind::kEnd) return Status::Ok();
  return SyntaxError(sql_, Peek().offset,
                     "unexpected '" + std::string(Peek().source.substr(0, 40)) + "' after the end of the statement");
}

}  // namespace tabulon::jetsql
