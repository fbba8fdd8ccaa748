// The query engine: a query is compiled once (names found, grouping checked, subqueries and
// saved queries compiled in turn), then run over rows held in memory. FROM gives the rows of
// its tables and joins, WHERE filters them, GROUP BY gathers them with their aggregates,
// HAVING filters the groups, the SELECT list and the ORDER BY keys are evaluated per row (or
// group), then DISTINCT, ORDER BY and TOP apply in that order.
#include "jetsql/query.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <unordered_map>

#include "base/text.h"
#include "jet/values.h"
#include "jetsql/ast.h"
#include "jetsql/convert.h"
#include "jetsql/executor.h"
#include "jetsql/functions.h"
#include "jetsql/parser.h"

namespace tabulon::jetsql {
namespace {

using jet::ColumnDefinition;
using jet::ColumnType;
using jet::Row;
using jet::Value;
using jet::ViewDefinition;
using Kind = Expression::Kind;

bool IsNull(const Value& v) { return std::holds_alternative<jet::Null>(v); }

// A column of the rows a query reads or gives: the name it is read by, and what it holds.
struct RelColumn {
  std::string qualifier;  // the table's alias or name; empty for a computed column
  ColumnDefinition def;
};

struct Relation {
  std::vector<RelColumn> columns;
  std::vector<Row> rows;
};

// Where an expression is evaluated: the row of its own query (or group) and, for a correlated
// subquery, the rows of the queries around it.
struct Env {
  const Row* row = nullptr;
  const std::vector<Value>* aggregates = nullptr;  // a group's aggregate values
  const Env* outer = nullptr;
};

struct CompiledQuery;

struct Node {
  Kind kind = Kind::kLiteral;
  std::string op;        // lower case
  std::string function;  // as written
  bool negated = false;
  Value literal;
  size_t column = 0;  // kColumn: index in the row `level` scopes out (0: its own query)
  size_t level = 0;
  int aggregate = -1;  // an aggregate of a grouped query: index in Env::aggregates
  std::vector<std::unique_ptr<Node>> args;
  std::shared_ptr<CompiledQuery> query;  // kSubquery, kExists, kIn over a subquery
};
using NodePtr = std::unique_ptr<Node>;

struct AggregateSpec {
  std::string name;
  NodePtr argument;  // null: Count(*)
};

struct FromNode {
  enum class Kind { kTable, kQuery, kJoin, kCross };
  Kind kind = Kind::kTable;
  const jet::TableDefinition* table = nullptr;
  std::shared_ptr<CompiledQuery> query;
  std::vector<std::string> keys;  // names or aliases of the tables inside
  std::unique_ptr<FromNode> left, right;
  jet::JoinKind join = jet::JoinKind::kInner;
  NodePtr condition;
  std::vector<RelColumn> columns;
};

struct SortKey {
  NodePtr expression;            // evaluated per row, or
  std::optional<size_t> output;  // an output column
  bool descending = false;
};

struct CompiledQuery {
  std::unique_ptr<FromNode> from;  // null: a SELECT without FROM gives one row
  std::vector<RelColumn> input;
  NodePtr where;
  bool grouped = false;
  std::vector<NodePtr> group_keys;
  std::vector<AggregateSpec> aggregates;
  NodePtr having;
  std::vector<NodePtr> outputs;
  std::vector<RelColumn> output_columns;
  std::vector<bool> typed;  // the output is a column of a table or query: its definition is kept
  std::vector<SortKey> order;
  bool distinct = false;
  std::optional<uint64_t> top;
  bool percent = false;
  std::vector<std::shared_ptr<CompiledQuery>> parts;  // a union's operands
  bool union_all = false;
  bool correlated = false;         // reads columns of a query around it
  std::optional<Relation> cached;  // an uncorrelated subquery's rows, once run
};

// What names mean while a query is compiled.
struct Scope {
  const std::vector<RelColumn>* columns = nullptr;
  const Scope* outer = nullptr;
  CompiledQuery* query = nullptr;
  bool grouped = false;  // columns outside aggregates must be grouped
  bool in_aggregate = false;
  const std::vector<std::string>* group_texts = nullptr;
  const std::vector<size_t>* group_columns = nullptr;
  std::vector<AggregateSpec>* aggregates = nullptr;
  const char* clause = "";
};

// An expression's text with case, brackets and blanks left out, to match GROUP BY expressions.
std::string Normalized(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '[' || c == ']' || c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  return out;
}

bool HasAggregate(const Expression& e) {
  if (e.kind == Kind::kFunction && IsAggregate(e.function)) return true;
  if (e.left && HasAggregate(*e.left)) return true;
  if (e.right && HasAggregate(*e.right)) return true;
  for (const ExpressionPtr& a : e.arguments) {
    if (a && HasAggregate(*a)) return true;
  }
  return false;
}

// A key that is equal for values Jet finds equal in DISTINCT, GROUP BY and UNION: numbers of
// any type by value, text without regard to case.
void AppendKey(std::string& key, const Value& v) {
  if (IsNull(v)) {
    key += '\x01';
    return;
  }
  if (const auto* text = std::get_if<std::string>(&v)) {
    key += '\x02';
    key += AsciiLower(*text);
  } else if (const auto* bytes = std::get_if<jet::Bytes>(&v)) {
    key += '\x03';
    key += std::to_string(bytes->data.size()) + ':' + bytes->data;
  } else if (const auto* guid = std::get_if<jet::Guid>(&v)) {
    key += '\x04';
    key += jet::FormatGuid(*guid);
  } else if (const auto* date = std::get_if<jet::DateTime>(&v)) {
    key += '\x05';
    key += jet::FormatDouble(date->days);
  } else if (const auto* decimal = std::get_if<jet::Decimal>(&v)) {
    key += '\x06';
    key += jet::FormatDouble(std::strtod(decimal->ToString().c_str(), nullptr));
  } else {
    auto number = ValueNumber(v);
    key += '\x06';
    key += number.ok() && number->has_value() ? jet::FormatDouble(**number) : std::string("?");
  }
  key += '\x00';
}

std::string RowKey(const Row& row, size_t count) {
  std::string key;
  for (size_t i = 0; i < count && i < row.size(); ++i) AppendKey(key, row[i]);
  return key;
}

// Nulls first, then Jet's order; values that cannot be compared keep the order of their kinds.
int OrderValues(const Value& a, const Value& b) {
  if (IsNull(a) || IsNull(b)) return IsNull(a) == IsNull(b) ? 0 : IsNull(a) ? -1 : 1;
  auto c = CompareValues(a, b);
  if (c.ok() && c->has_value()) return **c;
  return a.index() < b.index() ? -1 : a.index() > b.index() ? 1 : 0;
}

// The column a computed output becomes: the type of its values (numbers of several types widen
// to Double, mixed kinds to text), text longer than 255 characters as Memo.
ColumnDefinition InferColumn(const std::string& name, std::vector<Row>& rows, size_t index) {
  std::optional<ColumnType> type;
  bool mixed_numbers = false, mixed = false;
  auto type_of = [](const Value& v) {
    switch (v.index()) {
      case 1: return ColumnType::kBoolean;
      case 2: return ColumnType::kByte;
      case 3: return ColumnType::kInteger;
      case 4: return ColumnType::kLong;
      case 5: return ColumnType::kCurrency;
      case 6: return ColumnType::kSingle;
      case 7: return ColumnType::kDouble;
      case 8: return ColumnType::kDateTime;
      case 9: return ColumnType::kBinary;
      case 11: return ColumnType::kGuid;
      case 12: return ColumnType::kNumeric;
      default: return ColumnType::kText;
    }
  };
  auto numeric = [](ColumnType t) {
    return t == ColumnType::kBoolean || t == ColumnType::kByte || t == ColumnType::kInteger || t == ColumnType::kLong ||
           t == ColumnType::kCurrency || t == ColumnType::kSingle || t == ColumnType::kDouble ||
           t == ColumnType::kNumeric;
  };
  for (const Row& row : rows) {
    const Value& v = row[index];
    if (IsNull(v)) continue;
    const ColumnType t = type_of(v);
    if (!type) {
      type = t;
    } else if (*type != t) {
      if (numeric(*type) && numeric(t)) {
        mixed_numbers = true;
      } else {
        mixed = true;
      }
    }
  }
  ColumnType result = type.value_or(ColumnType::kText);
  if (mixed) {
    result = ColumnType::kText;
  } else if (mixed_numbers) {
    result = ColumnType::kDouble;
  }
  size_t longest = 0;
  for (Row& row : rows) {
    Value& v = row[index];
    if (IsNull(v)) continue;
    if (mixed && !std::holds_alternative<std::string>(v)) {
      v = ValueText(v).value_or(std::string());
    } else if (mixed_numbers && !std::holds_alternative<double>(v)) {
      auto number = ValueNumber(v);
      v = number.ok() && number->has_value() ? Value(**number) : Value(jet::Null{});
    }
    if (const auto* text = std::get_if<std::string>(&v)) {
      auto utf16 = Utf8ToUtf16(*text);
      longest = std::max(longest, utf16.ok() ? utf16->size() : text->size());
    } else if (const auto* bytes = std::get_if<jet::Bytes>(&v)) {
      longest = std::max(longest, bytes->data.size());
    }
  }
  if (result == ColumnType::kText && longest > 255) result = ColumnType::kMemo;
  if (result == ColumnType::kBinary && longest > 255) result = ColumnType::kOle;
  if (result == ColumnType::kNumeric) return jet::NewColumn(name, result, 28, 10);
  return jet::NewColumn(name, result, result == ColumnType::kText ? 255 : 0);
}

Status InClause(const Status& status, const char* clause, std::string_view text) {
  if (status.ok()) return status;
  std::string where = std::string(clause);
  if (!text.empty()) where += " " + std::string(text.substr(0, 200));
  return Status(status.code(), status.message() + " (in " + where + ")");
}

}  // namespace

struct QueryEngine::Impl {
  explicit Impl(jet::Database& database) : db(database) {}

  jet::Database& db;
  std::unordered_map<std::string, jet::TableDefinition> tables;                   // by lower-case name
  std::unordered_map<std::string, std::shared_ptr<const std::vector<Row>>> rows;  // during one run
  size_t saved_depth = 0;

  static constexpr size_t kMaxSavedDepth = 50;

  Result<const jet::TableDefinition*> Table(std::string_view name);
  Result<std::shared_ptr<CompiledQuery>> Compile(const ViewDefinition& view, const Scope* outer);
  Result<std::shared_ptr<CompiledQuery>> CompileSaved(const std::string& name, const std::string& sql);
  Result<std::unique_ptr<FromNode>> CompileFrom(const ViewDefinition& view, CompiledQuery& q, const Scope* outer);
  Result<NodePtr> CompileText(std::string_view text, Scope& scope);
  Result<NodePtr> CompileExpr(const Expression& e, std::string_view text, Scope& scope);
  Result<std::pair<size_t, size_t>> Resolve(const ColumnRef& ref, const Scope& scope);

  Result<Relation> Execute(CompiledQuery& q, const Env* outer);
  using Rows = std::shared_ptr<const std::vector<Row>>;
  Result<Rows> Produce(FromNode& node, const Env* outer);
  Result<const Relation*> RunSubquery(CompiledQuery& q, const Env& env, std::optional<Relation>& holder);
  Result<Value> Eval(const Node& n, const Env& env);
  Result<std::optional<bool>> Truth(const Node& n, const Env& env) {
    ASSIGN_OR_RETURN(Value v, Eval(n, env));
    return ValueTruth(v);
  }
};

Result<const jet::TableDefinition*> QueryEngine::Impl::Table(std::string_view name) {
  std::string key = AsciiLower(name);
  auto it = tables.find(key);
  if (it != tables.end()) return &it->second;
  ASSIGN_OR_RETURN(jet::TableDefinition table, db.GetTable(name));
  auto [inserted, _] = tables.emplace(std::move(key), std::move(table));
  return &inserted->second;
}

Result<std::shared_ptr<CompiledQuery>> QueryEngine::Impl::CompileSaved(const std::string& name,
                                                                       const std::string& sql) {
  if (saved_depth >= kMaxSavedDepth) {
    return InvalidArgumentError("query '" + name + "' reads itself through the queries it reads");
  }
  auto view = ParseQuery(sql);
  if (!view.ok()) return view.status().WithContext("query '" + name + "' is not a SELECT this engine reads");
  ++saved_depth;
  auto compiled = Compile(*view, nullptr);
  --saved_depth;
  if (!compiled.ok()) return compiled.status().WithContext("query '" + name + "'");
  return compiled;
}

Result<std::unique_ptr<FromNode>> QueryEngine::Impl::CompileFrom(const ViewDefinition& view, CompiledQuery& q,
                                                                 const Scope* outer) {
  std::vector<std::unique_ptr<FromNode>> groups;
  for (const ViewDefinition::Table& t : view.tables) {
    auto node = std::make_unique<FromNode>();
    std::string key = t.alias;
    if (t.query) {
      auto inner = ParseQuery(t.name);
      if (!inner.ok()) return inner.status().WithContext("the query in FROM named " + t.alias);
      ASSIGN_OR_RETURN(node->query, Compile(*inner, nullptr));
      node->kind = FromNode::Kind::kQuery;
    } else {
      auto table = Table(t.name);
      if (table.ok()) {
        node->table = *table;
        if (key.empty()) key = (*table)->name;
      } else if (table.status().code() != ErrorCode::kNotFound) {
        return table.status();
      } else {
        auto sql = db.GetQuerySql(t.name);
        if (!sql.ok() && sql.status().code() == ErrorCode::kNotFound) {
          return NotFoundError("'" + t.name + "' is neither a table nor a query");
        }
        if (!sql.ok()) return sql.status();
        ASSIGN_OR_RETURN(node->query, CompileSaved(t.name, *sql));
        node->kind = FromNode::Kind::kQuery;
        if (key.empty()) key = t.name;
      }
    }
    for (const auto& group : groups) {
      for (const std::string& k : group->keys) {
        if (EqualsIgnoreAsciiCase(k, key)) {
          return InvalidArgumentError("'" + key + "' is named twice in FROM (give one of them an alias)");
        }
      }
    }
    node->keys.push_back(key);
    if (node->table) {
      for (const ColumnDefinition& c : node->table->columns) node->columns.push_back({key, c});
    } else {
      for (const RelColumn& c : node->query->output_columns) node->columns.push_back({key, c.def});
    }
    groups.push_back(std::move(node));
  }
  auto group_of = [&](const std::string& name) -> std::optional<size_t> {
    for (size_t g = 0; g < groups.size(); ++g) {
      for (const std::string& k : groups[g]->keys) {
        if (EqualsIgnoreAsciiCase(k, name)) return g;
      }
    }
    return std::nullopt;
  };
  for (const ViewDefinition::Join& join : view.joins) {
    const std::optional<size_t> l = group_of(join.left), r = group_of(join.right);
    if (!l || !r || *l == *r) {
      return InvalidArgumentError("the join of " + join.left + " and " + join.right + " cannot be nested");
    }
    auto joined = std::make_unique<FromNode>();
    joined->kind = FromNode::Kind::kJoin;
    joined->join = join.kind;
    joined->left = std::move(groups[*l]);
    joined->right = std::move(groups[*r]);
    joined->keys = joined->left->keys;
    joined->keys.insert(joined->keys.end(), joined->right->keys.begin(), joined->right->keys.end());
    joined->columns = joined->left->columns;
    joined->columns.insert(joined->columns.end(), joined->right->columns.begin(), joined->right->columns.end());
    Scope scope;
    scope.columns = &joined->columns;
    scope.outer = outer;
    scope.query = &q;
    scope.clause = "ON";
    ASSIGN_OR_RETURN(joined->condition, CompileText(join.condition, scope));
    groups[*l] = std::move(joined);
    groups.erase(groups.begin() + static_cast<std::ptrdiff_t>(*r));
  }
  std::unique_ptr<FromNode> from;
  for (auto& group : groups) {
    if (!from) {
      from = std::move(group);
      continue;
    }
    auto cross = std::make_unique<FromNode>();
    cross->kind = FromNode::Kind::kCross;
    cross->columns = from->columns;
    cross->columns.insert(cross->columns.end(), group->columns.begin(), group->columns.end());
    cross->left = std::move(from);
    cross->right = std::move(group);
    from = std::move(cross);
  }
  return from;
}

Result<std::shared_ptr<CompiledQuery>> QueryEngine::Impl::Compile(const ViewDefinition& view, const Scope* outer) {
  auto q = std::make_shared<CompiledQuery>();
  if (!view.union_first.empty()) {
    for (const std::string* text : {&view.union_first, &view.union_second}) {
      ASSIGN_OR_RETURN(ViewDefinition part, ParseQuery(*text));
      ASSIGN_OR_RETURN(std::shared_ptr<CompiledQuery> compiled, Compile(part, outer));
      q->parts.push_back(std::move(compiled));
    }
    q->union_all = view.union_all;
    const auto& first = q->parts[0]->output_columns;
    if (first.size() != q->parts[1]->output_columns.size()) {
      return InvalidArgumentError("the SELECTs of the union give " + std::to_string(first.size()) + " and " +
                                  std::to_string(q->parts[1]->output_columns.size()) + " columns");
    }
    q->output_columns = first;
    q->typed.assign(first.size(), false);
    for (const ViewDefinition::Order& o : view.order_by) {
      SortKey key;
      key.descending = o.descending;
      ASSIGN_OR_RETURN(ExpressionPtr e, ParseExpressionText(o.expression));
      if (e->kind == Kind::kLiteral && e->literal.kind == Literal::Kind::kNumber) {
        const long position = std::strtol(e->literal.text.c_str(), nullptr, 10);
        if (position < 1 || static_cast<size_t>(position) > first.size()) {
          return InvalidArgumentError("ORDER BY " + o.expression + ": the union has " + std::to_string(first.size()) +
                                      " columns");
        }
        key.output = static_cast<size_t>(position - 1);
      } else if (e->kind == Kind::kColumn) {
        for (size_t k = 0; k < first.size() && !key.output; ++k) {
          if (EqualsIgnoreAsciiCase(first[k].def.name, e->column.name)) key.output = k;
        }
      }
      if (!key.output) {
        return InvalidArgumentError("ORDER BY " + o.expression + " is not a column of the union");
      }
      q->order.push_back(std::move(key));
    }
    return q;
  }

  q->distinct = view.distinct;
  if (!view.top.empty()) {
    q->top = std::strtoull(view.top.c_str(), nullptr, 10);
    q->percent = view.top_percent;
  }
  if (!view.tables.empty()) {
    ASSIGN_OR_RETURN(q->from, CompileFrom(view, *q, outer));
    q->input = q->from->columns;
  }
  Scope scope;
  scope.columns = &q->input;
  scope.outer = outer;
  scope.query = q.get();
  if (!view.where.empty()) {
    scope.clause = "WHERE";
    ASSIGN_OR_RETURN(q->where, CompileText(view.where, scope));
  }

  // Parsed once; grouped when GROUP BY is given or an aggregate appears outside subqueries.
  std::vector<std::pair<ExpressionPtr, std::string>> columns, orders;
  for (const ViewDefinition::Column& c : view.columns) {
    ASSIGN_OR_RETURN(ExpressionPtr e, ParseExpressionText(c.expression));
    columns.emplace_back(std::move(e), c.expression);
  }
  for (const ViewDefinition::Order& o : view.order_by) {
    ASSIGN_OR_RETURN(ExpressionPtr e, ParseExpressionText(o.expression));
    orders.emplace_back(std::move(e), o.expression);
  }
  ExpressionPtr having;
  if (!view.having.empty()) {
    ASSIGN_OR_RETURN(having, ParseExpressionText(view.having));
  }
  q->grouped = !view.group_by.empty() || (having && HasAggregate(*having));
  for (const auto& [e, text] : columns) q->grouped = q->grouped || HasAggregate(*e);
  for (const auto& [e, text] : orders) q->grouped = q->grouped || HasAggregate(*e);

  std::vector<std::string> group_texts;
  std::vector<size_t> group_columns;
  scope.clause = "GROUP BY";
  for (const std::string& g : view.group_by) {
    ASSIGN_OR_RETURN(NodePtr key, CompileText(g, scope));
    if (key->kind == Kind::kColumn && key->level == 0) group_columns.push_back(key->column);
    group_texts.push_back(Normalized(g));
    q->group_keys.push_back(std::move(key));
  }
  Scope grouped = scope;
  if (q->grouped) {
    grouped.grouped = true;
    grouped.group_texts = &group_texts;
    grouped.group_columns = &group_columns;
    grouped.aggregates = &q->aggregates;
  }
  if (having) {
    grouped.clause = "HAVING";
    auto compiled = CompileExpr(*having, view.having, grouped);
    if (!compiled.ok()) return InClause(compiled.status(), "HAVING", view.having);
    q->having = std::move(compiled).value();
  }

  // The SELECT list: * first, then the listed columns.
  size_t computed = 1000;
  auto add_input = [&](size_t index) {
    auto node = std::make_unique<Node>();
    node->kind = Kind::kColumn;
    node->column = index;
    return node;
  };
  auto add_all = [&](const std::string& qualifier, const std::string& text) -> Status {
    bool any = false;
    for (size_t i = 0; i < q->input.size(); ++i) {
      if (!qualifier.empty() && !EqualsIgnoreAsciiCase(q->input[i].qualifier, qualifier)) continue;
      any = true;
      if (q->grouped && std::find(group_columns.begin(), group_columns.end(), i) == group_columns.end()) {
        return InvalidArgumentError("'" + text +
                                    "' takes columns that are neither in GROUP BY nor inside an "
                                    "aggregate function");
      }
      q->outputs.push_back(add_input(i));
      q->output_columns.push_back(q->input[i]);
      q->typed.push_back(true);
    }
    if (!any) return NotFoundError("'" + qualifier + "' is not a table of the query");
    return Status::Ok();
  };
  if (view.select_all) RETURN_IF_ERROR(add_all("", "*"));
  grouped.clause = "SELECT";
  for (size_t k = 0; k < columns.size(); ++k) {
    const Expression& e = *columns[k].first;
    const std::string& text = columns[k].second;
    if (e.kind == Kind::kColumn && e.column.name == "*") {
      RETURN_IF_ERROR(InClause(add_all(e.column.qualifier, text), "SELECT", text));
      continue;
    }
    auto compiled = CompileExpr(e, text, grouped);
    if (!compiled.ok()) return InClause(compiled.status(), "SELECT", text);
    NodePtr node = std::move(compiled).value();
    RelColumn column;
    const std::string& alias = view.columns[k].alias;
    const bool plain = node->kind == Kind::kColumn && node->level == 0;
    if (plain) column = q->input[node->column];
    column.qualifier.clear();
    if (!alias.empty()) {
      column.def.name = alias;
    } else if (plain) {
      // the column's own name
    } else if (e.kind == Kind::kFunction && IsAggregate(e.function) && e.arguments.size() == 1 &&
               e.arguments[0]->kind == Kind::kColumn) {
      column.def.name = e.function + "Of" + e.arguments[0]->column.name;
    } else {
      column.def.name = "Expr" + std::to_string(computed++);
    }
    q->outputs.push_back(std::move(node));
    q->output_columns.push_back(std::move(column));
    q->typed.push_back(plain);
  }
  // Columns named alike (SELECT * over a join) are told apart by their tables, as Access does.
  std::vector<bool> repeated(q->output_columns.size(), false);
  for (size_t i = 0; i < q->output_columns.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (EqualsIgnoreAsciiCase(q->output_columns[i].def.name, q->output_columns[j].def.name)) {
        repeated[i] = repeated[j] = true;
      }
    }
  }
  for (size_t i = 0; i < q->output_columns.size(); ++i) {
    RelColumn& c = q->output_columns[i];
    if (repeated[i] && !c.qualifier.empty()) c.def.name = c.qualifier + "." + c.def.name;
  }
  for (RelColumn& c : q->output_columns) c.qualifier.clear();

  // ORDER BY: a position, an expression over the query's tables, or an output column's name.
  grouped.clause = "ORDER BY";
  for (size_t k = 0; k < orders.size(); ++k) {
    const Expression& e = *orders[k].first;
    SortKey key;
    key.descending = view.order_by[k].descending;
    if (e.kind == Kind::kLiteral && e.literal.kind == Literal::Kind::kNumber) {
      const long position = std::strtol(e.literal.text.c_str(), nullptr, 10);
      if (position < 1 || static_cast<size_t>(position) > q->outputs.size()) {
        return InvalidArgumentError("ORDER BY " + orders[k].second + ": the query has " +
                                    std::to_string(q->outputs.size()) + " columns");
      }
      key.output = static_cast<size_t>(position - 1);
    } else {
      auto compiled = CompileExpr(e, orders[k].second, grouped);
      if (compiled.ok()) {
        key.expression = std::move(compiled).value();
      } else if (e.kind == Kind::kColumn && e.column.qualifier.empty()) {
        for (size_t i = 0; i < q->output_columns.size() && !key.output; ++i) {
          if (EqualsIgnoreAsciiCase(q->output_columns[i].def.name, e.column.name)) key.output = i;
        }
        if (!key.output) return InClause(compiled.status(), "ORDER BY", orders[k].second);
      } else {
        return InClause(compiled.status(), "ORDER BY", orders[k].second);
      }
    }
    q->order.push_back(std::move(key));
  }
  return q;
}

Result<NodePtr> QueryEngine::Impl::CompileText(std::string_view text, Scope& scope) {
  ASSIGN_OR_RETURN(ExpressionPtr e, ParseExpressionText(text));
  auto compiled = CompileExpr(*e, text, scope);
  if (!compiled.ok()) return InClause(compiled.status(), scope.clause, text);
  return compiled;
}

Result<std::pair<size_t, size_t>> QueryEngine::Impl::Resolve(const ColumnRef& ref, const Scope& scope) {
  size_t level = 0;
  for (const Scope* s = &scope; s; s = s->outer, ++level) {
    std::optional<size_t> found;
    bool qualifier_known = false;
    for (size_t i = 0; i < s->columns->size(); ++i) {
      const RelColumn& c = (*s->columns)[i];
      if (!ref.qualifier.empty()) {
        if (!EqualsIgnoreAsciiCase(c.qualifier, ref.qualifier)) continue;
        qualifier_known = true;
      }
      if (!EqualsIgnoreAsciiCase(c.def.name, ref.name)) continue;
      if (found) {
        return InvalidArgumentError("column '" + ref.name + "' is in more than one table of the query; name the table");
      }
      found = i;
    }
    if (found) {
      size_t l = 0;
      for (const Scope* inner = &scope; l < level; inner = inner->outer, ++l) inner->query->correlated = true;
      return std::make_pair(level, *found);
    }
    if (qualifier_known) return NotFoundError("'" + ref.qualifier + "' has no column '" + ref.name + "'");
  }
  if (!ref.qualifier.empty()) return NotFoundError("'" + ref.qualifier + "' is not a table of the query");
  return NotFoundError("no column '" + ref.name + "'");
}

Result<NodePtr> QueryEngine::Impl::CompileExpr(const Expression& e, std::string_view text, Scope& scope) {
  const std::string_view own = e.span.end <= text.size() && e.span.begin <= e.span.end
                                   ? text.substr(e.span.begin, e.span.end - e.span.begin)
                                   : std::string_view();
  if (scope.grouped && !scope.in_aggregate && scope.group_texts && e.kind != Kind::kLiteral) {
    const std::string normalized = Normalized(own);
    for (const std::string& g : *scope.group_texts) {
      if (g == normalized) {
        Scope plain = scope;
        plain.grouped = false;
        return CompileExpr(e, text, plain);
      }
    }
  }
  auto node = std::make_unique<Node>();
  node->kind = e.kind;
  node->op = AsciiLower(e.op);
  node->function = e.function;
  node->negated = e.negated;
  switch (e.kind) {
    case Kind::kLiteral: node->literal = LiteralValue(e.literal); return node;
    case Kind::kColumn: {
      if (e.column.name == "*") return InvalidArgumentError("'" + std::string(own) + "' is not a value");
      ASSIGN_OR_RETURN(auto place, Resolve(e.column, scope));
      node->level = place.first;
      node->column = place.second;
      if (scope.grouped && !scope.in_aggregate && place.first == 0 &&
          std::find(scope.group_columns->begin(), scope.group_columns->end(), place.second) ==
              scope.group_columns->end()) {
        return InvalidArgumentError("'" + std::string(own) +
                                    "' is neither in GROUP BY nor inside an aggregate function");
      }
      return node;
    }
    case Kind::kFunction:
      if (IsAggregate(e.function)) {
        if (!scope.aggregates || scope.in_aggregate) {
          return InvalidArgumentError("the aggregate function " + e.function + " cannot be used in " +
                                      (scope.in_aggregate ? std::string("another aggregate") : scope.clause));
        }
        if (e.distinct) return UnsupportedError(e.function + "(DISTINCT ...) is not Access SQL");
        AggregateSpec spec;
        spec.name = e.function;
        if (!e.star) {
          if (e.arguments.size() != 1) return InvalidArgumentError(e.function + " takes one argument");
          Scope inside = scope;
          inside.in_aggregate = true;
          inside.grouped = false;
          const Expression& argument = *e.arguments[0];
          if (argument.kind == Kind::kColumn && argument.column.name == "*") {
            spec.argument.reset();  // Count(t.*) counts rows
          } else {
            ASSIGN_OR_RETURN(spec.argument, CompileExpr(argument, text, inside));
          }
        }
        node->aggregate = static_cast<int>(scope.aggregates->size());
        scope.aggregates->push_back(std::move(spec));
        return node;
      }
      if (e.star) return InvalidArgumentError(e.function + "(*) is not a function call");
      break;
    case Kind::kSubquery:
    case Kind::kExists: {
      ASSIGN_OR_RETURN(node->query, Compile(*e.subquery, &scope));
      if (e.kind == Kind::kSubquery && node->query->output_columns.size() != 1) {
        return InvalidArgumentError("a subquery used as a value must give one column");
      }
      return node;
    }
    case Kind::kIn:
      if (e.arguments.size() == 1 && e.arguments[0]->kind == Kind::kSubquery) {
        ASSIGN_OR_RETURN(NodePtr left, CompileExpr(*e.left, text, scope));
        node->args.push_back(std::move(left));
        ASSIGN_OR_RETURN(node->query, Compile(*e.arguments[0]->subquery, &scope));
        if (node->query->output_columns.size() != 1) {
          return InvalidArgumentError("the subquery of IN must give one column");
        }
        return node;
      }
      break;
    default: break;
  }
  if (e.left) {
    ASSIGN_OR_RETURN(NodePtr left, CompileExpr(*e.left, text, scope));
    node->args.push_back(std::move(left));
  }
  if (e.right) {
    ASSIGN_OR_RETURN(NodePtr right, CompileExpr(*e.right, text, scope));
    node->args.push_back(std::move(right));
  }
  for (const ExpressionPtr& a : e.arguments) {
    ASSIGN_OR_RETURN(NodePtr argument, CompileExpr(*a, text, scope));
    node->args.push_back(std::move(argument));
  }
  if (e.kind == Kind::kFunction) {
    const std::string f = AsciiLower(e.function);
    if (f == "iif" && node->args.size() != 3) return InvalidArgumentError("IIf takes 3 arguments");
    if (f == "switch" && (node->args.empty() || node->args.size() % 2 != 0)) {
      return InvalidArgumentError("Switch takes pairs of a condition and a value");
    }
  }
  return node;
}

// ------------------------------------------------------------------------------------------
// Running

Result<const Relation*> QueryEngine::Impl::RunSubquery(CompiledQuery& q, const Env& env,
                                                       std::optional<Relation>& holder) {
  if (!q.correlated) {
    if (!q.cached) {
      ASSIGN_OR_RETURN(Relation rel, Execute(q, nullptr));
      q.cached = std::move(rel);
    }
    return &*q.cached;
  }
  ASSIGN_OR_RETURN(Relation rel, Execute(q, &env));
  holder = std::move(rel);
  return &*holder;
}

Result<Value> QueryEngine::Impl::Eval(const Node& n, const Env& env) {
  switch (n.kind) {
    case Kind::kLiteral: return n.literal;
    case Kind::kColumn: {
      const Env* e = &env;
      for (size_t i = 0; i < n.level; ++i) e = e->outer;
      return (*e->row)[n.column];
    }
    case Kind::kCompare: {
      ASSIGN_OR_RETURN(Value l, Eval(*n.args[0], env));
      ASSIGN_OR_RETURN(Value r, Eval(*n.args[1], env));
      ASSIGN_OR_RETURN(std::optional<int> c, CompareValues(l, r));
      if (!c) return Value(jet::Null{});
      const std::string& op = n.op;
      const bool result = op == "="    ? *c == 0
                          : op == "<>" ? *c != 0
                          : op == "<"  ? *c < 0
                          : op == ">"  ? *c > 0
                          : op == "<=" ? *c <= 0
                                       : *c >= 0;
      return Value(result);
    }
    case Kind::kNot: {
      ASSIGN_OR_RETURN(std::optional<bool> v, Truth(*n.args[0], env));
      return v ? Value(!*v) : Value(jet::Null{});
    }
    case Kind::kAnd:
    case Kind::kOr: {
      ASSIGN_OR_RETURN(std::optional<bool> l, Truth(*n.args[0], env));
      const bool is_and = n.kind == Kind::kAnd;
      if (l && *l != is_and) return Value(*l);  // false AND .., true OR ..
      ASSIGN_OR_RETURN(std::optional<bool> r, Truth(*n.args[1], env));
      if (r && *r != is_and) return Value(*r);
      if (l && r) return Value(is_and);
      return Value(jet::Null{});
    }
    case Kind::kLike: {
      ASSIGN_OR_RETURN(Value l, Eval(*n.args[0], env));
      ASSIGN_OR_RETURN(Value r, Eval(*n.args[1], env));
      auto text = ValueText(l);
      auto pattern = ValueText(r);
      if (!text || !pattern) return Value(jet::Null{});
      if (n.op == "alike") {
        // ANSI wildcards: % and _ become Jet's * and ?, and Jet's own wildcards match themselves.
        std::string jet;
        for (char c : *pattern) {
          if (c == '%') {
            jet += '*';
          } else if (c == '_') {
            jet += '?';
          } else if (c == '*' || c == '?' || c == '#' || c == '[') {
            jet += std::string("[") + c + "]";
          } else {
            jet += c;
          }
        }
        return Value(MatchLike(*text, jet) != n.negated);
      }
      return Value(MatchLike(*text, *pattern) != n.negated);
    }
    case Kind::kIsNull: {
      ASSIGN_OR_RETURN(Value v, Eval(*n.args[0], env));
      return Value(IsNull(v) != n.negated);
    }
    case Kind::kBinary: {
      ASSIGN_OR_RETURN(Value l, Eval(*n.args[0], env));
      ASSIGN_OR_RETURN(Value r, Eval(*n.args[1], env));
      return ApplyBinary(n.op, l, r);
    }
    case Kind::kUnary: {
      ASSIGN_OR_RETURN(Value v, Eval(*n.args[0], env));
      return ApplyUnary(n.op, v);
    }
    case Kind::kBetween: {
      ASSIGN_OR_RETURN(Value v, Eval(*n.args[0], env));
      ASSIGN_OR_RETURN(Value low, Eval(*n.args[1], env));
      ASSIGN_OR_RETURN(Value high, Eval(*n.args[2], env));
      ASSIGN_OR_RETURN(std::optional<int> a, CompareValues(v, low));
      ASSIGN_OR_RETURN(std::optional<int> b, CompareValues(v, high));
      if ((a && *a < 0) || (b && *b > 0)) return Value(n.negated);
      if (!a || !b) return Value(jet::Null{});
      return Value(!n.negated);
    }
    case Kind::kIn: {
      ASSIGN_OR_RETURN(Value v, Eval(*n.args[0], env));
      std::vector<Value> candidates;
      if (n.query) {
        std::optional<Relation> holder;
        ASSIGN_OR_RETURN(const Relation* rel, RunSubquery(*n.query, env, holder));
        for (const Row& row : rel->rows) candidates.push_back(row[0]);
      } else {
        for (size_t i = 1; i < n.args.size(); ++i) {
          ASSIGN_OR_RETURN(Value c, Eval(*n.args[i], env));
          candidates.push_back(std::move(c));
        }
      }
      if (IsNull(v)) return Value(jet::Null{});
      bool unknown = false;
      for (const Value& c : candidates) {
        ASSIGN_OR_RETURN(std::optional<int> cmp, CompareValues(v, c));
        if (!cmp) {
          unknown = true;
        } else if (*cmp == 0) {
          return Value(!n.negated);
        }
      }
      return unknown ? Value(jet::Null{}) : Value(n.negated);
    }
    case Kind::kExists: {
      std::optional<Relation> holder;
      ASSIGN_OR_RETURN(const Relation* rel, RunSubquery(*n.query, env, holder));
      return Value(!rel->rows.empty());
    }
    case Kind::kSubquery: {
      std::optional<Relation> holder;
      ASSIGN_OR_RETURN(const Relation* rel, RunSubquery(*n.query, env, holder));
      if (rel->rows.empty()) return Value(jet::Null{});
      if (rel->rows.size() > 1) return InvalidArgumentError("at most one row can be returned by this subquery");
      return rel->rows[0][0];
    }
    case Kind::kFunction: {
      if (n.aggregate >= 0) return (*env.aggregates)[static_cast<size_t>(n.aggregate)];
      if (EqualsIgnoreAsciiCase(n.function, "iif")) {
        ASSIGN_OR_RETURN(std::optional<bool> c, Truth(*n.args[0], env));
        return Eval(*n.args[c && *c ? 1 : 2], env);
      }
      if (EqualsIgnoreAsciiCase(n.function, "switch")) {
        for (size_t i = 0; i + 1 < n.args.size(); i += 2) {
          ASSIGN_OR_RETURN(std::optional<bool> c, Truth(*n.args[i], env));
          if (c && *c) return Eval(*n.args[i + 1], env);
        }
        return Value(jet::Null{});
      }
      std::vector<Value> arguments;
      arguments.reserve(n.args.size());
      for (const NodePtr& a : n.args) {
        ASSIGN_OR_RETURN(Value v, Eval(*a, env));
        arguments.push_back(std::move(v));
      }
      return CallFunction(n.function, arguments);
    }
  }
  return InternalError("an expression form the engine does not know");
}

namespace {

// Values of these kinds can be equal to each other in a join condition; a hash join compares
// keys (AppendKey) only between columns of one kind, where key equality is Jet's equality.
int KeyKind(ColumnType type) {
  switch (type) {
    case ColumnType::kText:
    case ColumnType::kMemo: return 1;
    case ColumnType::kDateTime: return 2;
    case ColumnType::kGuid: return 3;
    case ColumnType::kBinary:
    case ColumnType::kOle: return 0;
    default: return 4;  // numbers and Yes/No
  }
}

}  // namespace

Result<QueryEngine::Impl::Rows> QueryEngine::Impl::Produce(FromNode& node, const Env* outer) {
  switch (node.kind) {
    case FromNode::Kind::kTable: {
      const std::string key = AsciiLower(node.table->name);
      auto cached = rows.find(key);
      if (cached == rows.end()) {
        ASSIGN_OR_RETURN(std::vector<Row> all, db.ReadAllRows(*node.table));
        cached = rows.emplace(key, std::make_shared<const std::vector<Row>>(std::move(all))).first;
      }
      return cached->second;
    }
    case FromNode::Kind::kQuery: {
      ASSIGN_OR_RETURN(Relation rel, Execute(*node.query, nullptr));
      return std::make_shared<const std::vector<Row>>(std::move(rel.rows));
    }
    case FromNode::Kind::kCross:
    case FromNode::Kind::kJoin: break;
  }
  ASSIGN_OR_RETURN(Rows left, Produce(*node.left, outer));
  ASSIGN_OR_RETURN(Rows right, Produce(*node.right, outer));
  const size_t left_width = node.left->columns.size(), right_width = node.right->columns.size();
  auto out = std::make_shared<std::vector<Row>>();
  Row combined(left_width + right_width);
  auto join = [&](const Row& l, const Row& r) {
    std::copy(l.begin(), l.end(), combined.begin());
    std::copy(r.begin(), r.end(), combined.begin() + static_cast<std::ptrdiff_t>(left_width));
  };
  if (node.kind == FromNode::Kind::kCross) {
    for (const Row& l : *left) {
      for (const Row& r : *right) {
        join(l, r);
        out->push_back(combined);
      }
    }
    return Rows(std::move(out));
  }
  // An outer join keeps each row of its outer side that found no partner, with Nulls for the
  // other side.
  const bool right_outer = node.join == jet::JoinKind::kRight;
  const std::vector<Row>& outer_side = right_outer ? *right : *left;
  const std::vector<Row>& inner_side = right_outer ? *left : *right;
  const Row nulls_left(left_width, Value(jet::Null{})), nulls_right(right_width, Value(jet::Null{}));
  auto pad = [&](const Row& o) {
    if (right_outer) {
      join(nulls_left, o);
    } else {
      join(o, nulls_right);
    }
    out->push_back(combined);
  };
  auto pair = [&](const Row& o, const Row& i) {
    if (right_outer) {
      join(i, o);
    } else {
      join(o, i);
    }
  };

  // ON a.x = b.y between columns of one kind: the inner side's rows are found by a hash of their
  // key, in their own order, as the nested loops below would find them.
  const Node& c = *node.condition;
  if (c.kind == Kind::kCompare && c.op == "=" && c.args[0]->kind == Kind::kColumn && c.args[1]->kind == Kind::kColumn &&
      c.args[0]->level == 0 && c.args[1]->level == 0) {
    size_t a = c.args[0]->column, b = c.args[1]->column;
    if (a > b) std::swap(a, b);
    const int kind = KeyKind(node.columns[a].def.type);
    if (a < left_width && b >= left_width && kind != 0 && kind == KeyKind(node.columns[b].def.type)) {
      const size_t outer_column = right_outer ? b - left_width : a;
      const size_t inner_column = right_outer ? a : b - left_width;
      std::unordered_map<std::string, std::vector<size_t>> by_key;
      for (size_t i = 0; i < inner_side.size(); ++i) {
        const Value& v = inner_side[i][inner_column];
        if (IsNull(v)) continue;
        std::string key;
        AppendKey(key, v);
        by_key[key].push_back(i);
      }
      for (const Row& o : outer_side) {
        const Value& v = o[outer_column];
        const std::vector<size_t>* matches = nullptr;
        if (!IsNull(v)) {
          std::string key;
          AppendKey(key, v);
          auto found = by_key.find(key);
          if (found != by_key.end()) matches = &found->second;
        }
        if (matches) {
          for (size_t i : *matches) {
            pair(o, inner_side[i]);
            out->push_back(combined);
          }
        } else if (node.join != jet::JoinKind::kInner) {
          pad(o);
        }
      }
      return Rows(std::move(out));
    }
  }
  for (const Row& o : outer_side) {
    bool matched = false;
    for (const Row& i : inner_side) {
      pair(o, i);
      Env env{&combined, nullptr, outer};
      ASSIGN_OR_RETURN(std::optional<bool> truth, Truth(*node.condition, env));
      if (truth && *truth) {
        matched = true;
        out->push_back(combined);
      }
    }
    if (!matched && node.join != jet::JoinKind::kInner) pad(o);
  }
  return Rows(std::move(out));
}

Result<Relation> QueryEngine::Impl::Execute(CompiledQuery& q, const Env* outer) {
  Relation result;
  result.columns = q.output_columns;
  const size_t width = q.output_columns.size();
  std::vector<Row> out;  // outputs, then one value per sort key

  auto finish_row = [&](const Env& env) -> Status {
    Row row;
    row.reserve(width + q.order.size());
    for (const NodePtr& o : q.outputs) {
      ASSIGN_OR_RETURN(Value v, Eval(*o, env));
      row.push_back(std::move(v));
    }
    for (const SortKey& key : q.order) {
      if (key.output) {
        row.push_back(row[*key.output]);
      } else {
        ASSIGN_OR_RETURN(Value v, Eval(*key.expression, env));
        row.push_back(std::move(v));
      }
    }
    out.push_back(std::move(row));
    return Status::Ok();
  };

  if (!q.parts.empty()) {
    for (const auto& part : q.parts) {
      ASSIGN_OR_RETURN(Relation rel, Execute(*part, outer));
      for (Row& row : rel.rows) {
        for (const SortKey& key : q.order) row.push_back(row[*key.output]);
        out.push_back(std::move(row));
      }
    }
    if (!q.union_all) q.distinct = true;
  } else {
    Rows source = std::make_shared<const std::vector<Row>>(1);  // no FROM: one row
    if (q.from) {
      ASSIGN_OR_RETURN(source, Produce(*q.from, outer));
    }
    std::vector<const Row*> input;
    input.reserve(source->size());
    for (const Row& row : *source) {
      if (q.where) {
        Env env{&row, nullptr, outer};
        ASSIGN_OR_RETURN(std::optional<bool> truth, Truth(*q.where, env));
        if (!truth || !*truth) continue;
      }
      input.push_back(&row);
    }
    if (q.grouped) {
      struct Group {
        size_t first = 0;
        std::vector<std::unique_ptr<Aggregator>> aggregators;
      };
      std::vector<Group> groups;
      std::unordered_map<std::string, size_t> by_key;
      auto new_group = [&](size_t first) -> Result<size_t> {
        Group g;
        g.first = first;
        for (const AggregateSpec& spec : q.aggregates) {
          ASSIGN_OR_RETURN(std::unique_ptr<Aggregator> a, MakeAggregator(spec.name));
          g.aggregators.push_back(std::move(a));
        }
        groups.push_back(std::move(g));
        return groups.size() - 1;
      };
      for (size_t r = 0; r < input.size(); ++r) {
        Env env{input[r], nullptr, outer};
        std::string key;
        for (const NodePtr& k : q.group_keys) {
          ASSIGN_OR_RETURN(Value v, Eval(*k, env));
          AppendKey(key, v);
        }
        auto found = by_key.find(key);
        size_t g = 0;
        if (found == by_key.end()) {
          ASSIGN_OR_RETURN(g, new_group(r));
          by_key.emplace(std::move(key), g);
        } else {
          g = found->second;
        }
        for (size_t a = 0; a < q.aggregates.size(); ++a) {
          if (!q.aggregates[a].argument) {
            RETURN_IF_ERROR(groups[g].aggregators[a]->Add(Value(int32_t{1})));
            continue;
          }
          ASSIGN_OR_RETURN(Value v, Eval(*q.aggregates[a].argument, env));
          RETURN_IF_ERROR(groups[g].aggregators[a]->Add(v));
        }
      }
      // Aggregates over no rows at all still give one row (Count 0), unless rows are grouped.
      const Row nulls(q.input.size(), Value(jet::Null{}));
      if (groups.empty() && q.group_keys.empty()) {
        ASSIGN_OR_RETURN(size_t g, new_group(0));
        (void)g;
      }
      for (const Group& g : groups) {
        std::vector<Value> values;
        for (const auto& a : g.aggregators) {
          ASSIGN_OR_RETURN(Value v, a->Result());
          values.push_back(std::move(v));
        }
        Env env{input.empty() ? &nulls : input[g.first], &values, outer};
        if (q.having) {
          ASSIGN_OR_RETURN(std::optional<bool> truth, Truth(*q.having, env));
          if (!truth || !*truth) continue;
        }
        RETURN_IF_ERROR(finish_row(env));
      }
    } else {
      const bool stop_early = q.top && !q.percent && q.order.empty() && !q.distinct;
      for (const Row* row : input) {
        if (stop_early && out.size() >= *q.top) break;
        Env env{row, nullptr, outer};
        RETURN_IF_ERROR(finish_row(env));
      }
    }
  }

  if (q.distinct) {
    std::unordered_map<std::string, bool> seen;
    std::vector<Row> unique;
    for (Row& row : out) {
      if (seen.emplace(RowKey(row, width), true).second) unique.push_back(std::move(row));
    }
    out = std::move(unique);
  }
  auto compare = [&](const Row& a, const Row& b) {
    for (size_t k = 0; k < q.order.size(); ++k) {
      const int c = OrderValues(a[width + k], b[width + k]);
      if (c != 0) return q.order[k].descending ? -c : c;
    }
    return 0;
  };
  if (!q.order.empty()) {
    std::stable_sort(out.begin(), out.end(), [&](const Row& a, const Row& b) { return compare(a, b) < 0; });
  }
  if (q.top) {
    uint64_t n = *q.top;
    if (q.percent)
      n = static_cast<uint64_t>(std::ceil(static_cast<double>(out.size()) * static_cast<double>(n) / 100.0));
    if (out.size() > n) {
      // Access keeps the rows that tie with the last one on the ORDER BY keys.
      size_t keep = static_cast<size_t>(n);
      while (n > 0 && !q.order.empty() && keep < out.size() && compare(out[keep], out[n - 1]) == 0) ++keep;
      out.resize(keep);
    }
  }
  for (Row& row : out) row.resize(width);
  result.rows = std::move(out);
  for (size_t k = 0; k < width; ++k) {
    if (k < q.typed.size() && q.typed[k]) continue;
    result.columns[k].def = InferColumn(result.columns[k].def.name, result.rows, k);
  }
  return result;
}

QueryEngine::QueryEngine(jet::Database& database) : impl_(std::make_unique<Impl>(database)) {}
QueryEngine::~QueryEngine() = default;

void QueryEngine::Forget() { impl_->tables.clear(); }

Result<StatementResult> QueryEngine::Run(const jet::ViewDefinition& query) {
  impl_->rows.clear();
  auto compiled = impl_->Compile(query, nullptr);
  if (!compiled.ok()) return compiled.status();
  auto relation = impl_->Execute(**compiled, nullptr);
  impl_->rows.clear();
  if (!relation.ok()) return relation.status();
  StatementResult result;
  result.has_rows = true;
  for (RelColumn& c : relation->columns) result.columns.push_back(std::move(c.def));
  result.rows = std::move(relation->rows);
  return result;
}

namespace {

bool HasSubquery(const Node& n) {
  if (n.query) return true;
  return std::any_of(n.args.begin(), n.args.end(), [](const NodePtr& a) { return HasSubquery(*a); });
}

class CompiledCondition : public RowCondition, public RowExpression {
 public:
  CompiledCondition(QueryEngine::Impl& impl, std::vector<RelColumn> columns)
      : impl_(impl), columns_(std::move(columns)) {}
  Result<std::optional<bool>> Test(const Row& row) override {
    Env env{&row, nullptr, nullptr};
    return impl_.Truth(*node_, env);
  }
  Result<Value> Evaluate(const Row& row) override {
    Env env{&row, nullptr, nullptr};
    return impl_.Eval(*node_, env);
  }
  std::vector<RelColumn>& columns() { return columns_; }
  CompiledQuery& query() { return query_; }
  void set(NodePtr node) { node_ = std::move(node); }
  const Node& node() const { return *node_; }

 private:
  QueryEngine::Impl& impl_;
  std::vector<RelColumn> columns_;
  CompiledQuery query_;  // receives the `correlated` marks of names found outside (none here)
  NodePtr node_;
};

}  // namespace

namespace {

// `expression` over the columns of `table` (qualified by its name), evaluated one row at a time.
Result<std::unique_ptr<CompiledCondition>> CompileOverTable(QueryEngine::Impl& impl, const jet::TableDefinition& table,
                                                            const Expression& expression, std::string_view text,
                                                            const char* clause) {
  impl.rows.clear();
  std::vector<RelColumn> columns;
  for (const ColumnDefinition& c : table.columns) columns.push_back({table.name, c});
  auto compiled = std::make_unique<CompiledCondition>(impl, std::move(columns));
  Scope scope;
  scope.columns = &compiled->columns();
  scope.query = &compiled->query();
  scope.clause = clause;
  ASSIGN_OR_RETURN(NodePtr node, impl.CompileExpr(expression, text, scope));
  compiled->set(std::move(node));
  return compiled;
}

}  // namespace

Result<std::unique_ptr<RowCondition>> QueryEngine::CompileCondition(const jet::TableDefinition& table,
                                                                    const Expression& condition, std::string_view text,
                                                                    bool subqueries) {
  auto compiled = CompileOverTable(*impl_, table, condition, text, "WHERE");
  if (!compiled.ok()) return InClause(compiled.status(), "the condition", text);
  if (!subqueries && HasSubquery((*compiled)->node())) {
    return InvalidArgumentError("the condition " + std::string(text) +
                                " reads other rows (a subquery); a rule may not");
  }
  return std::unique_ptr<RowCondition>(std::move(compiled).value());
}

Result<std::unique_ptr<RowExpression>> QueryEngine::CompileExpression(const jet::TableDefinition& table,
                                                                      const Expression& expression,
                                                                      std::string_view text, const char* clause) {
  ASSIGN_OR_RETURN(std::unique_ptr<CompiledCondition> compiled,
                   CompileOverTable(*impl_, table, expression, text, clause));
  return std::unique_ptr<RowExpression>(std::move(compiled));
}

Status QueryEngine::Check(const jet::ViewDefinition& query) { return impl_->Compile(query, nullptr).status(); }

}  // namespace tabulon::jetsql
