// The SELECT of a source view (Transact-SQL or SQLite), as the parser reads it and the
// translator turns it into Access SQL. One tree for both dialects: where they differ only in
// spelling (`||` and `+`, `ifnull` and `isnull`) the tree keeps what was written and the
// translator decides; what neither Access nor this tree can hold is refused by the parser with
// its position.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tabulon::viewsql {

enum class Dialect { kTransactSql, kSqlite };

// Where something was written in the view's text, from 1.
struct Position {
  int line = 1;
  int column = 1;
};

struct Select;
struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
  enum class Kind {
    kLiteral,   // literal_kind, text
    kColumn,    // name: [schema.]table.column parts as written (unquoted), at least the column
    kStar,      // * or t.* (name: the qualifier's parts, empty for a bare *)
    kVariable,  // @name (T-SQL): never in a view; kept for a clear refusal
    kUnary,     // op args[0]; op: "-", "+", "not", "~"
    kBinary,    // args[0] op args[1]; op in lower case: + - * / % = <> != < > <= >= and or || & | ^
    kFunction,  // function(args); function in lower case as written; distinct, star_argument
    kCase,      // CASE [operand] WHEN a THEN b ... [ELSE c] END: args = [operand] (when, then)... [else]
    kCast,      // CAST(args[0] AS type) / CONVERT(type, args[0][, args[1] = style]); type in `type`
    kIsNull,    // args[0] IS [NOT] NULL
    kBetween,   // args[0] [NOT] BETWEEN args[1] AND args[2]
    kIn,        // args[0] [NOT] IN (args[1..]) or IN (subquery)
    kLike,      // args[0] [NOT] LIKE args[1] [ESCAPE args[2]]
    kExists,    // [NOT] EXISTS (subquery)
    kSubquery,  // (subquery) used as a value
  };
  enum class LiteralKind { kNull, kString, kNationalString, kNumber, kHex, kBoolean };

  Kind kind = Kind::kLiteral;
  Position at;
  LiteralKind literal_kind = LiteralKind::kNull;
  std::string text;               // kLiteral: string value unquoted, number as written, hex digits, "1"/"0"
  std::vector<std::string> name;  // kColumn, kStar, kVariable
  std::string op;                 // kUnary, kBinary
  std::string function;           // kFunction
  std::string type;               // kCast: the target type as written, lower case ("varchar(10)")
  bool distinct = false;          // kFunction: COUNT(DISTINCT x)
  bool star_argument = false;     // kFunction: COUNT(*)
  bool negated = false;           // NOT IN, NOT LIKE, NOT BETWEEN, IS NOT NULL, NOT EXISTS
  bool has_operand = false;       // kCase: simple CASE
  bool has_else = false;          // kCase
  bool parenthesized = false;     // written in parentheses (kept when printing)
  std::vector<ExprPtr> args;
  std::unique_ptr<Select> subquery;  // kIn over a subquery, kExists, kSubquery
};

struct TableRef;
using TableRefPtr = std::unique_ptr<TableRef>;

struct TableRef {
  enum class Kind { kTable, kDerived, kJoin };
  enum class JoinKind { kInner, kLeft, kRight, kFull, kCross };

  Kind kind = Kind::kTable;
  Position at;
  std::vector<std::string> name;     // kTable: [database.][schema.]table parts as written
  std::string alias;                 // kTable, kDerived
  std::unique_ptr<Select> derived;   // kDerived
  JoinKind join = JoinKind::kInner;  // kJoin
  TableRefPtr left, right;           // kJoin
  ExprPtr on;                        // kJoin (none for CROSS)
};

struct SelectItem {
  ExprPtr expr;
  std::string alias;  // "" when none
};

struct OrderItem {
  ExprPtr expr;  // a column, an expression, an alias or a position (a number literal)
  bool descending = false;
};

// One SELECT, with the UNION [ALL] selects that follow it (ORDER BY belongs to the whole).
struct Select {
  Position at;
  bool distinct = false;
  ExprPtr top;  // TOP n / LIMIT n
  bool top_percent = false;
  std::vector<SelectItem> items;
  std::vector<TableRefPtr> from;  // comma-separated sources
  ExprPtr where;
  std::vector<ExprPtr> group_by;
  ExprPtr having;
  struct UnionPart {
    bool all = false;
    std::unique_ptr<Select> select;
  };
  std::vector<UnionPart> unions;
  std::vector<OrderItem> order_by;
};

// CREATE VIEW [schema.]name [(columns)] AS select.
struct ViewDefinition {
  Position at;
  std::vector<std::string> name;  // parts as written
  std::vector<std::string> columns;
  std::unique_ptr<Select> select;
};

}  // namespace tabulon::viewsql
