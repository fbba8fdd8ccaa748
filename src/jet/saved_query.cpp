#include "jet/saved_query.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <memory>
#include <string_view>

#include "base/text.h"

namespace tabulon::jet {
namespace {

std::string Lower(std::string_view text) { return AsciiLower(text); }

// Words of Access SQL a bare name must not be, or the text would not read back.
bool IsSqlWord(const std::string& name) {
  static constexpr std::string_view kWords[] = {
      "all",   "and",      "as",          "asc",   "between", "by",         "case",    "constraint", "cross", "default",
      "desc",  "distinct", "distinctrow", "eqv",   "exists",  "false",      "from",    "full",       "group", "having",
      "imp",   "in",       "inner",       "into",  "is",      "join",       "left",    "like",       "mod",   "not",
      "null",  "on",       "or",          "order", "outer",   "parameters", "percent", "pivot",      "right", "select",
      "table", "top",      "transform",   "true",  "union",   "values",     "where",   "with",       "xor"};
  return std::any_of(std::begin(kWords), std::end(kWords),
                     [&](std::string_view word) { return EqualsIgnoreAsciiCase(name, word); });
}

// Names that are not plain identifiers (or are SQL words) get brackets, as Access shows them.
std::string QuoteName(const std::string& name) {
  const bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0])) &&
                     std::none_of(name.begin(), name.end(),
                                  [](char c) {
                                    const auto u = static_cast<unsigned char>(c);
                                    return !(u >= 0x80 || std::isalnum(u) || c == '_');
                                  }) &&
                     !IsSqlWord(name);
  return plain ? name : "[" + name + "]";
}

// A query in FROM is kept as its SQL text where a table's name goes; a name that starts with
// the word SELECT and a blank is read as such a query.
bool IsQueryText(const std::string& name) {
  return name.size() > 7 && EqualsIgnoreAsciiCase(name.substr(0, 6), "select") &&
         std::isspace(static_cast<unsigned char>(name[6]));
}

// A FROM-clause item: one table or a join of two items.
struct Source {
  std::vector<std::string> keys;  // lower-case names/aliases of the tables inside
  std::string text;
  bool join = false;
  // Joins only.
  std::shared_ptr<Source> left;
  std::shared_ptr<Source> right;
  int16_t kind = 1;
  std::vector<std::string> conditions;

  bool Contains(const std::string& key) const { return std::find(keys.begin(), keys.end(), key) != keys.end(); }
  std::string Render() const {
    if (!join) return text;
    auto operand = [](const Source& s) { return s.join ? "(" + s.Render() + ")" : s.Render(); };
    const char* word = kind == 2 ? " LEFT JOIN " : kind == 3 ? " RIGHT JOIN " : " INNER JOIN ";
    std::string on;
    if (conditions.size() == 1) {
      on = conditions[0];
    } else {
      // Conditions of one join are stored one row each; the last stored is shown first.
      for (auto it = conditions.rbegin(); it != conditions.rend(); ++it) {
        if (!on.empty()) on += " AND ";
        on += "(" + *it + ")";
      }
    }
    return operand(*left) + word + operand(*right) + " ON " + on;
  }
};

Result<std::string> RenderFrom(const std::vector<const QueryRow*>& tables, const std::vector<const QueryRow*>& joins) {
  std::vector<std::shared_ptr<Source>> sources;
  for (const QueryRow* t : tables) {
    auto s = std::make_shared<Source>();
    if (t->expression) s->text = QuoteName(*t->expression) + ".";
    s->text += IsQueryText(t->name1.value_or("")) ? "(" + *t->name1 + ")" : QuoteName(t->name1.value_or(""));
    if (t->name2) s->text += " AS " + QuoteName(*t->name2);
    s->keys.push_back(Lower(t->name2 ? *t->name2 : t->name1.value_or("")));
    sources.push_back(std::move(s));
  }
  for (const QueryRow* j : joins) {
    const std::string from = Lower(j->name1.value_or(""));
    const std::string to = Lower(j->name2.value_or(""));
    const int16_t kind = j->flag.value_or(1);
    auto find = [&](const std::string& key) {
      return std::find_if(sources.begin(), sources.end(), [&](const auto& s) { return s->Contains(key); });
    };
    auto left_it = find(from);
    auto right_it = find(to);
    if (left_it != sources.end() && left_it == right_it) {
      // A further condition of a join already built.
      Source& s = **left_it;
      if (!s.join || s.kind != kind) {
        return CorruptError("query joins '" + *j->name1 + "' and '" + *j->name2 + "' in two different ways");
      }
      s.conditions.push_back(j->expression.value_or(""));
      continue;
    }
    auto take = [&](auto it, const std::optional<std::string>& name) {
      if (it == sources.end()) {
        auto s = std::make_shared<Source>();
        s->text = QuoteName(name.value_or(""));
        s->keys.push_back(Lower(name.value_or("")));
        return s;
      }
      return *it;
    };
    auto join = std::make_shared<Source>();
    join->join = true;
    join->left = take(left_it, j->name1);
    join->right = take(right_it, j->name2);
    join->kind = kind;
    join->conditions.push_back(j->expression.value_or(""));
    join->keys = join->left->keys;
    join->keys.insert(join->keys.end(), join->right->keys.begin(), join->right->keys.end());
    std::erase_if(sources, [&](const auto& s) { return s == join->left || s == join->right; });
    sources.push_back(std::move(join));
  }
  std::string out;
  for (const auto& s : sources) {
    if (!out.empty()) out += ", ";
    out += s->Render();
  }
  return out;
}

std::string List(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) {
    if (!out.empty()) out += ", ";
    out += item;
  }
  return out;
}

std::string TrimEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

const char* ParameterTypeName(int16_t code) {
  switch (code) {
    case 1: return "Bit";
    case 2: return "Byte";
    case 3: return "Short";
    case 4: return "Long";
    case 5: return "Currency";
    case 6: return "IEEESingle";
    case 7: return "IEEEDouble";
    case 8: return "DateTime";
    case 9: return "Binary";
    case 10: return "Text";
    case 11: return "LongBinary";
    case 12: return "Memo";
    case 15: return "Guid";
    default: return "Value";
  }
}

}  // namespace

int32_t QueryObjectFlags(QueryKind kind) {
  switch (kind) {
    case QueryKind::kSelect: return 0;
    case QueryKind::kCrosstab: return 16;
    case QueryKind::kDelete: return 32;
    case QueryKind::kUpdate: return 48;
    case QueryKind::kAppend: return 64;
    case QueryKind::kMakeTable: return 80;
    case QueryKind::kDataDefinition: return 96;
    case QueryKind::kPassThrough: return 112;
    case QueryKind::kUnion: return 128;
  }
  return 0;
}

Result<std::vector<QueryRow>> EncodeViewRows(const ViewDefinition& view) {
  const bool is_union = !view.union_first.empty();
  if (is_union && view.union_second.empty()) {
    return InvalidArgumentError("view '" + view.name + "': a UNION needs two operands");
  }
  if (!is_union && view.columns.empty() && !view.select_all) {
    return InvalidArgumentError("view '" + view.name + "' selects no columns");
  }
  if (!is_union && view.tables.empty()) return InvalidArgumentError("view '" + view.name + "' names no table");
  std::vector<QueryRow> rows;
  uint32_t order = 0;
  uint8_t last = 0;
  auto add = [&](QueryAttribute attribute) -> QueryRow& {
    const auto a = static_cast<uint8_t>(attribute);
    order = a == last ? order + 1 : 1;
    last = a;
    QueryRow& row = rows.emplace_back();
    row.attribute = a;
    row.order = order;
    return row;
  };
  auto optional = [](const std::string& text) -> std::optional<std::string> {
    if (text.empty()) return std::nullopt;
    return text;
  };
  auto add_order = [&] {
    for (const ViewDefinition::Order& o : view.order_by) {
      QueryRow& row = add(QueryAttribute::kOrderBy);
      row.expression = o.expression;
      if (o.descending) row.name1 = "D";
    }
    add(QueryAttribute::kEnd);
  };
  add(QueryAttribute::kStart).flag = 0;
  if (is_union) {
    add(QueryAttribute::kKind).flag = static_cast<int16_t>(QueryKind::kUnion);
    // Access writes 0x01 for UNION ALL; 0x02 (DISTINCT) marks a plain UNION to every reader.
    add(QueryAttribute::kOptions).flag = view.union_all ? kQueryAllFields : kQueryDistinct;
    QueryRow& first = add(QueryAttribute::kInputTable);
    first.name2 = kUnionFirstPart;
    first.expression = view.union_first;
    QueryRow& second = add(QueryAttribute::kInputTable);
    second.name2 = kUnionSecondPart;
    second.expression = view.union_second;
    add_order();
    return rows;
  }
  add(QueryAttribute::kKind).flag = static_cast<int16_t>(QueryKind::kSelect);
  QueryRow& options = add(QueryAttribute::kOptions);
  int16_t bits = 0;
  if (view.select_all) bits |= kQueryAllFields;
  if (view.distinct) bits |= kQueryDistinct;
  if (view.distinct_row) bits |= kQueryDistinctRow;
  if (!view.top.empty()) {
    if (!std::all_of(view.top.begin(), view.top.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return InvalidArgumentError("view '" + view.name + "': TOP '" + view.top + "' is not a whole number");
    }
    bits |= kQueryTop;
    if (view.top_percent) bits |= kQueryPercent;
    options.name1 = view.top;
  }
  options.flag = bits;

  std::vector<std::string> keys;
  for (const ViewDefinition::Table& t : view.tables) {
    if (t.name.empty()) return InvalidArgumentError("view '" + view.name + "' has an unnamed table");
    if (t.query && t.alias.empty()) {
      return InvalidArgumentError("view '" + view.name + "': a query in FROM needs an alias (AS name)");
    }
    if (const auto chars = Utf8ToUtf16(t.name); t.query && (!chars.ok() || chars->size() > 255)) {
      return InvalidArgumentError("view '" + view.name + "': the query in FROM named '" + t.alias +
                                  "' is longer than Access keeps (255 characters); save it as a view of its own");
    }
    QueryRow& row = add(QueryAttribute::kInputTable);
    row.name1 = t.name;
    row.name2 = optional(t.alias);
    keys.push_back(Lower(t.alias.empty() ? t.name : t.alias));
  }
  for (const ViewDefinition::Column& c : view.columns) {
    if (c.expression.empty()) {
      return InvalidArgumentError("view '" + view.name + "' has an empty output expression");
    }
    QueryRow& row = add(QueryAttribute::kOutputColumn);
    row.expression = c.expression;
    row.name1 = optional(c.alias);
    row.flag = 0;
  }
  for (const ViewDefinition::Join& j : view.joins) {
    for (const std::string* side : {&j.left, &j.right}) {
      if (std::find(keys.begin(), keys.end(), Lower(*side)) == keys.end()) {
        return InvalidArgumentError("view '" + view.name + "' joins '" + *side + "', which is not one of its tables");
      }
    }
    if (j.condition.empty()) {
      return InvalidArgumentError("view '" + view.name + "': the join of '" + j.left + "' and '" + j.right +
                                  "' has no condition");
    }
    QueryRow& row = add(QueryAttribute::kJoin);
    row.name1 = j.left;
    row.name2 = j.right;
    row.expression = j.condition;
    row.flag = static_cast<int16_t>(j.kind);
  }
  if (!view.where.empty()) add(QueryAttribute::kWhere).expression = view.where;
  for (const std::string& g : view.group_by) {
    QueryRow& row = add(QueryAttribute::kGroupBy);
    row.expression = g;
    row.flag = 0;
  }
  if (!view.having.empty()) add(QueryAttribute::kHaving).expression = view.having;
  add_order();
  return rows;
}

Result<std::string> RenderQuerySql(const std::vector<QueryRow>& stored) {
  std::vector<QueryRow> rows = stored;
  std::stable_sort(rows.begin(), rows.end(), [](const QueryRow& a, const QueryRow& b) {
    return a.attribute != b.attribute ? a.attribute < b.attribute : a.order < b.order;
  });
  auto all = [&](QueryAttribute a) {
    std::vector<const QueryRow*> out;
    for (const QueryRow& r : rows) {
      if (r.attribute == static_cast<uint8_t>(a)) out.push_back(&r);
    }
    return out;
  };
  const auto kind_rows = all(QueryAttribute::kKind);
  if (kind_rows.empty() || !kind_rows[0]->flag) return CorruptError("query has no kind row");
  const QueryRow& kind_row = *kind_rows[0];
  const auto kind = static_cast<QueryKind>(*kind_row.flag);
  if (kind == QueryKind::kDataDefinition || kind == QueryKind::kPassThrough) {
    // Access stores this text with a terminating NUL, which is no part of the SQL.
    std::string text = kind_row.expression.value_or("");
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }
  const auto option_rows = all(QueryAttribute::kOptions);
  const int16_t options = option_rows.empty() ? 0 : option_rows[0]->flag.value_or(0);

  std::string sql;
  std::vector<std::string> parameters;
  for (const QueryRow* p : all(QueryAttribute::kParameter)) {
    parameters.push_back(p->name1.value_or("") + " " + ParameterTypeName(p->flag.value_or(0)));
  }
  if (!parameters.empty()) sql += "PARAMETERS " + List(parameters) + ";\n";

  if (kind == QueryKind::kUnion) {
    std::string out;
    for (const QueryRow* part : all(QueryAttribute::kInputTable)) {
      if (!out.empty()) out += (options & kQueryAllFields) ? "\nUNION ALL " : "\nUNION ";
      // Access keeps each part as typed, with CR LF line ends; lines end in LF here.
      std::string text = TrimEnd(part->expression.value_or(""));
      std::erase(text, '\r');
      out += text;
    }
    for (const QueryRow* o : all(QueryAttribute::kOrderBy)) {
      out += (o->order == 1 ? "\nORDER BY " : ", ") + o->expression.value_or("");
      if (o->name1 == "D") out += " DESC";
    }
    return sql + out + ";";
  }

  // Output columns by role.
  std::vector<std::string> select;
  std::vector<std::string> transform;
  std::string pivot;
  std::vector<std::string> targets;  // append: target columns; update: SET items
  for (const QueryRow* c : all(QueryAttribute::kOutputColumn)) {
    std::string item = c->expression.value_or("");
    if (kind == QueryKind::kUpdate) {
      select.push_back(c->name2.value_or("") + " = " + item);
      continue;
    }
    if (c->name1) item += " AS " + QuoteName(*c->name1);
    if (kind == QueryKind::kCrosstab && c->flag.value_or(0) == 0) {
      transform.push_back(item);
    } else if (kind == QueryKind::kCrosstab && c->flag.value_or(0) == 1) {
      pivot = item;
    } else {
      select.push_back(item);
      if (kind == QueryKind::kAppend) targets.push_back(c->name2.value_or(""));
    }
  }
  if (options & kQueryAllFields) select.insert(select.begin(), "*");
  ASSIGN_OR_RETURN(std::string from, RenderFrom(all(QueryAttribute::kInputTable), all(QueryAttribute::kJoin)));
  const std::string target = kind_row.name1 ? QuoteName(*kind_row.name1) : "";

  std::string head;
  if (options & kQueryDistinct) head += "DISTINCT ";
  if (options & kQueryDistinctRow) head += "DISTINCTROW ";
  if (options & kQueryTop) {
    head += "TOP " + option_rows[0]->name1.value_or("") + ((options & kQueryPercent) ? " PERCENT " : " ");
  }
  switch (kind) {
    case QueryKind::kUpdate: sql += "UPDATE " + from + "\nSET " + List(select); break;
    case QueryKind::kDelete: sql += "DELETE " + head + List(select) + "\nFROM " + from; break;
    case QueryKind::kAppend:
      sql += "INSERT INTO " + target + " (" + List(targets) + ")\nSELECT " + head + List(select) + "\nFROM " + from;
      break;
    case QueryKind::kCrosstab:
      sql += "TRANSFORM " + List(transform) + "\nSELECT " + head + List(select) + "\nFROM " + from;
      break;
    case QueryKind::kMakeTable: sql += "SELECT " + head + List(select) + " INTO " + target + "\nFROM " + from; break;
    default:
      sql += "SELECT " + head + List(select);
      if (!from.empty()) sql += "\nFROM " + from;
      break;
  }
  for (const QueryRow* w : all(QueryAttribute::kWhere)) sql += "\nWHERE " + w->expression.value_or("");
  std::vector<std::string> groups;
  for (const QueryRow* g : all(QueryAttribute::kGroupBy)) {
    // A crosstab's column heading is grouped too but shown only after PIVOT.
    if (kind == QueryKind::kCrosstab && g->flag.value_or(0) == 1) continue;
    groups.push_back(g->expression.value_or(""));
  }
  if (!groups.empty()) sql += "\nGROUP BY " + List(groups);
  for (const QueryRow* h : all(QueryAttribute::kHaving)) sql += "\nHAVING " + h->expression.value_or("");
  std::vector<std::string> order;
  for (const QueryRow* o : all(QueryAttribute::kOrderBy)) {
    order.push_back(o->expression.value_or("") + (o->name1 == "D" ? " DESC" : ""));
  }
  if (!order.empty()) sql += "\nORDER BY " + List(order);
  if (kind == QueryKind::kCrosstab && !pivot.empty()) sql += "\nPIVOT " + pivot;
  if (options & kQueryOwnerAccess) sql += "\nWITH OWNERACCESS OPTION";
  return sql + ";";
}

}  // namespace tabulon::jet
