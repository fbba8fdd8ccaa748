#include "jetsql/executor.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <random>

#include "base/text.h"
#include "jet/object_properties.h"
#include "jet/values.h"
#include "jetsql/convert.h"
#include "jetsql/lexer.h"
#include "jetsql/parser.h"

namespace tabulon::jetsql {
namespace {

using jet::ColumnDefinition;
using jet::Row;
using jet::TableDefinition;
using jet::Value;

Status NotYet(const std::string& what) {
  return UnsupportedError(what + " is not supported yet: the storage engine cannot write it");
}

Status AtPosition(std::string_view sql, size_t offset, Status status) {
  return Status(status.code(), status.message() + " (at " + DescribePosition(sql, offset) + ")");
}

// The DefaultValue text of a DEFAULT clause: a constant, or one of the date functions Access
// evaluates itself. Anything else (a SQL Server function such as getdate) would make every
// later insert into the table fail in Access, so it is refused here.
Result<std::string> DefaultExpression(const std::string& text) {
  ASSIGN_OR_RETURN(std::vector<Token> tokens, Tokenize(text));
  tokens.pop_back();  // the end token
  auto is = [&](size_t i, TokenKind kind) { return i < tokens.size() && tokens[i].kind == kind; };
  const bool sign = is(0, TokenKind::kSymbol) && (tokens[0].source == "-" || tokens[0].source == "+");
  if (tokens.size() == 1 && (is(0, TokenKind::kString) || is(0, TokenKind::kNumber) || is(0, TokenKind::kDate))) {
    return text;
  }
  if (tokens.size() == 2 && sign && is(1, TokenKind::kNumber)) return text;
  if (is(0, TokenKind::kWord)) {
    const std::string word = AsciiLower(tokens[0].source);
    const bool constant = word == "true" || word == "false" || word == "null";
    const bool function = word == "now" || word == "date" || word == "time";
    const bool called = tokens.size() == 3 && tokens[1].source == "(" && tokens[2].source == ")";
    if ((constant && tokens.size() == 1) || (function && (tokens.size() == 1 || called))) {
      return function && !called ? std::string(tokens[0].source) + "()" : text;
    }
    // Access's new-GUID function, the default of Replication ID columns.
    if (word == "genguid" && called) return std::string("GenGUID()");
  }
  return InvalidArgumentError("DEFAULT " + text +
                              " is not a value Access knows (use a constant, Now(), Date(), Time() or GenGUID())");
}

// The value of a column's DefaultValue for a new row.
Result<Value> DefaultValue(const ColumnDefinition& column) {
  const std::string word = AsciiLower(column.default_value);
  if (word == "now()" || word == "date()" || word == "time()") {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const double day = static_cast<double>(seconds + local.tm_gmtoff) / 86400.0;
    const double days = std::floor(day) + 25569.0;  // 1970-01-01 is day 25569
    const double time = day - std::floor(day);
    Literal literal;
    literal.kind = Literal::Kind::kNumber;
    literal.text = jet::FormatDouble(word == "now()" ? days + time : word == "date()" ? days : time);
    return ConvertLiteral(literal, column);
  }
  if (word == "genguid()") {
    // A random (version 4) GUID, as Access gives a new row.
    static thread_local std::mt19937_64 random{std::random_device{}()};
    uint8_t bytes[16];
    for (size_t k = 0; k < 16; k += 8) {
      const uint64_t r = random();
      std::memcpy(bytes + k, &r, 8);
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text = "{";
    for (size_t k = 0; k < 16; ++k) {
      if (k == 4 || k == 6 || k == 8 || k == 10) text += '-';
      text += kHex[bytes[k] >> 4];
      text += kHex[bytes[k] & 0x0F];
    }
    text += '}';
    Literal literal;
    literal.kind = Literal::Kind::kString;
    literal.text = text;
    return ConvertLiteral(literal, column);
  }
  auto statement = ParseStatement("insert into t values (" + column.default_value + ")");
  if (!statement.ok()) {
    return InvalidArgumentError("column '" + column.name + "': DEFAULT " + column.default_value +
                                " cannot be evaluated");
  }
  return ConvertLiteral(std::get<Insert>(*statement).values.at(0), column);
}

// The tables of a FROM clause and how their columns are named.
struct Source {
  const TableDefinition* def = nullptr;
  std::string alias;  // the name the query uses for it
};

struct ColumnPlace {
  size_t table = 0;
  size_t column = 0;
};

class Scope {
 public:
  Scope(std::string_view sql, std::vector<Source> sources) : sql_(sql), sources_(std::move(sources)) {}

  const std::vector<Source>& sources() const { return sources_; }

  Result<size_t> Qualifier(std::string_view qualifier, size_t offset) const {
    for (size_t t = 0; t < sources_.size(); ++t) {
      if (EqualsIgnoreAsciiCase(sources_[t].alias, qualifier) ||
          EqualsIgnoreAsciiCase(sources_[t].def->name, qualifier)) {
        return t;
      }
    }
    return AtPosition(sql_, offset, NotFoundError("'" + std::string(qualifier) + "' is not a table of the query"));
  }

  Result<ColumnPlace> Resolve(const ColumnRef& ref, size_t offset) const {
    if (!ref.qualifier.empty()) {
      ASSIGN_OR_RETURN(size_t t, Qualifier(ref.qualifier, offset));
      const int c = ColumnIndex(*sources_[t].def, ref.name);
      if (c < 0) {
        return AtPosition(sql_, offset,
                          NotFoundError("table '" + sources_[t].def->name + "' has no column '" + ref.name + "'"));
      }
      return ColumnPlace{t, static_cast<size_t>(c)};
    }
    std::optional<ColumnPlace> found;
    for (size_t t = 0; t < sources_.size(); ++t) {
      const int c = ColumnIndex(*sources_[t].def, ref.name);
      if (c < 0) continue;
      if (found) {
        return AtPosition(sql_, offset,
                          InvalidArgumentError("column '" + ref.name + "' is in more than one table; name the table"));
      }
      found = ColumnPlace{t, static_cast<size_t>(c)};
    }
    if (!found) return AtPosition(sql_, offset, NotFoundError("no column '" + ref.name + "'"));
    return *found;
  }

 private:
  std::string_view sql_;
  std::vector<Source> sources_;
};

// A condition with its columns found.
struct Bound {
  Expression::Kind kind = Expression::Kind::kLiteral;
  Value literal;
  ColumnPlace place;
  std::string op;
  bool negated = false;
  std::unique_ptr<Bound> left, right;
};

// The executor evaluates conditions over columns and constants: comparisons, LIKE, IS NULL,
// AND, OR and NOT. Other forms of the expression grammar (arithmetic, functions, BETWEEN, IN,
// subqueries) are kept by views but not run here.
Status CheckRunnable(std::string_view sql, const Expression& e) {
  using Kind = Expression::Kind;
  auto refuse = [&](const std::string& what) {
    return AtPosition(
        sql, e.offset,
        UnsupportedError(what + " is not supported in a query that is run: its conditions compare columns "
                                "and constants (= <> < > <= >= LIKE IS NULL, with AND, OR, NOT)"));
  };
  switch (e.kind) {
    case Kind::kLiteral:
    case Kind::kCompare:
    case Kind::kAnd:
    case Kind::kOr:
    case Kind::kNot:
    case Kind::kLike:
    case Kind::kIsNull: break;
    case Kind::kColumn:
      if (e.column.name == "*") return refuse("'" + e.column.qualifier + ".*' in a condition");
      if (!e.column.prefix.empty()) return refuse("a column name of more than two parts");
      break;
    case Kind::kBinary: return refuse("the operator '" + e.op + "'");
    case Kind::kUnary: return refuse("a sign before a non-number ('" + e.op + "')");
    case Kind::kFunction: return refuse("the function " + e.function + "()");
    case Kind::kBetween: return refuse("BETWEEN");
    case Kind::kIn: return refuse("IN");
    case Kind::kExists: return refuse("EXISTS");
    case Kind::kSubquery: return refuse("a subquery");
  }
  if (e.left) RETURN_IF_ERROR(CheckRunnable(sql, *e.left));
  if (e.right) RETURN_IF_ERROR(CheckRunnable(sql, *e.right));
  return Status::Ok();
}

Result<std::unique_ptr<Bound>> Bind(const Expression& e, const Scope& scope) {
  auto b = std::make_unique<Bound>();
  b->kind = e.kind;
  b->op = e.op;
  b->negated = e.negated;
  if (e.kind == Expression::Kind::kLiteral) b->literal = LiteralValue(e.literal);
  if (e.kind == Expression::Kind::kColumn) {
    ASSIGN_OR_RETURN(b->place, scope.Resolve(e.column, e.offset));
  }
  if (e.left) {
    ASSIGN_OR_RETURN(b->left, Bind(*e.left, scope));
  }
  if (e.right) {
    ASSIGN_OR_RETURN(b->right, Bind(*e.right, scope));
  }
  return b;
}

using Tuple = std::vector<const Row*>;

// Three-valued logic: true, false or NULL (unknown).
Result<Value> Evaluate(const Bound& b, const Tuple& tuple) {
  using Kind = Expression::Kind;
  switch (b.kind) {
    case Kind::kLiteral: return b.literal;
    case Kind::kColumn: return (*tuple[b.place.table])[b.place.column];
    case Kind::kIsNull: {
      ASSIGN_OR_RETURN(Value v, Evaluate(*b.left, tuple));
      return Value(std::holds_alternative<jet::Null>(v) != b.negated);
    }
    case Kind::kCompare: {
      ASSIGN_OR_RETURN(Value l, Evaluate(*b.left, tuple));
      ASSIGN_OR_RETURN(Value r, Evaluate(*b.right, tuple));
      ASSIGN_OR_RETURN(std::optional<int> c, CompareValues(l, r));
      if (!c) return Value(jet::Null{});
      const std::string& op = b.op;
      const bool result = op == "="    ? *c == 0
                          : op == "<>" ? *c != 0
                          : op == "<"  ? *c < 0
                          : op == ">"  ? *c > 0
                          : op == "<=" ? *c <= 0
                                       : *c >= 0;
      return Value(result);
    }
    case Kind::kLike: {
      ASSIGN_OR_RETURN(Value l, Evaluate(*b.left, tuple));
      ASSIGN_OR_RETURN(Value r, Evaluate(*b.right, tuple));
      auto text = jet::FormatValue(l);
      auto pattern = jet::FormatValue(r);
      if (!text || !pattern) return Value(jet::Null{});
      if (b.op == "alike") {
        // ANSI wildcards: % and _ become Jet's * and ?, and Jet's own wildcards match themselves.
        std::string jet;
        for (char c : *pattern) {
          if (c == '%') {
            jet += '*';
          } else if (c == '_') {
            jet += '?';
          } else if (c == '*' || c == '?' || c == '#') {
            jet += std::string("[") + c + "]";
          } else {
            jet += c;
          }
        }
        return Value(MatchLike(*text, jet) != b.negated);
      }
      return Value(MatchLike(*text, *pattern) != b.negated);
    }
    case Kind::kNot:
    case Kind::kAnd:
    case Kind::kOr: break;
    default: return InternalError("a condition form the executor does not run");  // see CheckRunnable
  }
  // Logical operators and a lone operand used as a condition.
  auto truth = [&](const Bound& operand) -> Result<std::optional<bool>> {
    ASSIGN_OR_RETURN(Value v, Evaluate(operand, tuple));
    if (std::holds_alternative<jet::Null>(v)) return std::optional<bool>();
    if (const bool* flag = std::get_if<bool>(&v)) return std::optional<bool>(*flag);
    ASSIGN_OR_RETURN(std::optional<int> c, CompareValues(v, Value(0.0)));
    return std::optional<bool>(c && *c != 0);
  };
  ASSIGN_OR_RETURN(std::optional<bool> l, truth(*b.left));
  if (b.kind == Kind::kNot) return l ? Value(!*l) : Value(jet::Null{});
  if (b.kind == Kind::kAnd && l == false) return Value(false);
  if (b.kind == Kind::kOr && l == true) return Value(true);
  ASSIGN_OR_RETURN(std::optional<bool> r, truth(*b.right));
  if (b.kind == Kind::kAnd) {
    if (r == false) return Value(false);
    return l && r ? Value(true) : Value(jet::Null{});
  }
  if (r == true) return Value(true);
  return l && r ? Value(false) : Value(jet::Null{});
}

Result<bool> Matches(const Bound* where, const Tuple& tuple) {
  if (!where) return true;
  ASSIGN_OR_RETURN(Value v, Evaluate(*where, tuple));
  if (const bool* flag = std::get_if<bool>(&v)) return *flag;
  if (std::holds_alternative<jet::Null>(v)) return false;
  ASSIGN_OR_RETURN(std::optional<int> c, CompareValues(v, Value(0.0)));
  return c && *c != 0;
}

// NULL sorts first, as in Jet.
int OrderValues(const Value& a, const Value& b) {
  const bool null_a = std::holds_alternative<jet::Null>(a);
  const bool null_b = std::holds_alternative<jet::Null>(b);
  if (null_a || null_b) return null_a == null_b ? 0 : null_a ? -1 : 1;
  auto c = CompareValues(a, b);
  return c.ok() && c->has_value() ? **c : 0;
}

}  // namespace

bool MatchLike(std::string_view text_utf8, std::string_view pattern_utf8) {
  auto text16 = Utf8ToUtf16(text_utf8);
  auto pattern16 = Utf8ToUtf16(pattern_utf8);
  if (!text16.ok() || !pattern16.ok()) return false;
  auto lower = [](char16_t c) -> char16_t { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
  const std::u16string& t = *text16;
  const std::u16string& p = *pattern16;
  // Iterative matching with one backtrack point for the last '*'.
  size_t ti = 0, pi = 0, star_p = std::u16string::npos, star_t = 0;
  auto one = [&](size_t& pos, char16_t c) -> bool {  // matches c at pattern pos, advances pos
    const char16_t pc = p[pos];
    if (pc == '?') return ++pos, true;
    if (pc == '#') return ++pos, c >= '0' && c <= '9';
    if (pc == '[') {
      size_t close = p.find(']', pos + 1);
      if (close == std::u16string::npos) return lower(pc) == lower(c) && (++pos, true);
      size_t k = pos + 1;
      const bool invert = k < close && p[k] == '!';
      if (invert) ++k;
      bool in = false;
      for (; k < close; ++k) {
        if (k + 2 < close && p[k + 1] == '-') {
          in = in || (lower(c) >= lower(p[k]) && lower(c) <= lower(p[k + 2]));
          k += 2;
        } else {
          in = in || lower(c) == lower(p[k]);
        }
      }
      pos = close + 1;
      return in != invert;
    }
    ++pos;
    return lower(pc) == lower(c);
  };
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star_p = ++pi;
      star_t = ti;
      continue;
    }
    size_t next = pi;
    if (pi < p.size() && one(next, t[ti])) {
      pi = next;
      ++ti;
      continue;
    }
    if (star_p == std::u16string::npos) return false;
    pi = star_p;
    ti = ++star_t;
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

Result<const TableDefinition*> Session::Table(std::string_view name) {
  std::string key = AsciiLower(name);
  auto it = tables_.find(key);
  if (it != tables_.end()) return &it->second;
  ASSIGN_OR_RETURN(TableDefinition table, db_.GetTable(name));
  if (!table.system) {
    // DefaultValue lives in the table's properties; INSERT fills left-out columns with it.
    ASSIGN_OR_RETURN(std::vector<jet::ColumnMetadata> metadata, db_.GetColumnMetadata(table.name));
    for (const jet::ColumnMetadata& m : metadata) {
      const int c = ColumnIndex(table, m.name);
      if (c >= 0 && m.has_default) table.columns[static_cast<size_t>(c)].default_value = m.default_value;
    }
  }
  auto [inserted, _] = tables_.emplace(std::move(key), std::move(table));
  return &inserted->second;
}

Result<StatementResult> Session::Execute(std::string_view sql) {
  // Row-by-row INSERTs repeat their head: only the values need reading (see quick_insert.h).
  if (Insert* insert = quick_insert_.Parse(sql)) return Run(sql, *insert);
  ASSIGN_OR_RETURN(Statement statement, ParseStatement(sql));
  if (const Insert* insert = std::get_if<Insert>(&statement)) quick_insert_.Learn(sql, *insert);
  return std::visit([&](auto& s) { return Run(sql, s); }, statement);
}

Result<StatementResult> Session::Run(std::string_view sql, Insert& insert) {
  ASSIGN_OR_RETURN(const TableDefinition* table, Table(insert.table));
  const auto& columns = table->columns;
  Row row(columns.size(), jet::Null{});
  // Without a column list every column is written.
  std::vector<bool> given(columns.size(), insert.columns.empty());
  if (insert.columns.empty()) {
    if (insert.values.size() != columns.size()) {
      return AtPosition(
          sql, insert.values.front().offset,
          InvalidArgumentError("table '" + table->name + "' has " + std::to_string(columns.size()) + " columns but " +
                               std::to_string(insert.values.size()) + " values were given"));
    }
    for (size_t i = 0; i < columns.size(); ++i) {
      auto value = ConvertLiteral(insert.values[i], columns[i]);
      if (!value.ok()) return AtPosition(sql, insert.values[i].offset, value.status());
      row[i] = std::move(*value);
    }
  } else {
    for (size_t k = 0; k < insert.columns.size(); ++k) {
      const int c = ColumnIndex(*table, insert.columns[k]);
      if (c < 0) {
        return AtPosition(sql, insert.values[k].offset,
                          NotFoundError("table '" + table->name + "' has no column '" + insert.columns[k] + "'"));
      }
      const auto i = static_cast<size_t>(c);
      if (given[i]) {
        return InvalidArgumentError("column '" + columns[i].name + "' is named twice");
      }
      given[i] = true;
      auto value = ConvertLiteral(insert.values[k], columns[i]);
      if (!value.ok()) return AtPosition(sql, insert.values[k].offset, value.status());
      row[i] = std::move(*value);
    }
  }
  // Columns left out take their DefaultValue, as in Jet; a value written, NULL included, stays.
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].default_value.empty() || given[i]) continue;
    auto value = DefaultValue(columns[i]);
    if (!value.ok()) return value.status();
    row[i] = std::move(*value);
  }
  RETURN_IF_ERROR(db_.InsertRow(table->name, row));
  StatementResult result;
  result.rows_affected = 1;
  return result;
}

Result<StatementResult> Session::Run(std::string_view sql, CreateTable& create) {
  TableDefinition table;
  table.name = create.table;
  for (const ColumnSpec& spec : create.columns) {
    ColumnDefinition column = jet::NewColumn(spec.name, spec.type, spec.size, spec.scale);
    if (spec.auto_number) column.flags |= jet::kColumnAutoNumber;
    column.required = spec.not_null;
    if (spec.default_value) {
      auto value = DefaultExpression(*spec.default_value);
      if (!value.ok()) {
        return AtPosition(sql, spec.offset, value.status().WithContext("column '" + spec.name + "'"));
      }
      column.default_value = std::move(*value);
    }
    table.columns.push_back(std::move(column));
  }
  ForgetTables();
  RETURN_IF_ERROR(db_.CreateTable(table));
  // Keys after the table; a key that cannot be made takes the new table away again.
  for (const Constraint& constraint : create.constraints) {
    Status added = AddConstraint(create.table, constraint);
    if (!added.ok()) {
      ForgetTables();
      Status dropped = db_.DropTable(create.table);
      if (!dropped.ok()) {
        return added.WithContext("(the new table could not be removed either: " + dropped.message() + ")");
      }
      return AtPosition(sql, constraint.offset, added);
    }
  }
  return StatementResult{};
}

Status Session::AddConstraint(const std::string& table_name, const Constraint& constraint) {
  ForgetTables();
  if (constraint.kind == Constraint::Kind::kForeignKey) {
    jet::Relationship r;
    r.primary_table = constraint.referenced_table;
    r.foreign_table = table_name;
    r.name = constraint.name.empty() ? constraint.referenced_table + table_name : constraint.name;
    for (const KeyColumn& k : constraint.columns) r.foreign_columns.push_back(k.name);
    r.primary_columns = constraint.referenced_columns;
    if (r.primary_columns.empty()) {
      // REFERENCES t without columns: the columns of t's primary key.
      ASSIGN_OR_RETURN(const TableDefinition* primary, Table(constraint.referenced_table));
      for (const jet::IndexDefinition& index : primary->indexes) {
        if (index.index_type != 0x01) continue;
        for (const jet::IndexColumn& c : index.columns) {
          for (const ColumnDefinition& column : primary->columns) {
            if (column.number == c.column_number) r.primary_columns.push_back(column.name);
          }
        }
      }
      if (r.primary_columns.empty()) {
        return InvalidArgumentError("table '" + primary->name + "' has no primary key; name the referenced columns");
      }
    }
    r.cascade_update = constraint.cascade_update;
    r.cascade_delete = constraint.cascade_delete;
    r.cascade_null = constraint.delete_sets_null;
    r.enforced = constraint.enforced;
    return db_.CreateRelationship(r);
  }
  jet::IndexSpec spec;
  spec.primary = constraint.kind == Constraint::Kind::kPrimaryKey;
  spec.unique = true;
  spec.required = spec.primary;
  for (const KeyColumn& k : constraint.columns) spec.columns.push_back({k.name, k.ascending});
  spec.name = constraint.name;
  if (spec.name.empty()) {
    if (spec.primary) {
      spec.name = "PrimaryKey";
    } else {
      for (const KeyColumn& k : constraint.columns) spec.name += (spec.name.empty() ? "" : "_") + k.name;
    }
  }
  return db_.CreateIndex(table_name, spec);
}

Result<StatementResult> Session::Run(std::string_view, Drop& drop) {
  ForgetTables();
  switch (drop.kind) {
    case Drop::Kind::kTable: RETURN_IF_ERROR(db_.DropTable(drop.name)); break;
    case Drop::Kind::kView: {
      ASSIGN_OR_RETURN(std::vector<jet::CatalogEntry> objects, db_.ListObjects());
      const bool exists = std::any_of(objects.begin(), objects.end(), [&](const auto& o) {
        return o.type == 5 && EqualsIgnoreAsciiCase(o.name, drop.name);
      });
      if (!exists) return NotFoundError("no view named '" + drop.name + "'");
      RETURN_IF_ERROR(db_.DropQuery(drop.name));
      break;
    }
    case Drop::Kind::kIndex: RETURN_IF_ERROR(db_.DropIndex(drop.table, drop.name)); break;
  }
  return StatementResult{};
}

// Rows of other tables that refer to the deleted ones follow their relationships: cascaded,
// set to Null, or the whole statement is refused.
Result<StatementResult> Session::Run(std::string_view, Delete& remove) {
  ASSIGN_OR_RETURN(const TableDefinition* table, Table(remove.table));
  StatementResult done;
  ASSIGN_OR_RETURN(done.rows_affected, db_.DeleteRows(table->name, [](const Row&) { return true; }));
  return done;
}

Result<StatementResult> Session::Run(std::string_view sql, AlterTable& alter) {
  ASSIGN_OR_RETURN(const TableDefinition* table, Table(alter.table));
  const std::string name = table->name;
  switch (alter.action) {
    case AlterTable::Action::kAddConstraint: {
      Status added = AddConstraint(name, alter.constraint);
      if (!added.ok()) return AtPosition(sql, alter.constraint.offset, added);
      return StatementResult{};
    }
    case AlterTable::Action::kDropConstraint: {
      ForgetTables();
      // A foreign key of the table is a relationship; any other constraint is an index.
      ASSIGN_OR_RETURN(std::vector<jet::Relationship> relationships, db_.ListRelationships());
      const bool relationship = std::any_of(relationships.begin(), relationships.end(), [&](const auto& r) {
        return EqualsIgnoreAsciiCase(r.name, alter.name) && EqualsIgnoreAsciiCase(r.foreign_table, name);
      });
      RETURN_IF_ERROR(relationship ? db_.DropRelationship(alter.name) : db_.DropIndex(name, alter.name));
      return StatementResult{};
    }
    case AlterTable::Action::kRename:
      // Keeps everything the table has (keys, indexes, AutoNumber, properties, relationships).
      ForgetTables();
      RETURN_IF_ERROR(db_.RenameTable(name, alter.name));
      return StatementResult{};
    case AlterTable::Action::kSetProperty: RETURN_IF_ERROR(SetProperty(*table, alter)); return StatementResult{};
    case AlterTable::Action::kAddColumn: return NotYet("ALTER TABLE ... ADD COLUMN");
    case AlterTable::Action::kDropColumn: return NotYet("ALTER TABLE ... DROP COLUMN");
  }
  return InternalError("unknown ALTER TABLE");
}

// ALTER TABLE ... SET PROPERTY: adds or replaces one property of the table (its own map) or of
// a column, keeping every other property the table has.
Status Session::SetProperty(const TableDefinition& table, const AlterTable& alter) {
  const std::string table_name = table.name;
  std::string column_name;
  if (!alter.name.empty()) {
    const int c = ColumnIndex(table, alter.name);
    if (c < 0) return NotFoundError("table '" + table_name + "' has no column '" + alter.name + "'");
    column_name = table.columns[static_cast<size_t>(c)].name;
    // The engine keeps these from the column's definition (and checks rows against them).
    for (const char* kept : {"Required", "DefaultValue", "AllowZeroLength"}) {
      if (EqualsIgnoreAsciiCase(alter.property, kept)) {
        return InvalidArgumentError("property '" + std::string(kept) + "' of column '" + column_name +
                                    "' comes from the column's definition and cannot be set by SET PROPERTY");
      }
    }
  }
  jet::format::Property property;
  switch (alter.value.kind) {
    case Literal::Kind::kString: {
      // Text as Access keeps a Description; longer text as Memo.
      ASSIGN_OR_RETURN(std::u16string text, Utf8ToUtf16(alter.value.text));
      property = jet::TextProperty(alter.property, alter.value.text, false);
      if (text.size() <= 255) property.type = static_cast<uint8_t>(jet::ColumnType::kText);
      break;
    }
    case Literal::Kind::kBoolean: property = jet::BooleanProperty(alter.property, alter.value.boolean, false); break;
    default: {  // a whole number the parser found to fit
      int32_t number = 0;
      std::from_chars(alter.value.text.data(), alter.value.text.data() + alter.value.text.size(), number);
      property = jet::LongProperty(alter.property, number, false);
      break;
    }
  }
  ASSIGN_OR_RETURN(jet::ObjectProperties maps, db_.ReadProperties(table_name));
  auto map = std::find_if(maps.begin(), maps.end(), [&](const jet::format::PropertyMap& m) {
    return column_name.empty() ? !m.column : m.column && EqualsIgnoreAsciiCase(m.name, column_name);
  });
  if (map == maps.end()) {
    jet::format::PropertyMap added;
    added.name = column_name;
    added.column = !column_name.empty();
    map = maps.insert(maps.end(), std::move(added));
  }
  auto old = std::find_if(map->properties.begin(), map->properties.end(), [&](const jet::format::Property& p) {
    return EqualsIgnoreAsciiCase(p.name, alter.property);
  });
  if (old != map->properties.end()) {
    property.name = old->name;  // the name keeps its first spelling
    *old = std::move(property);
  } else {
    map->properties.push_back(std::move(property));
  }
  ForgetTables();
  return db_.WriteProperties(table_name, maps);
}

Result<StatementResult> Session::Run(std::string_view, CreateIndex& index) {
  ASSIGN_OR_RETURN(const TableDefinition* table, Table(index.table));
  jet::IndexSpec spec;
  spec.name = index.name;
  spec.primary = index.primary;
  spec.unique = index.unique || index.primary;
  spec.required = index.disallow_null || index.primary;
  spec.ignore_nulls = index.ignore_null;
  for (const KeyColumn& k : index.columns) spec.columns.push_back({k.name, k.ascending});
  const std::string name = table->name;
  ForgetTables();
  RETURN_IF_ERROR(db_.CreateIndex(name, spec));
  return StatementResult{};
}

Result<StatementResult> Session::Run(std::string_view sql, CreateView& view) {
  // A query the executor can run over tables is run once, so a wrong column is refused for
  // what is wrong with it; the engine refuses names that are neither tables nor views.
  if (view.select && (!view.select->where || CheckRunnable(sql, *view.select->where).ok())) {
    ASSIGN_OR_RETURN(std::vector<std::string> tables, db_.ListTables());
    const bool over_tables =
        std::all_of(view.definition.tables.begin(), view.definition.tables.end(), [&](const auto& t) {
          return std::any_of(tables.begin(), tables.end(),
                             [&](const std::string& n) { return EqualsIgnoreAsciiCase(n, t.name); });
        });
    if (over_tables) RETURN_IF_ERROR(Query(sql, *view.select).status());
  }
  RETURN_IF_ERROR(db_.CreateView(view.definition));
  return StatementResult{};
}

Result<StatementResult> Session::Run(std::string_view sql, Select& select) {
  ASSIGN_OR_RETURN(StatementResult result, Query(sql, select));
  if (select.into.empty()) return result;
  // SELECT ... INTO: a new table of the result's columns (AutoNumber becomes Long, nothing is
  // required), filled with the rows; on failure the new table is removed again.
  TableDefinition table;
  table.name = select.into;
  for (const ColumnDefinition& c : result.columns) {
    ColumnDefinition column = jet::NewColumn(c.name, c.type);
    column.length = c.length;
    column.precision = c.precision;
    column.scale = c.scale;
    column.extra_flags = c.extra_flags;
    table.columns.push_back(std::move(column));
  }
  ForgetTables();
  RETURN_IF_ERROR(db_.CreateTable(table));
  Status filled = db_.InsertRows(table.name, result.rows);
  if (!filled.ok()) {
    Status dropped = db_.DropTable(table.name);
    if (!dropped.ok())
      return filled.WithContext("(the new table could not be removed either: " + dropped.message() + ")");
    return filled;
  }
  StatementResult done;
  done.rows_affected = result.rows.size();
  return done;
}

Result<StatementResult> Session::Query(std::string_view sql, const Select& select) {
  std::vector<Source> sources;
  for (const TableRef& ref : select.from) {
    auto table = Table(ref.name);
    if (!table.ok()) return AtPosition(sql, ref.offset, table.status());
    sources.push_back({*table, ref.alias.empty() ? ref.name : ref.alias});
  }
  Scope scope(sql, std::move(sources));
  const auto& from = scope.sources();

  // The output columns.
  StatementResult result;
  result.has_rows = true;
  std::vector<ColumnPlace> output;
  bool counting = false;
  std::optional<ColumnPlace> counted;  // COUNT(column): counts non-null values
  for (const SelectItem& item : select.items) {
    switch (item.kind) {
      case SelectItem::Kind::kAllColumns: {
        size_t first = 0, last = from.size();
        if (!item.qualifier.empty()) {
          ASSIGN_OR_RETURN(first, scope.Qualifier(item.qualifier, item.offset));
          last = first + 1;
        }
        for (size_t t = first; t < last; ++t) {
          for (size_t c = 0; c < from[t].def->columns.size(); ++c) output.push_back({t, c});
        }
        break;
      }
      case SelectItem::Kind::kColumn: {
        ASSIGN_OR_RETURN(ColumnPlace place, scope.Resolve({item.qualifier, item.name, {}}, item.offset));
        output.push_back(place);
        break;
      }
      case SelectItem::Kind::kCount:
        if (counting || select.items.size() != 1) {
          return AtPosition(sql, item.offset, InvalidArgumentError("COUNT cannot be combined with other columns"));
        }
        counting = true;
        if (!item.name.empty()) {
          ASSIGN_OR_RETURN(counted, scope.Resolve({item.qualifier, item.name, {}}, item.offset));
        }
        break;
    }
  }
  for (size_t k = 0; k < output.size(); ++k) {
    ColumnDefinition column = from[output[k].table].def->columns[output[k].column];
    const SelectItem* item =
        k < select.items.size() && select.items[k].kind == SelectItem::Kind::kColumn ? &select.items[k] : nullptr;
    if (item && !item->alias.empty()) column.name = item->alias;
    result.columns.push_back(std::move(column));
  }

  // Sort keys: the output column named by position or name, else a hidden extra column.
  struct SortKey {
    size_t index;  // in the row with hidden columns appended
    bool ascending;
  };
  std::vector<SortKey> keys;
  std::vector<ColumnPlace> hidden;
  if (!counting) {
    for (const OrderItem& order : select.order_by) {
      if (order.position > 0) {
        if (order.position > output.size()) {
          return AtPosition(sql, order.offset,
                            InvalidArgumentError("ORDER BY " + std::to_string(order.position) + ": the query has " +
                                                 std::to_string(output.size()) + " columns"));
        }
        keys.push_back({order.position - 1, order.ascending});
        continue;
      }
      std::optional<size_t> index;
      if (order.column.qualifier.empty()) {
        for (size_t k = 0; k < result.columns.size() && !index; ++k) {
          if (EqualsIgnoreAsciiCase(result.columns[k].name, order.column.name)) index = k;
        }
      }
      if (!index) {
        ASSIGN_OR_RETURN(ColumnPlace place, scope.Resolve(order.column, order.offset));
        for (size_t k = 0; k < output.size() && !index; ++k) {
          if (output[k].table == place.table && output[k].column == place.column) index = k;
        }
        if (!index) {
          index = output.size() + hidden.size();
          hidden.push_back(place);
        }
      }
      keys.push_back({*index, order.ascending});
    }
  }

  if (select.where) RETURN_IF_ERROR(CheckRunnable(sql, *select.where));
  ASSIGN_OR_RETURN(std::unique_ptr<Bound> where, select.where
                                                     ? Bind(*select.where, scope)
                                                     : Result<std::unique_ptr<Bound>>(std::unique_ptr<Bound>()));
  // Rows of every table but the first are read once; the first is scanned.
  std::vector<std::vector<Row>> loaded(from.size());
  for (size_t t = 1; t < from.size(); ++t) {
    ASSIGN_OR_RETURN(loaded[t], db_.ReadAllRows(*from[t].def));
  }
  const bool stop_early = select.top && keys.empty() && !counting;
  uint64_t count = 0;
  Tuple tuple(from.size(), nullptr);
  // Visits every combination of rows of tables t.. for a fixed prefix of the tuple.
  std::function<Status(size_t)> combine = [&](size_t t) -> Status {
    if (t == from.size()) {
      ASSIGN_OR_RETURN(bool match, Matches(where.get(), tuple));
      if (!match) return Status::Ok();
      if (counting) {
        if (!counted || !std::holds_alternative<jet::Null>((*tuple[counted->table])[counted->column])) {
          ++count;
        }
        return Status::Ok();
      }
      Row out;
      out.reserve(output.size() + hidden.size());
      for (const ColumnPlace& p : output) out.push_back((*tuple[p.table])[p.column]);
      for (const ColumnPlace& p : hidden) out.push_back((*tuple[p.table])[p.column]);
      result.rows.push_back(std::move(out));
      if (stop_early && result.rows.size() >= *select.top) {
        return Status(ErrorCode::kCancelled, "enough rows");
      }
      return Status::Ok();
    }
    for (const Row& row : loaded[t]) {
      tuple[t] = &row;
      RETURN_IF_ERROR(combine(t + 1));
    }
    return Status::Ok();
  };
  if (!from.empty()) {
    Status scanned = db_.ScanRows(*from[0].def, [&](jet::RowPointer, const Row& row) {
      tuple[0] = &row;
      return combine(1);
    });
    if (!scanned.ok() && scanned.code() != ErrorCode::kCancelled) return scanned;
  }

  if (counting) {
    ColumnDefinition column =
        jet::NewColumn(select.items[0].alias.empty() ? "Expr1000" : select.items[0].alias, jet::ColumnType::kLong);
    result.columns = {column};
    result.rows = {Row{Value(static_cast<int32_t>(std::min<uint64_t>(count, INT32_MAX)))}};
    return result;
  }
  if (!keys.empty()) {
    std::stable_sort(result.rows.begin(), result.rows.end(), [&](const Row& a, const Row& b) {
      for (const SortKey& key : keys) {
        const int c = OrderValues(a[key.index], b[key.index]);
        if (c != 0) return key.ascending ? c < 0 : c > 0;
      }
      return false;
    });
  }
  if (select.top && result.rows.size() > *select.top) result.rows.resize(*select.top);
  if (!hidden.empty()) {
    for (Row& row : result.rows) row.resize(output.size());
  }
  return result;
}

}  // namespace tabulon::jetsql
