// Saved queries in the catalog: reading them back, storing SELECT views and queries given as
// rows, removing them.
#include <algorithm>
#include <map>

#include "base/text.h"
#include "jet/catalog_writer.h"
#include "jet/database.h"
#include "jet/write_state.h"

namespace tabulon::jet {
namespace {

constexpr int16_t kQueryObjectType = 5;

// Column positions of MSysQueries, by name.
struct QueryColumns {
  int object_id = -1, attribute = -1, order = -1, name1 = -1, name2 = -1, expression = -1, flag = -1;

  static Result<QueryColumns> Of(const TableDefinition& table) {
    QueryColumns c;
    for (size_t i = 0; i < table.columns.size(); ++i) {
      const std::string& n = table.columns[i].name;
      const int at = static_cast<int>(i);
      if (n == "ObjectId") c.object_id = at;
      if (n == "Attribute") c.attribute = at;
      if (n == "Order") c.order = at;
      if (n == "Name1") c.name1 = at;
      if (n == "Name2") c.name2 = at;
      if (n == "Expression") c.expression = at;
      if (n == "Flag") c.flag = at;
    }
    if (c.object_id < 0 || c.attribute < 0 || c.order < 0 || c.name1 < 0 || c.name2 < 0 || c.expression < 0 ||
        c.flag < 0) {
      return CorruptError("MSysQueries lacks one of its columns");
    }
    return c;
  }

  QueryRow Decode(const Row& row) const {
    QueryRow q;
    auto text = [&](int at) -> std::optional<std::string> {
      if (const auto* s = std::get_if<std::string>(&row[static_cast<size_t>(at)])) return *s;
      return std::nullopt;
    };
    if (const auto* v = std::get_if<uint8_t>(&row[static_cast<size_t>(attribute)])) q.attribute = *v;
    q.order = 0;
    if (const auto* b = std::get_if<Bytes>(&row[static_cast<size_t>(order)])) {
      for (char c : b->data) q.order = (q.order << 8) | static_cast<uint8_t>(c);
    }
    q.name1 = text(name1);
    q.name2 = text(name2);
    q.expression = text(expression);
    if (const auto* v = std::get_if<int16_t>(&row[static_cast<size_t>(flag)])) q.flag = *v;
    return q;
  }

  Row Encode(const TableDefinition& table, int32_t id, const QueryRow& q) const {
    Row row(table.columns.size(), Null{});
    row[static_cast<size_t>(object_id)] = id;
    row[static_cast<size_t>(attribute)] = q.attribute;
    std::string order_bytes(4, '\0');
    for (int i = 0; i < 4; ++i) order_bytes[static_cast<size_t>(i)] = static_cast<char>(q.order >> (24 - 8 * i));
    row[static_cast<size_t>(order)] = Bytes{order_bytes};
    if (q.name1) row[static_cast<size_t>(name1)] = *q.name1;
    if (q.name2) row[static_cast<size_t>(name2)] = *q.name2;
    if (q.expression) row[static_cast<size_t>(expression)] = *q.expression;
    if (q.flag) row[static_cast<size_t>(flag)] = *q.flag;
    return row;
  }
};

bool IsQuery(const CatalogEntry& e) { return (e.type & 0x7F) == kQueryObjectType && e.parent_id == kTablesContainerId; }

Status CheckQueryName(const std::string& name, const char* what) {
  const auto utf16 = Utf8ToUtf16(name);
  if (!utf16.ok() || utf16->empty() || utf16->size() > 64) {
    return InvalidArgumentError(std::string(what) + " name '" + name + "' must have 1 to 64 characters");
  }
  return Status::Ok();
}

// Longest Name1 / Name2 (text columns) and Expression (a memo) of MSysQueries, in characters.
constexpr size_t kMaxQueryName = 255;
constexpr size_t kMaxQueryExpression = 65535;

// The kind of a query given as rows, or why the rows cannot be stored: one start, one kind row
// of a known kind and one end; known attributes; texts that fit their columns.
Result<QueryKind> CheckQueryRows(const SavedQuery& query) {
  auto fail = [&](size_t at, const std::string& why) {
    return InvalidArgumentError("query '" + query.name + "', row " + std::to_string(at + 1) + ": " + why);
  };
  int starts = 0, ends = 0;
  std::optional<QueryKind> kind;
  for (size_t i = 0; i < query.rows.size(); ++i) {
    const QueryRow& row = query.rows[i];
    const uint8_t a = row.attribute;
    if (a > static_cast<uint8_t>(QueryAttribute::kOrderBy) && a != static_cast<uint8_t>(QueryAttribute::kEnd)) {
      return fail(i, "unknown attribute " + std::to_string(a));
    }
    if (a == static_cast<uint8_t>(QueryAttribute::kStart)) ++starts;
    if (a == static_cast<uint8_t>(QueryAttribute::kEnd)) ++ends;
    if (a == static_cast<uint8_t>(QueryAttribute::kKind)) {
      if (kind) return fail(i, "a second kind row");
      const int16_t flag = row.flag.value_or(0);
      if (flag < static_cast<int16_t>(QueryKind::kSelect) || flag > static_cast<int16_t>(QueryKind::kUnion)) {
        return fail(i, "unknown query kind " + (row.flag ? std::to_string(flag) : std::string("(none)")));
      }
      kind = static_cast<QueryKind>(flag);
    }
    for (const auto* text : {&row.name1, &row.name2, &row.expression}) {
      if (!*text) continue;
      const auto utf16 = Utf8ToUtf16(**text);
      if (!utf16.ok()) return fail(i, "text that is not UTF-8");
      const size_t limit = text == &row.expression ? kMaxQueryExpression : kMaxQueryName;
      if (utf16->size() > limit) {
        return fail(i, "a text of more than " + std::to_string(limit) + " characters");
      }
    }
  }
  if (starts != 1 || ends != 1 || !kind) {
    return InvalidArgumentError("query '" + query.name + "' needs one start row, one kind row and one end row");
  }
  return *kind;
}

Status CheckNameFree(CatalogWriter& w, const std::string& name) {
  if (const CatalogEntry* clash = w.FindObject(name, kTablesContainerId)) {
    return AlreadyExistsError("an object named '" + clash->name + "' already exists");
  }
  return Status::Ok();
}

// Adds the catalog object of a saved query of `kind` and its MSysQueries rows.
Status StoreQuery(CatalogWriter& w, const std::string& name, QueryKind kind, const std::vector<QueryRow>& rows) {
  CatalogEntry entry;
  entry.name = name;
  entry.id = NextSyntheticObjectId(w.Objects());
  entry.parent_id = kTablesContainerId;
  entry.type = kQueryObjectType;
  entry.flags = QueryObjectFlags(kind);
  ASSIGN_OR_RETURN(CatalogEntry added, w.AddObject(entry, {}));
  ASSIGN_OR_RETURN(const TableDefinition* table, w.Table("MSysQueries"));
  ASSIGN_OR_RETURN(QueryColumns columns, QueryColumns::Of(*table));
  for (const QueryRow& row : rows) {
    RETURN_IF_ERROR(w.InsertRow("MSysQueries", columns.Encode(*table, added.id, row)).status());
  }
  return RebuildSystemTableIndexes(w, "MSysQueries");
}

}  // namespace

Result<std::vector<SavedQuery>> Database::ListQueries() {
  ASSIGN_OR_RETURN(std::vector<CatalogEntry> objects, ListObjects());
  std::vector<SavedQuery> queries;
  std::map<int32_t, size_t> by_id;
  for (const CatalogEntry& e : objects) {
    if (!IsQuery(e)) continue;
    by_id[e.id] = queries.size();
    queries.push_back({e.name, e.id, e.flags, {}});
  }
  if (queries.empty()) return queries;
  ASSIGN_OR_RETURN(TableDefinition table, GetTable("MSysQueries"));
  ASSIGN_OR_RETURN(QueryColumns columns, QueryColumns::Of(table));
  RETURN_IF_ERROR(ScanRows(table, [&](RowPointer, const Row& row) {
    const auto* id = std::get_if<int32_t>(&row[static_cast<size_t>(columns.object_id)]);
    if (!id) return Status::Ok();
    if (auto it = by_id.find(*id); it != by_id.end()) {
      queries[it->second].rows.push_back(columns.Decode(row));
    }
    return Status::Ok();
  }));
  for (SavedQuery& q : queries) {
    std::stable_sort(q.rows.begin(), q.rows.end(), [](const QueryRow& a, const QueryRow& b) {
      return a.attribute != b.attribute ? a.attribute < b.attribute : a.order < b.order;
    });
  }
  std::sort(queries.begin(), queries.end(), [](const SavedQuery& a, const SavedQuery& b) { return a.name < b.name; });
  return queries;
}

Result<std::string> Database::GetQuerySql(std::string_view name) {
  ASSIGN_OR_RETURN(std::vector<SavedQuery> queries, ListQueries());
  for (const SavedQuery& q : queries) {
    if (EqualsIgnoreAsciiCase(q.name, name)) {
      auto sql = RenderQuerySql(q.rows);
      if (!sql.ok()) return sql.status().WithContext("query '" + q.name + "'");
      return sql;
    }
  }
  return NotFoundError("no query named '" + std::string(name) + "'");
}

Status Database::CreateView(const ViewDefinition& view) {
  RETURN_IF_ERROR(CheckQueryName(view.name, "view"));
  ASSIGN_OR_RETURN(std::vector<QueryRow> rows, EncodeViewRows(view));
  return RunCatalogWrite([&](CatalogWriter& w) -> Status {
    RETURN_IF_ERROR(CheckNameFree(w, view.name));
    std::vector<std::string> reads = view.inner_tables;
    for (const ViewDefinition::Table& t : view.tables) {
      if (!t.query) reads.push_back(t.name);
    }
    for (const std::string& name : reads) {
      if (!w.FindObject(name, kTablesContainerId)) {
        return NotFoundError("view '" + view.name + "' reads '" + name + "', which is neither a table nor a query");
      }
    }
    return StoreQuery(w, view.name, view.union_first.empty() ? QueryKind::kSelect : QueryKind::kUnion, rows);
  });
}

Status Database::CreateQuery(const SavedQuery& query) {
  RETURN_IF_ERROR(CheckQueryName(query.name, "query"));
  ASSIGN_OR_RETURN(QueryKind kind, CheckQueryRows(query));
  return RunCatalogWrite([&](CatalogWriter& w) -> Status {
    RETURN_IF_ERROR(CheckNameFree(w, query.name));
    return StoreQuery(w, query.name, kind, query.rows);
  });
}

Status Database::DropQuery(std::string_view name) {
  return RunCatalogWrite([&](CatalogWriter& w) -> Status {
    const CatalogEntry* found = w.FindObject(name, kTablesContainerId);
    if (!found || !IsQuery(*found)) {
      return NotFoundError("no query named '" + std::string(name) + "'");
    }
    const CatalogEntry entry = *found;
    ASSIGN_OR_RETURN(const TableDefinition* table, w.Table("MSysQueries"));
    ASSIGN_OR_RETURN(QueryColumns columns, QueryColumns::Of(*table));
    std::vector<RowPointer> doomed;
    RETURN_IF_ERROR(w.ScanRows("MSysQueries", [&](RowPointer where, const Row& row) {
      const auto* id = std::get_if<int32_t>(&row[static_cast<size_t>(columns.object_id)]);
      if (id && *id == entry.id) doomed.push_back(where);
      return Status::Ok();
    }));
    for (RowPointer where : doomed) RETURN_IF_ERROR(w.DeleteRow("MSysQueries", where));
    RETURN_IF_ERROR(w.RemoveObject(entry));
    return RebuildSystemTableIndexes(w, "MSysQueries");
  });
}

}  // namespace tabulon::jet
