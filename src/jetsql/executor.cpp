#include "jetsql/executor.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <random>

#include "base/text.h"
#include "jet/format/properties.h"
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

// A value a query gave, as column `column` holds it (INSERT INTO ... SELECT), converted as a
// literal of the same value would be.
Result<Value> ConvertValue(const Value& value, const ColumnDefinition& column) {
  if (std::holds_alternative<jet::Null>(value)) return value;
  Literal literal;
  if (const auto* text = std::get_if<std::string>(&value)) {
    literal.kind = Literal::Kind::kString;
    literal.text = *text;
  } else if (const auto* flag = std::get_if<bool>(&value)) {
    literal.kind = Literal::Kind::kBoolean;
    literal.boolean = *flag;
  } else if (const auto* bytes = std::get_if<jet::Bytes>(&value)) {
    literal.kind = Literal::Kind::kBinary;
    literal.text = bytes->data;
  } else if (const auto* guid = std::get_if<jet::Guid>(&value)) {
    if (column.type == jet::ColumnType::kGuid) return value;
    literal.kind = Literal::Kind::kString;
    literal.text = jet::FormatGuid(*guid);
  } else if (std::holds_alternative<jet::DateTime>(value)) {
    if (column.type == jet::ColumnType::kDateTime) return value;
    literal.kind = Literal::Kind::kDate;
    literal.text = jet::FormatValue(value).value_or("");
  } else {
    literal.kind = Literal::Kind::kNumber;
    literal.text = jet::FormatValue(value).value_or("");
  }
  return ConvertLiteral(literal, column);
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
  if (const Insert* insert = std::get_if<Insert>(&statement); insert && !insert->query) {
    quick_insert_.Learn(sql, *insert);
  }
  return std::visit([&](auto& s) { return Run(sql, s); }, statement);
}

Result<StatementResult> Session::Run(std::string_view sql, Insert& insert) {
  ASSIGN_OR_RETURN(const TableDefinition* table, Table(insert.table));
  if (insert.query) return InsertQuery(*table, insert);
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
  RETURN_IF_ERROR(InsertRow(*table, row));
  StatementResult result;
  result.rows_affected = 1;
  return result;
}

Status Session::InsertRow(const TableDefinition& table, const Row& row) {
  RETURN_IF_ERROR(CheckRules(table, row));
  return db_.InsertRow(table.name, row);
}

Status Session::InsertRow(const TableDefinition& table, const Row& row, const std::string& encoded) {
  RETURN_IF_ERROR(CheckRules(table, row));
  return db_.InsertRow(table.name, row, encoded);
}

// INSERT INTO t [(columns)] SELECT ...: with a column list the query's columns fill them in
// order; without one each column of the query goes to the table's column of its name, as in an
// Access append query. All rows go in as one insert: a refused row leaves none behind.
Result<StatementResult> Session::InsertQuery(const TableDefinition& table, const Insert& insert) {
  const std::string name = table.name;
  const std::vector<ColumnDefinition> columns = table.columns;
  ASSIGN_OR_RETURN(StatementResult answer, engine_.Run(*insert.query));
  std::vector<size_t> targets;
  for (size_t k = 0; k < answer.columns.size(); ++k) {
    const std::string& wanted =
        insert.columns.empty() ? answer.columns[k].name : insert.columns[k < insert.columns.size() ? k : 0];
    const int c = ColumnIndex(table, wanted);
    if (c < 0) return NotFoundError("table '" + name + "' has no column '" + wanted + "'");
    if (std::find(targets.begin(), targets.end(), static_cast<size_t>(c)) != targets.end()) {
      return InvalidArgumentError("column '" + columns[static_cast<size_t>(c)].name + "' is named twice");
    }
    targets.push_back(static_cast<size_t>(c));
  }
  if (!insert.columns.empty() && insert.columns.size() != answer.columns.size()) {
    return InvalidArgumentError(std::to_string(insert.columns.size()) + " columns but the query gives " +
                                std::to_string(answer.columns.size()));
  }
  std::vector<Row> rows;
  rows.reserve(answer.rows.size());
  for (size_t r = 0; r < answer.rows.size(); ++r) {
    Row row(columns.size(), jet::Null{});
    std::vector<bool> given(columns.size(), false);
    for (size_t k = 0; k < targets.size(); ++k) {
      auto value = ConvertValue(answer.rows[r][k], columns[targets[k]]);
      if (!value.ok()) return value.status().WithContext("row " + std::to_string(r + 1) + " of the query");
      row[targets[k]] = std::move(*value);
      given[targets[k]] = true;
    }
    for (size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].default_value.empty() || given[i]) continue;
      ASSIGN_OR_RETURN(row[i], DefaultValue(columns[i]));
    }
    RETURN_IF_ERROR(CheckRules(table, row).WithContext("row " + std::to_string(r + 1) + " of the query"));
    rows.push_back(std::move(row));
  }
  RETURN_IF_ERROR(db_.InsertRows(name, rows));
  StatementResult result;
  result.rows_affected = rows.size();
  return result;
}

// The validation rules of a table and its columns (ValidationRule properties), compiled once.
Result<const std::vector<Session::Rule>*> Session::Rules(const TableDefinition& table) {
  if (last_rules_ != nullptr && last_rules_table_ == table.name) return last_rules_;
  const std::string key = AsciiLower(table.name);
  auto found = rules_.find(key);
  if (found != rules_.end()) {
    last_rules_table_ = table.name;
    last_rules_ = &found->second;
    return last_rules_;
  }
  std::vector<Rule> rules;
  if (!table.system) {
    ASSIGN_OR_RETURN(jet::ObjectProperties maps, db_.ReadProperties(table.name));
    for (const jet::format::PropertyMap& map : maps) {
      const jet::format::Property* rule = jet::FindProperty(map, "ValidationRule");
      if (!rule) continue;
      const std::optional<std::string> text = jet::FormatValue(jet::PropertyValue(*rule));
      if (!text || text->empty()) continue;
      Rule r;
      r.rule = *text;
      if (const jet::format::Property* message = jet::FindProperty(map, "ValidationText")) {
        r.message = jet::FormatValue(jet::PropertyValue(*message)).value_or("");
      }
      if (map.column) {
        const int c = ColumnIndex(table, map.name);
        if (c < 0) continue;
        r.column = table.columns[static_cast<size_t>(c)].name;
      }
      auto parsed = ParseRuleText(r.rule, r.column.empty() ? nullptr : &r.column);
      if (!parsed.ok()) return parsed.status().WithContext("the validation rule of " + Where(table, r));
      r.expression = std::move(parsed).value();
      ASSIGN_OR_RETURN(r.condition, engine_.CompileCondition(table, *r.expression, r.rule, false));
      rules.push_back(std::move(r));
    }
  }
  last_rules_table_ = table.name;
  last_rules_ = &rules_.emplace(key, std::move(rules)).first->second;
  return last_rules_;
}

std::string Session::Where(const TableDefinition& table, const Rule& rule) {
  return rule.column.empty() ? "table '" + table.name + "'" : "column '" + table.name + "." + rule.column + "'";
}

// A row is refused when a rule is false for it; a rule that is Null (a Null compared) lets the
// row in, as in Access.
Status Session::CheckRules(const TableDefinition& table, const Row& row) {
  ASSIGN_OR_RETURN(const std::vector<Rule>* rules, Rules(table));
  for (const Rule& rule : *rules) {
    ASSIGN_OR_RETURN(std::optional<bool> truth, rule.condition->Test(row));
    if (truth && !*truth) {
      std::string message = "the row breaks the validation rule of " + Where(table, rule) + " (" + rule.rule + ")";
      if (!rule.message.empty()) message += ": " + rule.message;
      return InvalidArgumentError(message);
    }
  }
  return Status::Ok();
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
    r.one_to_one = constraint.one_to_one;
    r.join = constraint.join;
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
Result<StatementResult> Session::Run(std::string_view sql, Delete& remove) {
  ASSIGN_OR_RETURN(const TableDefinition* table, Table(remove.table));
  const std::string name = table->name;
  StatementResult done;
  if (!remove.where) {
    ASSIGN_OR_RETURN(done.rows_affected, db_.DeleteRows(name, [](const Row&) { return true; }));
    return done;
  }
  ASSIGN_OR_RETURN(std::unique_ptr<RowCondition> condition, engine_.CompileCondition(*table, *remove.where, sql, true));
  // Every row is tested before any is deleted, so a condition that fails on some row deletes
  // nothing; the deletion then tests each row again (the same answers).
  RETURN_IF_ERROR(
      db_.ScanRows(*table, [&](jet::RowPointer, const Row& row) -> Status { return condition->Test(row).status(); }));
  ASSIGN_OR_RETURN(done.rows_affected, db_.DeleteRows(name, [&](const Row& row) {
    auto truth = condition->Test(row);
    return truth.ok() && truth->value_or(false);
  }));
  return done;
}

// UPDATE: every row is tested and given its new values (computed from the row as it was,
// converted to the columns' types, validation rules checked) before any is written; the
// engine then changes them all, and the rows their relationships cascade to, at once.
Result<StatementResult> Session::Run(std::string_view sql, Update& update) {
  ASSIGN_OR_RETURN(const TableDefinition* found, Table(update.table));
  const TableDefinition table = *found;
  // The statement's names qualify columns by the alias when there is one.
  TableDefinition scope = table;
  if (!update.alias.empty()) scope.name = update.alias;
  auto text_of = [&](const Expression& e) { return std::string(sql.substr(e.span.begin, e.span.end - e.span.begin)); };
  std::vector<size_t> targets;
  std::vector<std::unique_ptr<RowExpression>> values;
  for (const Update::Assignment& a : update.assignments) {
    if (!a.column.qualifier.empty() && !EqualsIgnoreAsciiCase(a.column.qualifier, scope.name)) {
      return AtPosition(
          sql, a.offset,
          NotFoundError("'" + a.column.qualifier + "' is not the table being updated ('" + scope.name + "')"));
    }
    const int c = ColumnIndex(table, a.column.name);
    if (c < 0) {
      return AtPosition(sql, a.offset,
                        NotFoundError("table '" + table.name + "' has no column '" + a.column.name + "'"));
    }
    const auto i = static_cast<size_t>(c);
    const std::string& name = table.columns[i].name;
    if (std::find(targets.begin(), targets.end(), i) != targets.end()) {
      return AtPosition(sql, a.offset, InvalidArgumentError("column '" + name + "' is set twice"));
    }
    if (table.columns[i].auto_number()) {
      return AtPosition(sql, a.offset, InvalidArgumentError("cannot update AutoNumber column '" + name + "'"));
    }
    auto compiled = engine_.CompileExpression(scope, *a.value, sql, "SET");
    if (!compiled.ok()) return compiled.status().WithContext("(in SET " + name + " = " + text_of(*a.value) + ")");
    targets.push_back(i);
    values.push_back(std::move(compiled).value());
  }
  std::unique_ptr<RowCondition> condition;
  if (update.where) {
    ASSIGN_OR_RETURN(condition, engine_.CompileCondition(scope, *update.where, sql, true));
  }
  RETURN_IF_ERROR(Rules(table).status());
  std::map<jet::RowPointer, Row> changes;
  uint64_t number = 0;
  Status scanned = db_.ScanRows(table, [&](jet::RowPointer where, const Row& row) -> Status {
    ++number;
    const std::string context = "row " + std::to_string(number) + " of '" + table.name + "'";
    if (condition) {
      auto truth = condition->Test(row);
      if (!truth.ok()) return truth.status().WithContext(context);
      if (!truth->value_or(false)) return Status::Ok();
    }
    Row updated = row;
    for (size_t k = 0; k < targets.size(); ++k) {
      const ColumnDefinition& column = table.columns[targets[k]];
      auto value = values[k]->Evaluate(row);
      if (value.ok()) value = ConvertValue(*value, column);
      if (!value.ok()) return value.status().WithContext("column '" + column.name + "' of " + context);
      updated[targets[k]] = std::move(*value);
    }
    RETURN_IF_ERROR(CheckRules(table, updated).WithContext(context));
    changes.emplace(where, std::move(updated));
    return Status::Ok();
  });
  RETURN_IF_ERROR(scanned);
  StatementResult done;
  ASSIGN_OR_RETURN(done.rows_affected,
                   db_.UpdateRows(table.name, [&](jet::RowPointer where, const Row&, Row& updated) -> Result<bool> {
                     auto it = changes.find(where);
                     if (it == changes.end()) return false;
                     updated = std::move(it->second);
                     return true;
                   }));
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
    case AlterTable::Action::kClearProperties:
      ForgetTables();
      RETURN_IF_ERROR(db_.WriteProperties(name, {}));
      return StatementResult{};
    case AlterTable::Action::kSetAutoNumber:
      ForgetTables();
      RETURN_IF_ERROR(db_.SetAutoNumber(name, alter.name, alter.next_number));
      return StatementResult{};
    case AlterTable::Action::kSetCompression:
      ForgetTables();
      RETURN_IF_ERROR(db_.SetUnicodeCompression(name, alter.name, alter.compression));
      return StatementResult{};
    case AlterTable::Action::kAddColumn: return NotYet("ALTER TABLE ... ADD COLUMN");
    case AlterTable::Action::kDropColumn: return NotYet("ALTER TABLE ... DROP COLUMN");
  }
  return InternalError("unknown ALTER TABLE");
}

namespace {

void PutLittleEndian(std::string& out, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A whole number within [low, high], or an error naming the type.
Result<int64_t> WholeNumber(const Literal& value, int64_t low, int64_t high, const std::string& type) {
  int64_t number = 0;
  const char* end = value.text.data() + value.text.size();
  const auto [stop, error] = std::from_chars(value.text.data(), end, number);
  if (value.kind == Literal::Kind::kBoolean) return value.boolean ? -1 : 0;
  if (value.kind != Literal::Kind::kNumber || error != std::errc() || stop != end || number < low || number > high) {
    return InvalidArgumentError("a " + type + " property takes a whole number from " + std::to_string(low) + " to " +
                                std::to_string(high));
  }
  return number;
}

// Currency: the number × 10,000, exact (at most four decimals).
Result<int64_t> CurrencyUnits(const std::string& text) {
  const char* p = text.c_str();
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  uint64_t units = 0;
  int decimals = -1;
  bool digits = false;
  const auto add = [&](uint64_t digit) {
    if (units > (static_cast<uint64_t>(INT64_MAX) - digit) / 10) return false;
    units = units * 10 + digit;
    return true;
  };
  for (; *p != '\0'; ++p) {
    if (*p == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    if (*p < '0' || *p > '9' || decimals >= 4) {
      return InvalidArgumentError("a Currency property takes a number with at most four decimals");
    }
    if (!add(static_cast<uint64_t>(*p - '0'))) return InvalidArgumentError("the Currency value is too large");
    digits = true;
    if (decimals >= 0) ++decimals;
  }
  if (!digits) return InvalidArgumentError("a Currency property takes a number");
  for (int d = std::max(decimals, 0); d < 4; ++d) {
    if (!add(0)) return InvalidArgumentError("the Currency value is too large");
  }
  return negative ? -static_cast<int64_t>(units) : static_cast<int64_t>(units);
}

// A GUID written {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}, as stored (the first three groups
// little-endian).
Result<std::string> GuidBytes(const std::string& text) {
  static constexpr size_t kGroups[] = {8, 4, 4, 4, 12};
  std::string hex;
  size_t at = text.size() == 38 && text.front() == '{' && text.back() == '}' ? 1 : 0;
  const size_t last = at == 1 ? text.size() - 1 : text.size();
  for (size_t g = 0; g < 5; ++g) {
    if (g > 0 && (at >= last || text[at++] != '-')) break;
    for (size_t i = 0; i < kGroups[g] && at < last && std::isxdigit(static_cast<unsigned char>(text[at])); ++i)
      hex += text[at++];
  }
  if (hex.size() != 32 || at != last)
    return InvalidArgumentError("a GUID property takes '{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}'");
  std::string bytes;
  for (size_t i = 0; i < 32; i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  std::reverse(bytes.begin(), bytes.begin() + 4);
  std::reverse(bytes.begin() + 4, bytes.begin() + 6);
  std::reverse(bytes.begin() + 6, bytes.begin() + 8);
  return bytes;
}

}  // namespace

// The stored bytes of a property of type `type` given by `value`; a 0x... value is taken as the
// bytes themselves, whatever the type.
Result<std::string> Session::PropertyData(uint8_t type, const Literal& value) {
  if (value.kind == Literal::Kind::kBinary) return value.text;
  const std::string word = jet::PropertyTypeWord(type);
  std::string data;
  switch (static_cast<jet::ColumnType>(type)) {
    case jet::ColumnType::kBoolean: {
      ASSIGN_OR_RETURN(int64_t n, WholeNumber(value, -1, 1, word));
      data.push_back(n != 0 ? '\1' : '\0');
      return data;
    }
    case jet::ColumnType::kByte: {
      ASSIGN_OR_RETURN(int64_t n, WholeNumber(value, 0, 255, word));
      PutLittleEndian(data, static_cast<uint64_t>(n), 1);
      return data;
    }
    case jet::ColumnType::kInteger: {
      ASSIGN_OR_RETURN(int64_t n, WholeNumber(value, INT16_MIN, INT16_MAX, word));
      PutLittleEndian(data, static_cast<uint64_t>(n), 2);
      return data;
    }
    case jet::ColumnType::kLong: {
      ASSIGN_OR_RETURN(int64_t n, WholeNumber(value, INT32_MIN, INT32_MAX, word));
      PutLittleEndian(data, static_cast<uint64_t>(n), 4);
      return data;
    }
    case jet::ColumnType::kCurrency: {
      if (value.kind != Literal::Kind::kNumber) return InvalidArgumentError("a Currency property takes a number");
      ASSIGN_OR_RETURN(int64_t units, CurrencyUnits(value.text));
      PutLittleEndian(data, static_cast<uint64_t>(units), 8);
      return data;
    }
    case jet::ColumnType::kSingle:
    case jet::ColumnType::kDouble:
    case jet::ColumnType::kDateTime: {
      if (value.kind != Literal::Kind::kNumber) return InvalidArgumentError("a " + word + " property takes a number");
      const double number = std::strtod(value.text.c_str(), nullptr);
      if (static_cast<jet::ColumnType>(type) == jet::ColumnType::kSingle) {
        const float single = static_cast<float>(number);
        uint32_t bits = 0;
        std::memcpy(&bits, &single, 4);
        PutLittleEndian(data, bits, 4);
      } else {
        uint64_t bits = 0;
        std::memcpy(&bits, &number, 8);
        PutLittleEndian(data, bits, 8);
      }
      return data;
    }
    case jet::ColumnType::kText:
    case jet::ColumnType::kMemo: {
      if (value.kind != Literal::Kind::kString) return InvalidArgumentError("a " + word + " property takes a string");
      ASSIGN_OR_RETURN(std::u16string text, Utf8ToUtf16(value.text));
      AppendUtf16Le(text, data);
      return data;
    }
    case jet::ColumnType::kGuid:
      if (value.kind != Literal::Kind::kString) return InvalidArgumentError("a GUID property takes a string");
      return GuidBytes(value.text);
    default: return InvalidArgumentError("a " + word + " property takes its bytes as 0x...");
  }
}

Status Session::CheckNoNull(const TableDefinition& table, const std::string& column) {
  const int at = ColumnIndex(table, column);
  bool has_null = false;
  RETURN_IF_ERROR(db_.ScanRows(table, [&](jet::RowPointer, const Row& row) {
    if (at >= 0 && static_cast<size_t>(at) < row.size() &&
        std::holds_alternative<jet::Null>(row[static_cast<size_t>(at)]))
      has_null = true;
    return Status::Ok();
  }));
  if (has_null) return InvalidArgumentError("column '" + column + "' holds Null values: it cannot be Required");
  return Status::Ok();
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
    // The engine keeps these from the column's definition (and checks rows against them); the
    // typed form sets them as stored, Required only when no row is Null.
    for (const char* kept : {"Required", "DefaultValue", "AllowZeroLength"}) {
      if (EqualsIgnoreAsciiCase(alter.property, kept) && !alter.property_type) {
        return InvalidArgumentError("property '" + std::string(kept) + "' of column '" + column_name +
                                    "' comes from the column's definition and cannot be set by SET PROPERTY");
      }
    }
  }
  jet::format::Property property;
  if (alter.property_type) {
    ASSIGN_OR_RETURN(property.data, PropertyData(*alter.property_type, alter.value));
    property.name = alter.property;
    property.type = *alter.property_type;
    property.ddl = alter.property_ddl;
    if (!column_name.empty() && EqualsIgnoreAsciiCase(alter.property, "Required") &&
        property.data != std::string(1, '\0')) {
      RETURN_IF_ERROR(CheckNoNull(table, column_name));
    }
  } else
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

Result<StatementResult> Session::Run(std::string_view, CreateView& view) {
  // Every table, query and column the view names must exist, so a wrong name is refused for
  // what is wrong with it rather than when the view is opened.
  RETURN_IF_ERROR(engine_.Check(view.definition).WithContext("view '" + view.name + "'"));
  RETURN_IF_ERROR(db_.CreateView(view.definition));
  return StatementResult{};
}

Result<StatementResult> Session::Run(std::string_view, CreateQuery& query) {
  // The rows are stored as given: the tables and queries they read need not exist yet.
  RETURN_IF_ERROR(db_.CreateQuery(jet::SavedQuery{query.name, 0, 0, std::move(query.rows)}));
  return StatementResult{};
}

Result<StatementResult> Session::Run(std::string_view, AlterQuery& alter) {
  // Only a blob that decodes is stored, and only on a query.
  auto properties = jet::format::DecodePropertyBlob(alter.properties);
  if (!properties.ok()) return properties.status().WithContext("properties of query '" + alter.name + "'");
  ASSIGN_OR_RETURN(std::vector<jet::SavedQuery> queries, db_.ListQueries());
  const auto found = std::find_if(queries.begin(), queries.end(),
                                  [&](const jet::SavedQuery& q) { return EqualsIgnoreAsciiCase(q.name, alter.name); });
  if (found == queries.end()) return NotFoundError("no query named '" + alter.name + "'");
  RETURN_IF_ERROR(db_.WriteProperties(found->name, *properties));
  return StatementResult{};
}

Result<StatementResult> Session::Run(std::string_view, Select& select) {
  ASSIGN_OR_RETURN(StatementResult result, engine_.Run(select.query));
  if (select.into.empty()) return result;
  // SELECT ... INTO: a new table of the result's columns (AutoNumber becomes Long, nothing is
  // required), filled with the rows; on failure the new table is removed again.
  TableDefinition table;
  table.name = select.into;
  for (const ColumnDefinition& c : result.columns) {
    // Columns a join's * tells apart by their tables ("c.ID") become c_ID: a column name has no dot.
    std::string name = c.name;
    std::replace(name.begin(), name.end(), '.', '_');
    ColumnDefinition column = jet::NewColumn(name, c.type);
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

}  // namespace tabulon::jetsql
