// Saved queries: the MSysQueries rows that make up one query, the structured description of a
// SELECT view the SQL front end hands in, and the Access SQL text rebuilt from the rows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"

namespace tabulon::jet {

// MSysQueries.Attribute codes.
enum class QueryAttribute : uint8_t {
  kStart = 0,
  kKind = 1,
  kParameter = 2,
  kOptions = 3,
  kExternalDatabase = 4,
  kInputTable = 5,
  kOutputColumn = 6,
  kJoin = 7,
  kWhere = 8,
  kGroupBy = 9,
  kHaving = 10,
  kOrderBy = 11,
  kEnd = 255,
};

// Query kinds (Flag of the kind row) and the MSysObjects Flags each one carries.
enum class QueryKind : int16_t {
  kSelect = 1,
  kMakeTable = 2,
  kAppend = 3,
  kUpdate = 4,
  kDelete = 5,
  kCrosstab = 6,
  kDataDefinition = 7,
  kPassThrough = 8,
  kUnion = 9,
};
int32_t QueryObjectFlags(QueryKind kind);

// Bits of the options row's Flag.
inline constexpr int16_t kQueryAllFields = 0x01;
inline constexpr int16_t kQueryDistinct = 0x02;
inline constexpr int16_t kQueryOwnerAccess = 0x04;
inline constexpr int16_t kQueryDistinctRow = 0x08;
inline constexpr int16_t kQueryTop = 0x10;
inline constexpr int16_t kQueryPercent = 0x20;

// One MSysQueries row (ObjectId aside).
struct QueryRow {
  uint8_t attribute = 0;
  uint32_t order = 1;  // 1-based counter per attribute, stored as 4 big-endian bytes
  std::optional<std::string> name1;
  std::optional<std::string> name2;
  std::optional<std::string> expression;
  std::optional<int16_t> flag;

  bool operator==(const QueryRow&) const = default;
};

struct SavedQuery {
  std::string name;
  int32_t object_id = 0;
  int32_t object_flags = 0;
  std::vector<QueryRow> rows;  // sorted by (attribute, order)
};

// A SELECT view as the SQL front end describes it. Expressions are Access SQL text
// (e.g. "Customers.Name", "Count([T].[c])"); names are plain (brackets are added as needed).
enum class JoinKind : int16_t { kInner = 1, kLeft = 2, kRight = 3 };
struct ViewDefinition {
  struct Column {
    std::string expression;
    std::string alias;  // empty: none
  };
  struct Table {
    std::string name;  // a query in FROM: its Access SQL text, without the parentheses
    std::string alias;
    bool query = false;  // a query in FROM, kept where a table's name goes (alias required)
  };
  struct Join {
    std::string left;  // table name or alias
    std::string right;
    JoinKind kind = JoinKind::kInner;
    std::string condition;
  };
  struct Order {
    std::string expression;
    bool descending = false;
  };

  std::string name;
  bool select_all = false;  // SELECT * (before any listed columns)
  bool distinct = false;
  bool distinct_row = false;
  std::string top;  // "10"; empty: no TOP
  bool top_percent = false;
  std::vector<Column> columns;
  std::vector<Table> tables;
  std::vector<Join> joins;
  std::string where;
  std::vector<std::string> group_by;
  std::string having;
  std::vector<Order> order_by;

  // A union query (union_first not empty): Access keeps the text of the two operands of the
  // last UNION, the first of which may itself hold UNIONs; columns, tables and the clauses
  // other than ORDER BY stay empty.
  std::string union_first;
  std::string union_second;
  bool union_all = false;  // the last UNION is UNION ALL

  // Tables and queries read inside queries in FROM and union operands (they must exist).
  std::vector<std::string> inner_tables;
};

// Name2 of the two input-table rows that hold the operands of a union query.
inline constexpr const char* kUnionFirstPart = "X7YZ_____1";
inline constexpr const char* kUnionSecondPart = "X7YZ_____2";

// The rows a view is stored as: start, kind, options, tables, columns, joins, WHERE, GROUP BY,
// HAVING, ORDER BY, end; a union: start, kind, options (0x01 UNION ALL, 0x02 UNION), its two
// operands as input-table rows, ORDER BY, end. Fails on a view without columns or tables, a
// join naming a table the view does not list, or a query in FROM without an alias.
Result<std::vector<QueryRow>> EncodeViewRows(const ViewDefinition& view);

// The Access SQL text of a saved query, clauses on their own lines, ending with ";".
// DDL and pass-through queries give their stored text. Fails when the rows do not describe
// a query (no kind row, joins that cannot be nested).
Result<std::string> RenderQuerySql(const std::vector<QueryRow>& rows);

}  // namespace tabulon::jet
